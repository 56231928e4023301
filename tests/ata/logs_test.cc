// The SMART data's capability area and the logs (self-test, summary error,
// directory): built sectors for the boundaries, and the demo machine's
// sectors, damaged, that must never crash a decoder.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "ata/capabilities.h"
#include "ata/error_log.h"
#include "ata/log_directory.h"
#include "ata/selftest_log.h"
#include "sentrel/report.h"
#include "support/pages.h"

namespace sentrel::ata {
namespace {

using testing::Sector;

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
  // Bits 0-6 of the offline capability byte, then bits 0-1 of the SMART
  // capability word; the bits above them name nothing.
  const char* keys[] = {"SMART execute Offline immediate",
                        "Auto Offline data collection",
                        "Abort Offline collection upon command",
                        "Offline read scanning",
                        "Self-test",
                        "Conveyance Self-test",
                        "Selective Self-test",
                        "Save data before power-saving mode",
                        "Autosave"};
  for (int bit = 0; bit < 8 + 16; ++bit) {
    const auto offline = static_cast<std::uint8_t>(bit < 8 ? 1 << bit : 0);
    const auto smart = static_cast<std::uint16_t>(bit < 8 ? 0 : 1 << (bit - 8));
    Dict caps = decodeCapabilities(capabilitySector(0, 0, offline, smart).view());
    const int named = bit < 7 ? bit : bit >= 8 && bit < 10 ? bit - 1 : -1;
    for (int k = 0; k < 9; ++k) EXPECT_EQ(caps.getBool(keys[k]), k == named) << bit << keys[k];
  }
}

TEST(CapabilitiesTest, OfferedTestsAndTheirDurations) {
  struct {
    std::uint8_t offlineCaps, shortMinutes, extendedByte;
    std::uint16_t extendedWord;
    std::uint8_t conveyanceMinutes;
    const char* tests;
  } cases[] = {
      {0x00, 2, 85, 0, 5, ""},
      {0x50, 2, 85, 0, 5,
       "Short Test  00:02|Extended Test  01:25|Selective Test (time indefinite)"},
      {0x20, 0, 0, 0, 255, "Conveyance Test  04:15"},
      // At 255 the extended time moves to the word at 375; below it the word is not read.
      {0x10, 90, 255, 0x01A4, 0, "Short Test  01:30|Extended Test  07:00"},
      {0x10, 90, 254, 0x01A4, 0, "Short Test  01:30|Extended Test  04:14"},
      {0x10, 0, 255, 0xFFFF, 0, "Short Test  00:00|Extended Test  1092:15"},
  };
  for (const auto& c : cases) {
    Sector s = capabilitySector(0, 0, c.offlineCaps);
    s.u8(372, c.shortMinutes).u8(373, c.extendedByte).u16(375, c.extendedWord);
    std::string tests;
    for (const Value& t : selfTestList(decodeCapabilities(s.u8(374, c.conveyanceMinutes).view())))
      tests += (tests.empty() ? "" : "|") + t.ifDict()->stringOr("nameWithTime");
    EXPECT_EQ(tests, c.tests) << int{c.offlineCaps};
  }
  EXPECT_TRUE(selfTestList(Dict{{"Self-test", 1}}).empty());  // a flag of another kind is not true
}

TEST(CapabilitiesTest, PowerModeOfTheCountRegister) {
  using enum PowerMode;
  for (auto [count, mode] : {std::pair{0x00, standby},
                             {0x01, standby},
                             {0x02, unknown},
                             {0x80, idle},
                             {0x83, idle},
                             {0x84, unknown},
                             {0x40, active},
                             {0x41, active},
                             {0xFF, active}})
    EXPECT_EQ(powerModeOfRegister(static_cast<std::uint8_t>(count)), mode) << count;
}

struct Descriptor {
  int slot;
  std::uint16_t hours = 0;
  std::uint8_t test = 1, status = 0x00, checkpoint = 0;
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
std::string numsAndHours(const Array& results) {
  std::string out;
  for (const Value& r : results)
    out += std::to_string(*r.ifDict()->find("Num")->ifInt()) + "@" +
           std::to_string(*r.ifDict()->find("LifetimeHours")->ifUInt()) + " ";
  return out;
}

TEST(SelfTestLogTest, TheRingIsWalkedNewestFirst) {
  std::vector<Descriptor> full;
  std::string fullOrder;
  for (int n = 0; n < 21; ++n) {
    full.push_back({n, static_cast<std::uint16_t>(n + 1)});
    fullOrder += std::to_string(20 - n) + "@" + std::to_string(21 - n) + " ";
  }
  struct {
    const char* name;
    std::uint8_t index;
    std::vector<Descriptor> slots;
    std::string expected;
  } cases[] = {
      {"empty: index 0 even with descriptors", 0, {{0, 9}}, ""},
      {"three in order", 3, {{0, 100}, {1, 101}, {2, 102}}, "20@102 19@101 18@100 "},
      {"wrapped", 2, {{1, 301}, {0, 300}, {20, 220}, {19, 219}}, "20@301 19@300 18@220 17@219 "},
      {"gaps keep their numbers", 5, {{4, 4}, {2, 2}, {0, 0}}, "20@4 18@2 16@0 "},
      // (25 + 20) mod 21 = 3: an index above 21 still lands in the ring.
      {"index above 21", 25, {{3, 3}, {4, 4}, {2, 2}}, "20@3 19@2 0@4 "},
      {"a full ring: index 21 names slot 20", 21, full, fullOrder},
      // A slot is used when any of its first nine bytes is set.
      {"test number 0 with hours", 1, {{.slot = 0, .hours = 7, .test = 0}}, "20@7 "},
      {"only a checkpoint", 1, {{.slot = 0, .test = 0, .checkpoint = 1}}, "20@0 "},
      {"only the LBA's top byte", 1, {{.slot = 0, .test = 0, .lba = 0x01000000}}, "20@0 "},
      {"all zero", 1, {{.slot = 0, .test = 0}}, ""},
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
  Sector good = selfTestLog(1, {{0, 5}});
  EXPECT_TRUE(decodeSelfTestLog(good.view()));
  for (std::size_t at : {511, 100}) {  // anywhere in the sector counts
    Sector bad = good;
    bad.bytes[at] ^= 0x40;
    EXPECT_FALSE(decodeSelfTestLog(bad.view())) << at;
  }
  for (std::uint16_t revision : {0, 2, 0x0101, 0xFFFF})
    EXPECT_FALSE(decodeSelfTestLog(selfTestLog(1, {{0}}, revision).view())) << revision;
  EXPECT_FALSE(decodeSelfTestLog(Sector{}.view()));  // sums to zero, but revision 0
}

TEST(ErrorLogTest, FiveEntriesInSectorOrderCommandsNewestFirst) {
  // Entry k's record carries hours 100 + k; its command j the transport
  // value 10 * k + j, so every position shows where it came from.
  Sector s;
  s.u8(0, 1).u8(1, 3).u16(452, 7);
  for (std::size_t k = 0; k < 5; ++k) {
    s.u16(2 + 90 * k + 60 + 28, static_cast<std::uint16_t>(100 + k));
    for (std::size_t j = 0; j < 5; ++j) s.u8(2 + 90 * k + 12 * j, 10 * k + j);
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
    EXPECT_FALSE(decodeErrorLog(s.u8(0, version).view())) << int{version};
}

TEST(LogDirectoryTest, ThirteenNamedLogsWithTheirPages) {
  // Log N has N + 1000 pages, so each entry shows which word it read.
  Sector s;
  s.u16(0, 1);
  for (std::size_t n = 1; n < 256; ++n) s.u16(2 * n, static_cast<std::uint16_t>(n + 1000));
  LogDirectory dir = decodeLogDirectory(s.view());
  std::string ids;
  for (const auto& e : dir.logDir) {
    ids += e.key + " ";
    EXPECT_EQ(*e.value.ifDict()->find("pages")->toUInt(), std::stoul(e.key) + 1000) << e.key;
  }
  EXPECT_EQ(ids, "1 2 3 4 6 7 9 16 17 33 34 224 225 ");
  EXPECT_EQ(dir.logDir.getDict("17")->stringOr("name"), "SATA Phy Event Counters");
  ASSERT_EQ(dir.logs.size(), 13u);
  for (std::size_t i = 0; i < 13; ++i) EXPECT_EQ(dir.logs[i], dir.logDir.entries()[i].value);
  for (std::uint16_t version : {0, 2, 0x0100}) {
    s.u16(0, version);
    EXPECT_TRUE(decodeLogDirectory(s.view()).logDir.empty()) << version;
  }
}

// The demo machine's sectors with random bytes changed, and cut short as a
// drive that sends fewer bytes than asked leaves them; each also made to
// pass the self-test log's checks so the ring walk runs on what it holds.
// Whatever a sector holds, each decoder's output keeps its shape.
TEST(LogRobustnessTest, MutatedAndTruncatedSectors) {
  std::mt19937 rng(20240601);
  std::uniform_int_distribution<int> byte(0, 255), pos(0, 511), flips(1, 16);
  for (const char* name : {"st2000dm008-selftest-log.bin", "st2000dm008-summary-error-log.bin",
                           "st2000dm008-log-directory.bin", "wd40efrx-smart-data.bin"}) {
    Sector original;
    std::ifstream in(std::string(SENTREL_SOURCE_DIR "/examples/demo-mac/sectors/") + name,
                     std::ios::binary);
    ASSERT_TRUE(in.read(reinterpret_cast<char*>(original.bytes.data()), 512)) << name;
    std::vector<Sector> inputs;
    for (int i = 0; i < 300; ++i) {
      Sector s = original;
      for (int n = flips(rng); n > 0; --n)
        s.bytes[static_cast<std::size_t>(pos(rng))] = static_cast<std::uint8_t>(byte(rng));
      inputs.push_back(s);
    }
    for (std::size_t length = 0; length <= 512; length += 7) {
      Sector s;
      std::copy_n(original.bytes.begin(), length, s.bytes.begin());
      inputs.push_back(s);
    }
    for (std::size_t i = 0; i < 2 * inputs.size(); ++i) {
      SCOPED_TRACE(std::string(name) + " input " + std::to_string(i));
      Sector s = i < inputs.size() ? inputs[i] : inputs[i - inputs.size()].u16(0, 1).checksum();
      ASSERT_LE(selfTestList(decodeCapabilities(s.view())).size(), 4u);
      std::int64_t previous = kSelfTestSlots;
      for (const Value& r : decodeSelfTestLog(s.view()).value_or(Array{})) {
        std::int64_t num = *r.ifDict()->find("Num")->ifInt();
        ASSERT_TRUE(0 <= num && num < previous);  // newest first, never repeated
        previous = num;
      }
      LogDirectory dir = decodeLogDirectory(s.view());
      ASSERT_TRUE(dir.logs.size() == 13u || dir.logs.empty());
      std::optional<Dict> log = decodeErrorLog(s.view());
      ASSERT_TRUE(!log || log->getArray("errorLog")->size() == 5u);
      for (const Value& e : log ? *log->getArray("errorLog") : Array{})
        ASSERT_EQ(e.ifDict()->getArray("cmnds")->size(), 5u);
    }
  }
}

}  // namespace
}  // namespace sentrel::ata
