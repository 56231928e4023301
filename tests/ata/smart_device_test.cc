#include <gtest/gtest.h>

#include "sentrel/smart_device.h"
#include "support/machines.h"

namespace sentrel {
namespace {

using testing::ataBlock;
using testing::driveEntry;
using testing::sataDisk;
using testing::TestMachine;

std::vector<std::string> callNames(const sim::Machine& m) {
  std::vector<std::string> out;
  for (const Dict& d : m.journal()) out.push_back(d.stringOr("call"));
  return out;
}

std::vector<std::int64_t> sleeps(const sim::Machine& m) {
  std::vector<std::int64_t> out;
  for (const Dict& d : m.calls("sleep")) out.push_back(*d.getInt("ms"));
  return out;
}

std::vector<std::string> logLines(const sim::Machine& m) {
  std::vector<std::string> out;
  for (const Dict& d : m.calls("nslog")) out.push_back(d.stringOr("line"));
  return out;
}

Array statuses(std::initializer_list<const char*> list) {
  Array a;
  for (const char* s : list) a.push_back(s);
  return a;
}

TEST(OpenInterfaceTest, RetriesAndLogsAsTheStatusesSay) {
  struct Case {
    const char* name;
    Array openStatuses;
    std::optional<const char*> queryStatus;
    bool opened;
    int creates;
    std::vector<std::int64_t> waits;
    std::vector<std::string> log;
    // Why the device says it could not open the access.
    platform::Failure::Kind failure = platform::Failure::Kind::none;
  } cases[] = {
      {"unsupported every time",
       statuses({"0xE00002C7"}),
       std::nullopt,
       false,
       5,
       {100, 100, 100, 100, 100},
       {"KVSMARTDevice openInterface fail  retries: 5 plugin: E00002C7  interface: FFFFFFFF  "
        "bsdname: disk0"},
       platform::Failure::Kind::unsupported},
      {"busy twice then open",
       statuses({"0xE00002BE", "0xE00002BE", "0"}),
       std::nullopt,
       true,
       3,
       {100, 100},
       {}},
      {"busy then unsupported to the end",
       statuses({"0xE00002BE", "0xE00002C7"}),
       std::nullopt,
       false,
       5,
       {100, 100, 100, 100, 100},
       {"KVSMARTDevice openInterface fail  retries: 5 plugin: E00002C7  interface: FFFFFFFF  "
        "bsdname: disk0"},
       platform::Failure::Kind::unsupported},
      {"general error gives up at once",
       statuses({"0xE00002BC"}),
       std::nullopt,
       false,
       1,
       {},
       {"KVSMARTDevice openInterface fail  retries: 0 plugin: E00002BC  interface: FFFFFFFF  "
        "bsdname: disk0"},
       platform::Failure::Kind::io},
      {"busy then general error",
       statuses({"0xE00002BE", "0xE00002BC"}),
       std::nullopt,
       false,
       2,
       {100},
       {"KVSMARTDevice openInterface fail  retries: 1 plugin: E00002BC  interface: FFFFFFFF  "
        "bsdname: disk0"},
       platform::Failure::Kind::io},
      {"interface refused",
       statuses({"0"}),
       "0xE00002C2",
       false,
       1,
       {},
       {"KVSMARTDevice openInterface fail  retries: 0 plugin: 0  interface: E00002C2  "
        "bsdname: disk0"},
       platform::Failure::Kind::io},
      {"no device",
       statuses({"0xE00002C0"}),
       std::nullopt,
       false,
       1,
       {},
       {"KVSMARTDevice openInterface fail  retries: 0 plugin: E00002C0  interface: FFFFFFFF  "
        "bsdname: disk0"},
       platform::Failure::Kind::noResponse},
  };
  for (Case& c : cases) {
    Dict disk = sataDisk("disk0");
    ataBlock(disk).set("openStatuses", c.openStatuses);
    if (c.queryStatus) ataBlock(disk).set("queryStatus", *c.queryStatus);
    TestMachine m{disk};
    auto device = KVSMARTDevice::deviceWithBSDName("disk0");
    ASSERT_TRUE(device);
    m->clearJournal();

    EXPECT_EQ(device->openInterface(), c.opened) << c.name;
    EXPECT_EQ(device->isOpen(), c.opened) << c.name;
    EXPECT_EQ(m->calls("ata.createPlugIn").size(), static_cast<std::size_t>(c.creates)) << c.name;
    EXPECT_EQ(sleeps(m.machine()), c.waits) << c.name;
    EXPECT_EQ(logLines(m.machine()), c.log) << c.name;
    EXPECT_EQ(device->failure() ? device->failure()->kind : platform::Failure::Kind::none,
              c.failure)
        << c.name;
    device->closeInterface();
  }
}

TEST(OpenInterfaceTest, RefusedInterfaceDestroysThePlugIn) {
  Dict disk = sataDisk("disk0");
  ataBlock(disk).set("queryStatus", 5);
  TestMachine m{disk};
  auto device = KVSMARTDevice::deviceWithBSDName("disk0");
  m->clearJournal();
  EXPECT_FALSE(device->openInterface());
  EXPECT_EQ(callNames(m.machine()),
            (std::vector<std::string>{"ata.createPlugIn", "ata.queryInterface", "ata.destroyPlugIn",
                                      "nslog"}));
}

TEST(OpenInterfaceTest, MissingServiceIsPassedOnAsZero) {
  KVSMARTDevice device(Dict{{"bsdName", "disk9"}});
  TestMachine m{sataDisk("disk0")};
  EXPECT_FALSE(device.openInterface());
  auto creates = m->calls("ata.createPlugIn");
  ASSERT_EQ(creates.size(), 5u);  // the platform answers "unsupported" for handle 0
  EXPECT_EQ(creates[0].getInt("service"), 0);
  EXPECT_EQ(logLines(m.machine()).back(),
            "KVSMARTDevice openInterface fail  retries: 5 plugin: E00002C7  interface: FFFFFFFF  "
            "bsdname: disk9");
}

TEST(OpenInterfaceTest, ReopeningReleasesTheOldAccessFirst) {
  TestMachine m{sataDisk("disk0")};
  auto device = KVSMARTDevice::deviceWithBSDName("disk0");
  m->clearJournal();
  ASSERT_TRUE(device->openInterface());
  ASSERT_TRUE(device->openInterface());
  device->closeInterface();
  device->closeInterface();  // closed: nothing more happens
  EXPECT_EQ(callNames(m.machine()),
            (std::vector<std::string>{"ata.createPlugIn", "ata.queryInterface", "ata.release",
                                      "ata.destroyPlugIn", "ata.createPlugIn", "ata.queryInterface",
                                      "ata.release", "ata.destroyPlugIn"}));
}

TEST(DeviceCommandsTest, SelfTestsAndSmartSwitching) {
  Dict disk = sataDisk("disk0");
  ataBlock(disk).set("selftestStatus", "0xE00002D8");
  ataBlock(disk).set("enableStatus", 7);
  TestMachine m{disk};
  auto device = KVSMARTDevice::deviceWithBSDName("disk0");
  ASSERT_TRUE(device->openInterface());
  m->clearJournal();

  EXPECT_EQ(device->startSelftest("short"), platform::kGeneralError);
  EXPECT_EQ(device->startSelftest("EXTENDED"), platform::kGeneralError);
  EXPECT_EQ(device->startSelftest(""), platform::kGeneralError);
  EXPECT_TRUE(m->journal().empty()) << "an unknown test name reached the drive";

  EXPECT_EQ(device->startSelftest("Short"), platform::statusFromBits(0xE00002D8));
  EXPECT_EQ(device->startSelftest("Extended"), platform::statusFromBits(0xE00002D8));
  auto runs = m->calls("ata.runOfflineImmediate");
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].getBool("extended"), false);
  EXPECT_EQ(runs[1].getBool("extended"), true);

  EXPECT_EQ(device->enableSMART(true), 7);
  device->abortSelftest();
  auto enables = m->calls("ata.enableOperations");
  ASSERT_EQ(enables.size(), 2u);
  EXPECT_EQ(enables[0].getBool("enable"), true);
  EXPECT_EQ(enables[1].getBool("enable"), false);
  device->closeInterface();
}

TEST(DeviceCommandsTest, IdentifyIsSkippedForFourModelsFromTenThirteenOn) {
  struct Case {
    const char* model;
    const char* version;
    bool sent;
  } cases[] = {
      {"ST3000DM001-1ER166", "10.13", false},
      {"ST3000DM001-1ER166", "10.12.6", true},
      {"ST4000DX002-1H2178", "11.0", false},
      {"LaCie   2big v2 THB USB3 Raid 0", "12.1", false},
      {"LaCie   2big v2 THB USB3 Raid 1", "12.1", false},
      {"LaCie 2big v2 THB USB3 Raid 1", "12.1", true},
      {"ST3000DM001-1ER166 ", "12.1", false},  // the record's model is trimmed
      {"WDC WD10EZEX-08WN4A0", "12.1", true},
  };
  for (const Case& c : cases) {
    Dict disk = sataDisk("disk0");
    driveEntry(disk).set("Model", c.model);
    TestMachine m(Dict{{"systemVersion", c.version}, {"disks", Array{Value(disk)}}});
    auto device = KVSMARTDevice::deviceWithBSDName("disk0");
    ASSERT_TRUE(device->openInterface());
    m->clearJournal();
    EXPECT_TRUE(device->identifyDevice().empty());
    EXPECT_EQ(m->calls("ata.readIdentify").size(), c.sent ? 1u : 0u) << c.model << " " << c.version;
  }
}

TEST(DeviceTest, PropertiesAreACopyOfTheRecord) {
  TestMachine m{sataDisk("disk0")};
  auto device = KVSMARTDevice::deviceWithBSDName("/dev/disk0");
  ASSERT_TRUE(device);
  device->driveProperties()->set("Device Model", "changed");
  EXPECT_EQ(KVSMARTDevice::settingsForBSDName("disk0")->stringOr("Device Model"),
            "WDC WD10EZEX-08WN4A0");
  EXPECT_FALSE(KVSMARTDevice::deviceWithBSDName("disk0s1"));
  EXPECT_FALSE(KVSMARTDevice::deviceWithBSDName(std::nullopt));

  KVSMARTDevice empty;
  EXPECT_TRUE(empty.driveProperties()->empty());
  EXPECT_EQ(empty._selectedTest(), 0);
  empty.set_selectedTest(2);
  EXPECT_EQ(empty._selectedTest(), 2);
}

TEST(IdentifyStringTest, SwapsDecodesCutsAndTrims) {
  struct Case {
    const char* name;
    std::string bytes;
    std::int32_t length;
    std::string expected;
    std::string bufferAfter;
  } cases[] = {
      {"swapped", "iHathc i", 8, "Hitachi", "Hitachi "},
      {"odd length keeps the last byte", "iHtaX", 5, "HiatX", "HiatX"},
      {"NUL cuts", std::string("iH\0tabc", 7), 6, "Hit", std::string("Hit\0bac", 7)},
      {"not UTF-8", "\xff\xfe\xfd\xfc", 4, "", "\xfe\xff\xfc\xfd"},
      {"length past the buffer", "iHathc i", 100, "Hitachi", "Hitachi "},
      {"negative length", "iH", -3, "", "iH"},
      {"length 1 is not swapped", "AB", 1, "A", "AB"},
      {"blanks and line ends", " \n T S ", 8, "T S", ""},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> buffer(c.bytes.begin(), c.bytes.end());
    EXPECT_EQ(KVSMARTDevice::stringFromCStringSwapped(buffer, c.length), c.expected) << c.name;
    if (!c.bufferAfter.empty()) {
      EXPECT_EQ(std::string(buffer.begin(), buffer.end()), c.bufferAfter) << c.name;
    }
  }
}

TEST(SelfTestTest, ARunStepsThroughItsStatusAndAbortingEndsIt) {
  Dict disk = sataDisk("disk0");
  ataBlock(disk).set("smartData", testing::sector(testing::smartDataSector({})));
  ataBlock(disk).set("selftestRun", Array{0xF9, 0xF5, 0x00});
  TestMachine m{disk};
  auto device = KVSMARTDevice::deviceWithBSDName("disk0");
  ASSERT_TRUE(device->openInterface());
  EXPECT_EQ(device->selfTestExecutionStatus(), 0x00);  // nothing runs yet
  ASSERT_EQ(device->runSelfTest(3), 0);                // conveyance
  EXPECT_EQ(m->calls("ata.executeOfflineImmediate").at(0).getInt("subcommand"), 3);
  std::vector<int> statuses;
  for (int i = 0; i < 4; ++i) statuses.push_back(*device->selfTestExecutionStatus());
  EXPECT_EQ(statuses, (std::vector<int>{0xF9, 0xF5, 0x00, 0x00}));  // the checksum stays sound

  ASSERT_EQ(device->startSelftest("Short"), 0);
  EXPECT_EQ(device->selfTestExecutionStatus(), 0xF9);
  device->abortSelftest();
  EXPECT_EQ(device->selfTestExecutionStatus(), 0x00);
  device->closeInterface();
}

}  // namespace
}  // namespace sentrel
