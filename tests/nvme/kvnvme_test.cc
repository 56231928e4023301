#include <gtest/gtest.h>

#include "nvme/nvme_pages.h"
#include "sentrel/nvme.h"
#include "sentrel/smart_device.h"

namespace sentrel {
namespace {

using testing::ErrorLogPage;
using testing::FirmwareLogPage;
using testing::IdentifyPage;
using testing::nvmeBlock;
using testing::nvmeDisk;
using testing::nvmeEntry;
using testing::nvmeProperties;
using testing::sampleIdentify;
using testing::TestMachine;

constexpr const char* kUuid = "6C2A1F3E-0B4D-4E8A-9F21-3D5C7A9B1E04";

std::vector<std::string> callNames(const sim::Machine& m) {
  std::vector<std::string> out;
  for (const Dict& d : m.journal()) out.push_back(d.stringOr("call"));
  return out;
}

std::vector<std::string> lines(const sim::Machine& m, std::string_view call) {
  std::vector<std::string> out;
  for (const Dict& d : m.calls(call)) out.push_back(d.stringOr("line"));
  return out;
}

std::uint32_t serviceOf(const std::string& bsd) {
  auto record = KVSMARTDevice::settingsForBSDName(bsd);
  EXPECT_TRUE(record) << bsd;
  return record ? static_cast<std::uint32_t>(*record->find("registryService")->ifUInt()) : 0;
}

TEST(ReadNVMeForServiceTest, ReadsIdentifyAndThreeLogPagesThenGivesThePlugInUp) {
  TestMachine m{nvmeDisk("disk5", kUuid)};
  std::uint32_t service = serviceOf("disk5");
  m->clearJournal();
  ASSERT_TRUE(kvNVMe().readNVMeForService(service));
  EXPECT_EQ(
      callNames(m.machine()),
      (std::vector<std::string>{"nvme.createPlugIn", "nvme.queryInterface", "nvme.readIdentifyData",
                                "nvme.readLogPage", "nvme.readLogPage", "nvme.readLogPage",
                                "nvme.release", "nvme.destroyPlugIn"}));
  EXPECT_EQ(m->calls("nvme.createPlugIn")[0].getInt("service"), service);
  EXPECT_EQ(m->calls("nvme.readIdentifyData")[0].getInt("nsid"), 0);
  auto pages = m->calls("nvme.readLogPage");
  std::vector<std::pair<std::int64_t, std::int64_t>> asked;
  for (const Dict& d : pages) asked.emplace_back(*d.getInt("logId"), *d.getInt("dwordsMinusOne"));
  EXPECT_EQ(asked,
            (std::vector<std::pair<std::int64_t, std::int64_t>>{{2, 127}, {1, 1023}, {3, 127}}));
}

TEST(ReadNVMeForServiceTest, NothingWithoutAPlugInOrItsInterface) {
  struct Case {
    const char* name;
    const char* openStatus;
    const char* queryStatus;
    std::vector<std::string> calls;
    std::vector<std::string> log;
  } cases[] = {
      {"plug-in refused",
       "0xE00002C7",
       "0",
       {"nvme.createPlugIn", "nslog"},
       {"Lost connection to plugin"}},
      {"interface refused",
       "0",
       "0xE00002BC",
       {"nvme.createPlugIn", "nvme.queryInterface", "nvme.destroyPlugIn"},
       {}},
  };
  for (const Case& c : cases) {
    Dict disk = nvmeDisk("disk5", kUuid);
    nvmeBlock(disk).set("openStatus", c.openStatus);
    nvmeBlock(disk).set("queryStatus", c.queryStatus);
    TestMachine m{disk};
    std::uint32_t service = serviceOf("disk5");
    m->clearJournal();
    EXPECT_FALSE(kvNVMe().readNVMeForService(service)) << c.name;
    EXPECT_EQ(callNames(m.machine()), c.calls) << c.name;
    EXPECT_EQ(lines(m.machine(), "nslog"), c.log) << c.name;
  }
}

TEST(ReadNVMeForServiceTest, HandleZeroAsksNothingAndLogsNothing) {
  TestMachine m{nvmeDisk("disk5", kUuid)};
  m->clearJournal();
  EXPECT_FALSE(kvNVMe().readNVMeForService(0));
  EXPECT_TRUE(m->journal().empty());
}

TEST(ReadNVMeForServiceTest, ReadingHoldsEveryGroup) {
  Dict disk = nvmeDisk("disk5", kUuid);
  ErrorLogPage errors;
  errors.u64(0, 2).u16(10, 0x18).u64(64 * 5, 1);
  FirmwareLogPage firmware;
  firmware.u8(0, 0x02).text(8, "1B2QEXM7", 8).text(16, "2B2QEXM7", 8);
  IdentifyPage id = sampleIdentify();
  id.u8(263, 4);
  nvmeBlock(disk).set("identify", id.sector());
  nvmeBlock(disk).set("errorLog", errors.sector());
  nvmeBlock(disk).set("firmwareLog", firmware.sector());
  nvmeBlock(disk).set("version", 1);
  nvmeBlock(disk).set("revision", 3);
  TestMachine m{disk};
  auto reading = kvNVMe().readNVMeForService(serviceOf("disk5"));
  ASSERT_TRUE(reading);

  EXPECT_EQ(reading->size(), 18u + 37u + 1u + 1u + 4u);
  EXPECT_EQ(reading->entries().front().key, "nvmeIFRev");
  EXPECT_EQ(reading->stringOr("nvmeIFRev"), "1.3");
  EXPECT_EQ(reading->stringOr("mn"), "Samsung SSD 970 EVO Plus 1TB");
  EXPECT_EQ(reading->stringOr("attributeHealth"), "Passed");
  EXPECT_EQ(*reading->find("percentRemaining"), Value(97u));
  EXPECT_EQ(*reading->find("temperature"), Value(310u));
  EXPECT_EQ(*reading->find("tempoC"), Value(36.85f));
  EXPECT_EQ(*reading->find("powerCyclesLo"), Value(1214u));
  EXPECT_EQ(*reading->find("totalBytesWritten"), Value(std::uint64_t{61842317} * 512000));

  const StyledText* badge = reading->find("extendedHealth")->ifStyledText();
  ASSERT_TRUE(badge);
  EXPECT_EQ(badge->text, "Passed");
  EXPECT_EQ(badge->baselineOffset, -5.0);
  ASSERT_TRUE(badge->attachment);
  EXPECT_EQ(badge->attachment->name, "NSStatusAvailableFlat");
  EXPECT_EQ(badge->attachment->width, 20);
  EXPECT_EQ(badge->attachment->height, 20);
  EXPECT_EQ(*reading->find("extendedHealthIcon"), Value(*badge->attachment));

  EXPECT_EQ(reading->getArray("errorLog")->size(), 2u);
  EXPECT_EQ(reading->getArray("powerStates")->size(), 5u);
  EXPECT_EQ(*reading->find("firmwareSlotCount"), Value(2u));
  EXPECT_EQ(*reading->find("activeFirmwareSlot"), Value(2u));
  const Array& slots = *reading->getArray("firmwareSlots");
  ASSERT_EQ(slots.size(), 2u);
  EXPECT_EQ(slots[0].ifDict()->stringOr("readOnly"), "Yes");
  EXPECT_EQ(slots[1].ifDict()->stringOr("active"), "Yes");
  EXPECT_EQ(slots[1].ifDict()->stringOr("firmwareRevision"), "2B2QEXM7");
  EXPECT_TRUE(m->calls("nslog").empty());  // sound texts: no diagnostic block
}

TEST(ReadNVMeForServiceTest, FailedReadsDecodeAsZeros) {
  Dict disk = nvmeDisk("disk5", kUuid);
  nvmeBlock(disk).set("identify", Dict{{"status", "0xE00002C0"}});
  nvmeBlock(disk).set("health", Dict{{"status", "0xE00002C0"}});
  TestMachine m{disk};
  auto reading = kvNVMe().readNVMeForService(serviceOf("disk5"));
  ASSERT_TRUE(reading);
  EXPECT_EQ(reading->stringOr("vid"), "0000");
  EXPECT_EQ(reading->stringOr("sn"), std::string(20, '\0'));
  EXPECT_EQ(*reading->find("mdts"), Value(1u));
  EXPECT_EQ(reading->stringOr("attributeHealth"), "Passed");
  EXPECT_EQ(*reading->find("percentRemaining"), Value(100u));
  EXPECT_EQ(*reading->find("temperature"), Value(0u));
  EXPECT_EQ(*reading->find("tempoC"), Value(-273.15f));
  EXPECT_EQ(reading->getArray("powerStates")->size(), 1u);
  EXPECT_TRUE(reading->getArray("errorLog")->empty());
  EXPECT_TRUE(reading->getArray("firmwareSlots")->empty());
  EXPECT_TRUE(m->calls("nslog").empty());
}

TEST(ReadNVMeForServiceTest, TextThatIsNotUtf8WritesTheDiagnosticBlock) {
  Dict disk = nvmeDisk("disk5", kUuid);
  IdentifyPage id = sampleIdentify();
  id.u8(4, 0xFF);
  nvmeBlock(disk).set("identify", id.sector());
  TestMachine m{disk};
  auto reading = kvNVMe().readNVMeForService(serviceOf("disk5"));
  ASSERT_TRUE(reading);
  EXPECT_EQ(reading->stringOr("sn"), "no sn");
  EXPECT_EQ(reading->stringOr("mn"), "Samsung SSD 970 EVO Plus 1TB");
  auto log = lines(m.machine(), "nslog");
  ASSERT_EQ(log.size(), 8u);
  EXPECT_EQ(log[0], std::string(92, '='));
  EXPECT_EQ(log[1].rfind("nvme identify: {\"nvmeIFRev\":\"1.4\"", 0), 0u) << log[1];
  EXPECT_EQ(log[1].find("powerStates"), std::string::npos);  // the identify summary only
  EXPECT_EQ(log[3].rfind("nvme sn[]: 'ff 34 45 57 ", 0), 0u) << log[3];
  EXPECT_EQ(log[4].rfind("nvme mn[]: '53 61 6d ", 0), 0u) << log[4];
  EXPECT_EQ(log[5], "nvme fw[]: '32 42 32 51 45 58 4d 37 '\n");
  EXPECT_EQ(log[4].size(), std::string("nvme mn[]: ''\n").size() + 120);
  EXPECT_EQ(log[7], " ");
}

TEST(ReadNVMeUUIDTest, UnknownUuidGivesAnEmptyReadingSilently) {
  TestMachine m{nvmeDisk("disk5", kUuid)};
  m->clearJournal();
  for (const std::optional<std::string>& uuid :
       {std::optional<std::string>("00000000-0000"), std::optional<std::string>(),
        std::optional<std::string>("")}) {
    auto reading = kvNVMe().readNVMeUUID(uuid);
    ASSERT_TRUE(reading);
    EXPECT_TRUE(reading->empty());
  }
  EXPECT_TRUE(m->journal().empty());
}

TEST(ReadNVMeUUIDTest, ReadingHoldsRegistryIdentifyAndHealthGroups) {
  Dict disk = nvmeDisk("disk5", kUuid);
  // A key in both characteristics takes the device characteristics' value.
  nvmeProperties(disk).find("Protocol Characteristics")->ifDict()->set("Medium Type", "Wire");
  TestMachine m{disk};
  m->clearJournal();
  auto reading = kvNVMe().readNVMeUUID(std::string(kUuid));
  ASSERT_TRUE(reading);
  EXPECT_EQ(
      callNames(m.machine()),
      (std::vector<std::string>{"nvme.createPlugIn", "nvme.queryInterface", "nvme.readIdentifyData",
                                "nvme.readHealthData", "nvme.release", "nvme.destroyPlugIn"}));

  std::vector<std::string> registryKeys;
  for (std::size_t i = 0; i < 9; ++i) registryKeys.push_back(reading->entries()[i].key);
  EXPECT_EQ(registryKeys,
            (std::vector<std::string>{"Physical Interconnect", "Physical Interconnect Location",
                                      "Medium Type", "Product Revision Level", "Serial Number",
                                      "Logical Block Size", "NVMe SMART Capable", "service_name",
                                      "service_class"}));
  EXPECT_EQ(reading->stringOr("Medium Type"), "Solid State");
  EXPECT_EQ(reading->stringOr("Physical Interconnect"), "PCI-Express");
  EXPECT_EQ(*reading->find("Logical Block Size"), Value(512));
  EXPECT_FALSE(reading->contains("Physical Block Size"));
  EXPECT_EQ(reading->getBool("NVMe SMART Capable"), true);
  EXPECT_EQ(reading->stringOr("service_name"), "IONVMeBlockStorageDevice");
  EXPECT_EQ(reading->stringOr("service_class"), "IONVMeBlockStorageDevice");

  EXPECT_EQ(reading->size(), 9u + 17u + 32u);
  EXPECT_EQ(*reading->find("mdts"), Value(512));
  EXPECT_EQ(*reading->find("lowSpare"), Value(0));
  EXPECT_EQ(*reading->find("percentUsed"), Value(3u));
  EXPECT_EQ(*reading->find("percentRemaining"), Value(97));
  EXPECT_EQ(*reading->find("unsafeShutdownsLo"), Value(87u));
  for (const char* absent :
       {"nvmeIFRev", "tempoC", "totalBytesRead", "totalBytesWritten", "extendedHealth",
        "extendedHealthIcon", "errorLog", "powerStates", "firmwareSlotCount", "firmwareSlots"})
    EXPECT_FALSE(reading->contains(absent)) << absent;
  EXPECT_TRUE(m->calls("syslog").empty());
  EXPECT_TRUE(m->calls("nslog").empty());  // no diagnostic block on this path
}

TEST(ReadNVMeUUIDTest, AFailedStepKeepsTheRegistryGroupAndLogsOneLine) {
  struct Case {
    const char* name;
    const char* key;
    Value setting;
    const char* line;
    std::vector<std::string> calls;
  } cases[] = {
      {"plug-in",
       "openStatus",
       "0xE00002C7",
       "readNVMe error plugin: e00002c7 query: 00000000 ident: 00000000 data: 00000000 ",
       {"nvme.createPlugIn", "syslog"}},
      {"interface",
       "queryStatus",
       "0x80000001",
       "readNVMe error plugin: 00000000 query: 80000001 ident: 00000000 data: 00000000 ",
       {"nvme.createPlugIn", "nvme.queryInterface", "syslog", "nvme.destroyPlugIn"}},
      {"identify",
       "identify",
       Dict{{"status", "0xE00002C0"}},
       "readNVMe error plugin: 00000000 query: 00000000 ident: e00002c0 data: 00000000 ",
       {"nvme.createPlugIn", "nvme.queryInterface", "nvme.readIdentifyData", "syslog",
        "nvme.release", "nvme.destroyPlugIn"}},
      {"health data",
       "health",
       Dict{{"status", "0xE00002BE"}},
       "readNVMe error plugin: 00000000 query: 00000000 ident: 00000000 data: e00002be ",
       {"nvme.createPlugIn", "nvme.queryInterface", "nvme.readIdentifyData", "nvme.readHealthData",
        "syslog", "nvme.release", "nvme.destroyPlugIn"}},
  };
  for (const Case& c : cases) {
    Dict disk = nvmeDisk("disk5", kUuid);
    nvmeBlock(disk).set(c.key, c.setting);
    TestMachine m{disk};
    m->clearJournal();
    auto reading = kvNVMe().readNVMeUUID(std::string(kUuid));
    ASSERT_TRUE(reading) << c.name;
    EXPECT_EQ(reading->size(), 9u) << c.name;
    EXPECT_FALSE(reading->contains("percentRemaining")) << c.name;
    EXPECT_EQ(reading->stringOr("service_name"), "IONVMeBlockStorageDevice") << c.name;
    EXPECT_EQ(callNames(m.machine()), c.calls) << c.name;
    auto syslog = m->calls("syslog");
    ASSERT_EQ(syslog.size(), 1u) << c.name;
    EXPECT_EQ(syslog[0].getInt("priority"), 1);
    EXPECT_EQ(syslog[0].stringOr("line"), c.line);
  }
}

TEST(NvmeHexDumpLogTest, WritesOneAlertLine) {
  TestMachine m{nvmeDisk("disk5", kUuid)};
  m->clearJournal();
  std::vector<std::uint8_t> bytes(32);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(0xF0 + i);
  kvNVMe().hexDump(bytes, 20);
  kvNVMe().hexDump(bytes, 0);
  auto syslog = m->calls("syslog");
  ASSERT_EQ(syslog.size(), 2u);
  EXPECT_EQ(syslog[0].getInt("priority"), 1);
  EXPECT_EQ(syslog[0].stringOr("line"),
            "\n\nnvme::hexDump (20 bytes) \n\n"
            "___  00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n"
            "000  f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff \n"
            "001  00 01 02 03                                     \n"
            "\n\n");
  EXPECT_EQ(syslog[1].stringOr("line"),
            "\n\nnvme::hexDump (0 bytes) \n\n"
            "___  00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n"
            "\n\n");
}

}  // namespace
}  // namespace sentrel
