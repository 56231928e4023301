// The SMART data's capability area and the logs (self-test, summary error,
// directory) with the command vocabulary they print: built sectors for the
// boundaries, the demo machine's sectors as an independent reading of the
// layouts, and damaged sectors that must never crash a decoder.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "ata/capabilities.h"
#include "ata/error_log.h"
#include "ata/log_directory.h"
#include "ata/selftest_log.h"
#include "support/pages.h"

namespace sentrel::ata {
namespace {

using testing::Sector;

Sector demoSector(const std::string& name) {
  Sector s;
  std::ifstream in(std::string(SENTREL_SOURCE_DIR) + "/examples/demo-mac/sectors/" + name,
                   std::ios::binary);
  in.read(reinterpret_cast<char*>(s.bytes.data()), 512);
  EXPECT_EQ(in.gcount(), 512) << name;
  return s;
}

std::vector<std::string> field(const Array& list, const char* key) {
  std::vector<std::string> out;
  for (const Value& v : list) out.push_back(v.ifDict()->stringOr(key));
  return out;
}

// A SMART data sector with only the capability area filled.
Sector capabilitySector(std::uint8_t offline, std::uint8_t selfTest, std::uint8_t offlineCaps = 0,
                        std::uint16_t smartCaps = 0) {
  Sector s;
  s.u8(362, offline).u8(363, selfTest).u8(367, offlineCaps).u16(368, smartCaps);
  return s;
}

TEST(CapabilitiesTest, StatusBytesWithTheirAutoBitAndTheEightBitPercentWrap) {
  struct {
    std::uint8_t offline, selfTest;
    const char* offlineName;
    bool automatic;
    const char* selfTestStatus;
    unsigned progress;
  } cases[] = {
      {0x00, 0x00, "never started", false, "Pass 100%", 100},
      {0x82, 0xF3, "completed", true, "Test In Progress 70%", 70},
      {0x03, 0x25, "in progress", false, "Interrupted By Reset 50%", 50},
      {0x84, 0x9A, "suspended by host", true, "Unknown 0%", 0},
      {0x05, 0x87, "aborted by host", false, "Handling Damage 30%", 30},
      {0x86, 0x60, "aborted by device", true, "Servo/Seek Failure 100%", 100},
      {0x01, 0x0B, "reserved", false, "Pass 246%", 246},
      {0x87, 0x7F, "reserved", true, "Read Failure 206%", 206},
      {0x7F, 0xE0, "reserved", false, "Unknown 100%", 100},
  };
  for (const auto& c : cases) {
    Dict caps = decodeCapabilities(capabilitySector(c.offline, c.selfTest).view());
    EXPECT_EQ(caps.stringOr("Offline data collection status"), c.offlineName) << int{c.offline};
    EXPECT_EQ(caps.getBool("Auto Offline Data Collection Status"), c.automatic) << int{c.offline};
    EXPECT_EQ(caps.stringOr("Self-test status"), c.selfTestStatus) << int{c.selfTest};
    EXPECT_EQ(caps.find("Self-test progress")->toUInt(), c.progress) << int{c.selfTest};
  }
}

TEST(CapabilitiesTest, EveryFlagComesFromItsOwnBit) {
  struct {
    const char* key;
    std::uint8_t offlineCaps;
    std::uint16_t smartCaps;
  } cases[] = {
      {"SMART execute Offline immediate", 0x01, 0},
      {"Auto Offline data collection", 0x02, 0},
      {"Abort Offline collection upon command", 0x04, 0},
      {"Offline read scanning", 0x08, 0},
      {"Self-test", 0x10, 0},
      {"Conveyance Self-test", 0x20, 0},
      {"Selective Self-test", 0x40, 0},
      {"Save data before power-saving mode", 0, 0x0001},
      {"Autosave", 0, 0x0002},
      {"(none: bit 7 and the upper capability bits)", 0x80, 0xFFFC},
  };
  for (const auto& c : cases) {
    Dict caps = decodeCapabilities(capabilitySector(0, 0, c.offlineCaps, c.smartCaps).view());
    for (const auto& other : cases) {
      if (other.key[0] == '(') continue;
      EXPECT_EQ(caps.getBool(other.key), std::string_view(other.key) == c.key)
          << c.key << " set, reading " << other.key;
    }
  }
}

TEST(CapabilitiesTest, OfferedTestsAndTheirDurations) {
  struct {
    std::uint8_t offlineCaps, shortMinutes, extendedByte;
    std::uint16_t extendedWord;
    std::uint8_t conveyanceMinutes;
    std::vector<std::string> tests;
  } cases[] = {
      {0x00, 2, 85, 0, 5, {}},
      {0x50,
       2,
       85,
       0,
       5,
       {"Short Test  00:02", "Extended Test  01:25", "Selective Test (time indefinite)"}},
      {0x20, 0, 0, 0, 255, {"Conveyance Test  04:15"}},
      // At 255 the extended time moves to the word at 375; below it the word is not read.
      {0x10, 90, 255, 0x01A4, 0, {"Short Test  01:30", "Extended Test  07:00"}},
      {0x10, 90, 254, 0x01A4, 0, {"Short Test  01:30", "Extended Test  04:14"}},
      {0x10, 0, 255, 0xFFFF, 0, {"Short Test  00:00", "Extended Test  1092:15"}},
  };
  for (const auto& c : cases) {
    Sector s = capabilitySector(0, 0, c.offlineCaps);
    s.u8(372, c.shortMinutes).u8(373, c.extendedByte).u16(375, c.extendedWord);
    s.u8(374, c.conveyanceMinutes);
    Array tests = selfTestList(decodeCapabilities(s.view()));
    EXPECT_EQ(field(tests, "nameWithTime"), c.tests) << int{c.offlineCaps};
  }
  EXPECT_TRUE(selfTestList(Dict{{"Self-test", 1}}).empty());  // a flag of another kind is not true
}

struct Descriptor {
  int slot;
  std::uint8_t test = 1, status = 0x00;
  std::uint16_t hours = 0;
  std::uint8_t checkpoint = 0;
  std::uint32_t lba = 0;
};

Sector selfTestLog(std::uint8_t index, const std::vector<Descriptor>& slots,
                   std::uint16_t revision = 1) {
  Sector s;
  s.u16(0, revision).u8(508, index);
  for (const Descriptor& d : slots) {
    std::size_t at = 2 + 24 * static_cast<std::size_t>(d.slot);
    s.u8(at, d.test).u8(at + 1, d.status).u16(at + 2, d.hours);
    s.u8(at + 4, d.checkpoint).u32(at + 5, d.lba);
  }
  return s.checksum();
}

// Each result as "Num@hours" (each slot gets its own hours so order shows).
std::vector<std::string> numsAndHours(const Array& results) {
  std::vector<std::string> out;
  for (const Value& r : results)
    out.push_back(std::to_string(*r.ifDict()->find("Num")->ifInt()) + "@" +
                  std::to_string(*r.ifDict()->find("LifetimeHours")->ifUInt()));
  return out;
}

TEST(SelfTestLogTest, TheRingIsWalkedNewestFirst) {
  std::vector<Descriptor> full;
  std::vector<std::string> fullOrder;
  for (int n = 0; n < 21; ++n) {
    full.push_back({.slot = n, .hours = static_cast<std::uint16_t>(n + 1)});
    fullOrder.push_back(std::to_string(20 - n) + "@" + std::to_string(21 - n));
  }
  struct {
    const char* name;
    std::uint8_t index;
    std::vector<Descriptor> slots;
    std::vector<std::string> expected;
  } cases[] = {
      {"empty: index 0 even with descriptors", 0, {{.slot = 0, .hours = 9}}, {}},
      {"three in order",
       3,
       {{.slot = 0, .hours = 100}, {.slot = 1, .hours = 101}, {.slot = 2, .hours = 102}},
       {"20@102", "19@101", "18@100"}},
      {"wrapped: newest in slot 1",
       2,
       {{.slot = 1, .hours = 301},
        {.slot = 0, .hours = 300},
        {.slot = 20, .hours = 220},
        {.slot = 19, .hours = 219}},
       {"20@301", "19@300", "18@220", "17@219"}},
      {"gaps keep their numbers",
       5,
       {{.slot = 4, .hours = 4}, {.slot = 2, .hours = 2}, {.slot = 0, .hours = 0}},
       {"20@4", "18@2", "16@0"}},
      {"index 21 names slot 20",
       21,
       {{.slot = 20, .hours = 20}, {.slot = 0, .hours = 1}},
       {"20@20", "0@1"}},
      // (25 + 20) mod 21 = 3: an index above 21 still lands in the ring.
      {"index above 21",
       25,
       {{.slot = 3, .hours = 3}, {.slot = 4, .hours = 4}, {.slot = 2, .hours = 2}},
       {"20@3", "19@2", "0@4"}},
      {"index 255", 255, {{.slot = 3, .hours = 3}, {.slot = 2, .hours = 2}}, {"20@2", "0@3"}},
      {"a full ring", 21, full, fullOrder},
      // A slot is used when any of its first nine bytes is set.
      {"test number 0 with hours", 1, {{.slot = 0, .test = 0, .hours = 7}}, {"20@7"}},
      {"only a checkpoint", 1, {{.slot = 0, .test = 0, .checkpoint = 1}}, {"20@0"}},
      {"only the LBA's top byte", 1, {{.slot = 0, .test = 0, .lba = 0x01000000}}, {"20@0"}},
      {"all zero", 1, {{.slot = 0, .test = 0}}, {}},
  };
  for (const auto& c : cases) {
    auto results = decodeSelfTestLog(selfTestLog(c.index, c.slots).view());
    ASSERT_TRUE(results) << c.name;
    EXPECT_EQ(numsAndHours(*results), c.expected) << c.name;
  }
  Sector pastNinth = selfTestLog(1, {});
  pastNinth.u8(2 + 9, 0xAA).u8(2 + 23, 0x55).checksum();
  EXPECT_TRUE(decodeSelfTestLog(pastNinth.view())->empty());
}

TEST(SelfTestLogTest, TypeStatusAndFailureLba) {
  struct {
    std::uint8_t test, status;
    std::uint32_t lba;
    const char* type;
    const char* text;
    const char* lbaText;
  } cases[] = {
      {1, 0x70, 10000, "Short Offline", "Read Failure 100%", "10000"},
      {2, 0x00, 10000, "Extended Offline", "Pass 100%", ""},
      {127, 0x4A, 0, "Abort Offline", "Unknown Failure 0%", "0"},
      {132, 0x63, 0x0A3F1C28, "Selective Captive", "Servo/Seek Failure 70%", "171908136"},
      {5, 0x80, 0xFFFFFFFF, "Vendor/Reserved-(0x05)", "Handling Damage 100%", "4294967295"},
      {255, 0xF9, 5, "Vendor/Reserved-(0xff)", "Test In Progress 10%", ""},
  };
  for (const auto& c : cases) {
    auto results = decodeSelfTestLog(
        selfTestLog(1, {{.slot = 0, .test = c.test, .status = c.status, .lba = c.lba}}).view());
    ASSERT_TRUE(results && results->size() == 1) << int{c.status};
    const Dict& r = *(*results)[0].ifDict();
    EXPECT_EQ(r.stringOr("Type"), c.type) << int{c.test};
    EXPECT_EQ(r.stringOr("Status"), c.text) << int{c.status};
    EXPECT_EQ(r.stringOr("LBAFirstError"), c.lbaText) << int{c.status};
  }
}

TEST(SelfTestLogTest, ChecksumAndRevisionAreChecked) {
  Sector good = selfTestLog(1, {{.slot = 0, .hours = 5}});
  EXPECT_TRUE(decodeSelfTestLog(good.view()));
  for (std::size_t at : {511, 100}) {  // anywhere in the sector counts
    Sector bad = good;
    bad.bytes[at] ^= 0x40;
    EXPECT_FALSE(decodeSelfTestLog(bad.view())) << at;
  }
  for (std::uint16_t revision : {0, 2, 0x0101, 0xFFFF})
    EXPECT_FALSE(decodeSelfTestLog(selfTestLog(1, {{.slot = 0}}, revision).view())) << revision;
  EXPECT_FALSE(decodeSelfTestLog(Sector{}.view()));  // sums to zero, but revision 0
}

struct Command {
  std::uint8_t transport = 0, feature = 0, count = 0;
  std::uint32_t lba = 0;
  std::uint8_t device = 0, command = 0;
  std::uint32_t ms = 0;
};

void putCommand(Sector& s, std::size_t entry, std::size_t j, const Command& c) {
  std::size_t at = 2 + 90 * entry + 12 * j;
  s.u8(at, c.transport).u8(at + 1, c.feature).u8(at + 2, c.count).le(at + 3, c.lba, 3);
  s.u8(at + 6, c.device).u8(at + 7, c.command).u32(at + 8, c.ms);
}

Sector errorLogSector(std::uint8_t version = 1, std::uint8_t index = 0, std::uint16_t count = 0) {
  Sector s;
  s.u8(0, version).u8(1, index).u16(452, count);
  return s;
}

TEST(ErrorLogTest, FiveEntriesInSectorOrderCommandsNewestFirst) {
  // Entry k's record carries hours 100 + k; its command j the transport
  // value 10 * k + j, so every position shows where it came from.
  Sector s = errorLogSector(1, 3, 7);
  for (std::size_t k = 0; k < 5; ++k) {
    s.u16(2 + 90 * k + 60 + 28, static_cast<std::uint16_t>(100 + k));
    for (std::size_t j = 0; j < 5; ++j)
      putCommand(s, k, j, {.transport = static_cast<std::uint8_t>(10 * k + j)});
  }
  auto log = decodeErrorLog(s.view());
  ASSERT_TRUE(log);
  EXPECT_EQ(*log->find("errorLogIndex"), Value(3u));  // the index does not reorder
  EXPECT_EQ(*log->find("errorLogCount"), Value(7u));
  const Array& entries = *log->getArray("errorLog");
  ASSERT_EQ(entries.size(), 5u);
  for (std::size_t k = 0; k < 5; ++k) {
    const Dict& e = *entries[k].ifDict();
    EXPECT_EQ(*e.find("timestamp"), Value(static_cast<unsigned>(100 + k)));
    const Array& cmnds = *e.getArray("cmnds");
    ASSERT_EQ(cmnds.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i)
      EXPECT_EQ(*cmnds[i].ifDict()->find("transport"),
                Value(static_cast<unsigned>(10 * k + 4 - i)));
  }
  for (std::uint8_t version : {0, 2, 0xFF})
    EXPECT_FALSE(decodeErrorLog(errorLogSector(version).view())) << int{version};
}

TEST(ErrorLogTest, TheDemoSeagatesTwoErrors) {
  auto log = decodeErrorLog(demoSector("st2000dm008-summary-error-log.bin").view());
  ASSERT_TRUE(log);
  EXPECT_EQ(*log->find("errorLogCount"), Value(2u));
  const Array& entries = *log->getArray("errorLog");
  ASSERT_EQ(entries.size(), 5u);
  Dict first = *entries[0].ifDict();
  const Array cmnds = *first.getArray("cmnds");
  first.erase("cmnds");
  EXPECT_EQ(first, (Dict{{"error", " UNCORRECTABLE ERROR"},
                         {"count", 0u},
                         {"lba", 4135976u},   // the low 24 bits of the bad sector
                         {"device", "0x0A"},  // and its top bits
                         {"status", "0x51"},
                         {"state", "Active/Idle"},
                         {"timestamp", 18498u},
                         {"index", 0}}));
  EXPECT_EQ(field(cmnds, "command"),
            (std::vector<std::string>{"READ FPDMA QUEUED", "READ FPDMA QUEUED", "READ FPDMA QUEUED",
                                      "SET FEATURES", "IDENTIFY DEVICE"}));
  EXPECT_EQ(field(cmnds, "timestamp"),
            (std::vector<std::string>{"09:04:12:33.524", "09:04:12:33.523", "09:04:12:33.522",
                                      "09:04:12:33.482", "09:04:12:33.481"}));
  EXPECT_EQ(cmnds[3].ifDict()->stringOr("feature"), "Enable use of SATA feature");
  const Array& second = *entries[1].ifDict()->getArray("cmnds");
  EXPECT_EQ(second[4].ifDict()->stringOr("feature"), "SMART READ LOG");
  EXPECT_EQ(second[4].ifDict()->stringOr("timestamp"), "09:07:03:30.730");
  for (std::size_t k = 2; k < 5; ++k) EXPECT_EQ(entries[k].ifDict()->stringOr("error"), "unknown");
}

TEST(LogDirectoryTest, ThirteenNamedLogsWithTheirPages) {
  // Log N has N + 1000 pages, so each entry shows which word it read.
  Sector s;
  s.u16(0, 1);
  for (std::size_t n = 1; n < 256; ++n) s.u16(2 * n, static_cast<std::uint16_t>(n + 1000));
  LogDirectory dir = decodeLogDirectory(s.view());
  std::vector<std::string> got;
  for (const auto& e : dir.logDir)
    got.push_back(e.key + " " + e.value.ifDict()->stringOr("name") + " " +
                  std::to_string(*e.value.ifDict()->find("pages")->toUInt()));
  EXPECT_EQ(got, (std::vector<std::string>{
                     "1 Summary SMART Error 1001", "2 Comprehensive SMART Error 1002",
                     "3 Extended Comprehensive SMART Error 1003", "4 Device Statistics 1004",
                     "6 SMART Selftest 1006", "7 Extended SMART Selftest 1007",
                     "9 Selective Selftest 1009", "16 NCQ Command Error 1016",
                     "17 SATA Phy Event Counters 1017", "33 Write Stream Error 1033",
                     "34 Read Stream Error 1034", "224 SCT Command/Status 1224",
                     "225 SCT Data Transfer 1225"}));
  ASSERT_EQ(dir.logs.size(), 13u);
  for (std::size_t i = 0; i < 13; ++i) EXPECT_EQ(dir.logs[i], dir.logDir.entries()[i].value);
  for (std::uint16_t version : {0, 2, 0x0100}) {
    s.u16(0, version);
    EXPECT_TRUE(decodeLogDirectory(s.view()).logDir.empty()) << version;
  }
}

// Whatever a sector holds, each decoder's output keeps its shape.
void decodeAll(const Sector& s) {
  Dict caps = decodeCapabilities(s.view());
  ASSERT_EQ(caps.size(), 17u);
  ASSERT_LE(selfTestList(caps).size(), 4u);
  if (auto results = decodeSelfTestLog(s.view())) {
    std::int64_t previous = kSelfTestSlots;
    for (const Value& r : *results) {
      std::int64_t num = *r.ifDict()->find("Num")->ifInt();
      ASSERT_TRUE(0 <= num && num < previous);  // newest first, never repeated
      previous = num;
    }
  }
  LogDirectory dir = decodeLogDirectory(s.view());
  ASSERT_TRUE(dir.logs.size() == 13u || dir.logs.empty());
  if (auto log = decodeErrorLog(s.view())) {
    ASSERT_EQ(log->getArray("errorLog")->size(), 5u);
    for (const Value& e : *log->getArray("errorLog"))
      ASSERT_EQ(e.ifDict()->getArray("cmnds")->size(), 5u);
  }
}

// Makes the self-test log's checks pass, so the ring walk runs on
// whatever descriptors and index the sector holds.
Sector asSelfTestLog(Sector s) {
  return s.u16(0, 1).checksum();
}

TEST(LogRobustnessTest, RandomMutatedAndTruncatedSectors) {
  std::mt19937 rng(20240601);
  std::uniform_int_distribution<int> byte(0, 255), pos(0, 511), flips(1, 16);
  std::vector<Sector> inputs;
  for (int i = 0; i < 1000; ++i) {
    Sector s;
    for (auto& b : s.bytes) b = static_cast<std::uint8_t>(byte(rng));
    s.bytes[0] = i % 2 ? s.bytes[0] : 1;  // half pass the version checks
    s.bytes[1] = i % 4 ? s.bytes[1] : 0;
    inputs.push_back(s);
  }
  for (const char* name : {"st2000dm008-selftest-log.bin", "st2000dm008-summary-error-log.bin",
                           "st2000dm008-log-directory.bin", "wd40efrx-smart-data.bin"}) {
    const Sector original = demoSector(name);
    for (int i = 0; i < 300; ++i) {
      Sector s = original;
      for (int n = flips(rng); n > 0; --n)
        s.bytes[static_cast<std::size_t>(pos(rng))] = static_cast<std::uint8_t>(byte(rng));
      inputs.push_back(s);
    }
    // A drive that sends fewer bytes than asked leaves the rest zero.
    for (std::size_t length = 0; length <= 512; length += 7) {
      Sector s;
      std::copy_n(original.bytes.begin(), length, s.bytes.begin());
      inputs.push_back(s);
    }
  }
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    ASSERT_NO_FATAL_FAILURE(decodeAll(inputs[i])) << "input " << i;
    ASSERT_NO_FATAL_FAILURE(decodeAll(asSelfTestLog(inputs[i]))) << "input " << i;
  }
  // Random descriptors are all in use: any index but 0 shows all 21.
  for (unsigned index = 0; index <= 255; ++index) {
    Sector s = inputs[1];
    auto results =
        decodeSelfTestLog(asSelfTestLog(s.u8(508, static_cast<std::uint8_t>(index))).view());
    ASSERT_TRUE(results);
    EXPECT_EQ(results->size(), index == 0 ? 0u : 21u) << index;
  }
}

}  // namespace
}  // namespace sentrel::ata
