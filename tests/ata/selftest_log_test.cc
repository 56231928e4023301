#include "ata/selftest_log.h"

#include <gtest/gtest.h>

#include <vector>

#include "ata/sector_builder.h"
#include "sentrel/smart_device.h"
#include "support/machines.h"

namespace sentrel::ata {
namespace {

using testing::SectorBuilder;

struct Slot {
  int slot;
  std::uint8_t test = 1;
  std::uint8_t status = 0x00;
  std::uint16_t hours = 0;
  std::uint8_t checkpoint = 0;
  std::uint32_t lba = 0;
};

SectorBuilder selfTestLog(std::uint8_t index, std::initializer_list<Slot> slots,
                          std::uint16_t revision = 1) {
  SectorBuilder s;
  s.put16(0, revision).put8(508, index);
  for (const Slot& d : slots) {
    std::size_t at = 2 + 24 * static_cast<std::size_t>(d.slot);
    s.put8(at, d.test).put8(at + 1, d.status).put16(at + 2, d.hours);
    s.put8(at + 4, d.checkpoint).put32(at + 5, d.lba);
  }
  return s.checksum();
}

// Each result's "Num" and "LifetimeHours" (the tests give every slot its
// own hours so the order shows).
std::vector<std::pair<std::int64_t, std::uint64_t>> numsAndHours(const Array& results) {
  std::vector<std::pair<std::int64_t, std::uint64_t>> out;
  for (const Value& r : results) {
    out.emplace_back(*r.ifDict()->find("Num")->ifInt(),
                     *r.ifDict()->find("LifetimeHours")->ifUInt());
  }
  return out;
}

TEST(SelfTestLogTest, OneShortTestPassed) {
  auto results = decodeSelfTestLog(selfTestLog(1, {{.slot = 0, .hours = 1234}}).view());
  ASSERT_TRUE(results);
  ASSERT_EQ(results->size(), 1u);
  EXPECT_EQ((*results)[0], Value(Dict{{"Num", 20},
                                      {"Type", "Short Offline"},
                                      {"Status", "Pass 100%"},
                                      {"LifetimeHours", 1234u},
                                      {"LBAFirstError", ""}}));
  EXPECT_EQ((*results)[0].ifDict()->find("Num")->kind(), Value::Kind::integer);
  EXPECT_EQ((*results)[0].ifDict()->find("LifetimeHours")->kind(), Value::Kind::unsignedInteger);
}

TEST(SelfTestLogTest, TheRingIsWalkedNewestFirst) {
  using Order = std::vector<std::pair<std::int64_t, std::uint64_t>>;
  struct {
    const char* name;
    std::uint8_t index;
    std::initializer_list<Slot> slots;
    Order expected;
  } cases[] = {
      {"three in order",
       3,
       {{.slot = 0, .hours = 100}, {.slot = 1, .hours = 101}, {.slot = 2, .hours = 102}},
       {{20, 102}, {19, 101}, {18, 100}}},
      {"wrapped: newest in slot 1",
       2,
       {{.slot = 1, .hours = 301},
        {.slot = 0, .hours = 300},
        {.slot = 20, .hours = 220},
        {.slot = 19, .hours = 219}},
       {{20, 301}, {19, 300}, {18, 220}, {17, 219}}},
      {"gaps keep their numbers",
       5,
       {{.slot = 4, .hours = 4}, {.slot = 2, .hours = 2}, {.slot = 0, .hours = 0}},
       {{20, 4}, {18, 2}, {16, 0}}},
      {"index 21 names slot 20",
       21,
       {{.slot = 20, .hours = 20}, {.slot = 0, .hours = 1}},
       {{20, 20}, {0, 1}}},
      // An index above 21 still lands in the ring: 25 starts at slot
      // (25 + 20) mod 21 = 3.
      {"index above 21",
       25,
       {{.slot = 3, .hours = 3}, {.slot = 4, .hours = 4}, {.slot = 2, .hours = 2}},
       {{20, 3}, {19, 2}, {0, 4}}},
      {"index 255",
       255,
       {{.slot = 3, .hours = 3}, {.slot = 2, .hours = 2}},
       // (255 + 20) mod 21 = 2, so slot 2 comes first and slot 3 last.
       {{20, 2}, {0, 3}}},
      {"a full ring",
       21,
       {{.slot = 0, .hours = 1},   {.slot = 1, .hours = 2},   {.slot = 2, .hours = 3},
        {.slot = 3, .hours = 4},   {.slot = 4, .hours = 5},   {.slot = 5, .hours = 6},
        {.slot = 6, .hours = 7},   {.slot = 7, .hours = 8},   {.slot = 8, .hours = 9},
        {.slot = 9, .hours = 10},  {.slot = 10, .hours = 11}, {.slot = 11, .hours = 12},
        {.slot = 12, .hours = 13}, {.slot = 13, .hours = 14}, {.slot = 14, .hours = 15},
        {.slot = 15, .hours = 16}, {.slot = 16, .hours = 17}, {.slot = 17, .hours = 18},
        {.slot = 18, .hours = 19}, {.slot = 19, .hours = 20}, {.slot = 20, .hours = 21}},
       {{20, 21}, {19, 20}, {18, 19}, {17, 18}, {16, 17}, {15, 16}, {14, 15},
        {13, 14}, {12, 13}, {11, 12}, {10, 11}, {9, 10},  {8, 9},   {7, 8},
        {6, 7},   {5, 6},   {4, 5},   {3, 4},   {2, 3},   {1, 2},   {0, 1}}},
  };
  for (const auto& c : cases) {
    auto results = decodeSelfTestLog(selfTestLog(c.index, c.slots).view());
    ASSERT_TRUE(results) << c.name;
    EXPECT_EQ(numsAndHours(*results), c.expected) << c.name;
  }
}

TEST(SelfTestLogTest, ASlotCountsAsUsedWhenAnyOfItsFirstNineBytesIsSet) {
  struct {
    const char* name;
    Slot slot;
    bool kept;
  } cases[] = {
      {"all zero", {.slot = 0, .test = 0}, false},
      {"test number 0 with hours", {.slot = 0, .test = 0, .hours = 7}, true},
      {"only a status", {.slot = 0, .test = 0, .status = 0x10}, true},
      {"only a checkpoint", {.slot = 0, .test = 0, .checkpoint = 1}, true},
      {"only the LBA's top byte", {.slot = 0, .test = 0, .lba = 0x01000000}, true},
  };
  for (const auto& c : cases) {
    auto results = decodeSelfTestLog(selfTestLog(1, {c.slot}).view());
    ASSERT_TRUE(results) << c.name;
    EXPECT_EQ(results->size(), c.kept ? 1u : 0u) << c.name;
  }
  // Bytes past the ninth do not make a slot used.
  SectorBuilder s = selfTestLog(1, {});
  s.put8(2 + 9, 0xAA).put8(2 + 23, 0x55).checksum();
  EXPECT_TRUE(decodeSelfTestLog(s.view())->empty());
}

TEST(SelfTestLogTest, StatusTextAndFailureLba) {
  struct {
    std::uint8_t status;
    std::uint32_t lba;
    const char* text;
    const char* lbaText;
  } cases[] = {
      {0x70, 10000, "Read Failure 100%", "10000"},
      {0x00, 10000, "Pass 100%", ""},
      {0x29, 10000, "Interrupted 10%", ""},
      {0x26, 0, "Interrupted 40%", ""},
      {0x1F, 5, "Aborted 206%", ""},
      {0x30, 5, "Unknown Error 100%", "5"},
      {0x4A, 0, "Unknown Failure 0%", "0"},
      {0x5B, 9, "Electrical Failure 246%", "9"},
      {0x63, 0x0A3F1C28, "Servo/Seek Failure 70%", "171908136"},
      {0x80, 0xFFFFFFFF, "Handling Damage 100%", "4294967295"},
      {0x90, 5, "Unknown 100%", ""},
      {0xF9, 5, "Test In Progress 10%", ""},
  };
  for (const auto& c : cases) {
    auto results =
        decodeSelfTestLog(selfTestLog(1, {{.slot = 0, .status = c.status, .lba = c.lba}}).view());
    ASSERT_TRUE(results && results->size() == 1) << int{c.status};
    EXPECT_EQ((*results)[0].ifDict()->stringOr("Status"), c.text) << int{c.status};
    EXPECT_EQ((*results)[0].ifDict()->stringOr("LBAFirstError"), c.lbaText) << int{c.status};
  }
}

TEST(SelfTestLogTest, TestTypes) {
  struct {
    std::uint8_t number;
    const char* name;
  } cases[] = {
      {0, "Offline"},
      {1, "Short Offline"},
      {2, "Extended Offline"},
      {3, "Conveyance Offline"},
      {4, "Selective Offline"},
      {5, "Vendor/Reserved-(0x05)"},
      {126, "Vendor/Reserved-(0x7e)"},
      {127, "Abort Offline"},
      {128, "Vendor/Reserved-(0x80)"},
      {129, "Short Captive"},
      {130, "Extended Captive"},
      {131, "Conveyance Captive"},
      {132, "Selective Captive"},
      {133, "Vendor/Reserved-(0x85)"},
      {255, "Vendor/Reserved-(0xff)"},
  };
  for (const auto& c : cases) EXPECT_EQ(selfTestTypeName(c.number), c.name) << int{c.number};
  int named = 0;
  for (unsigned n = 0; n <= 255; ++n) {
    named += selfTestTypeName(static_cast<std::uint8_t>(n)).rfind("Vendor/Reserved-", 0) != 0;
  }
  EXPECT_EQ(named, 10);
}

TEST(SelfTestLogTest, ChecksumAndRevisionAreChecked) {
  SectorBuilder good = selfTestLog(1, {{.slot = 0, .hours = 5}});
  EXPECT_TRUE(isValidSelfTestLog(good.view()));

  SectorBuilder badSum = good;
  badSum.bytes[511] ^= 0x01;
  EXPECT_FALSE(decodeSelfTestLog(badSum.view()));

  SectorBuilder flippedData = good;
  flippedData.bytes[100] ^= 0x40;  // anywhere in the sector counts
  EXPECT_FALSE(decodeSelfTestLog(flippedData.view()));

  for (std::uint16_t revision : {0, 2, 0x0101, 0xFFFF}) {
    EXPECT_FALSE(decodeSelfTestLog(selfTestLog(1, {{.slot = 0}}, revision).view())) << revision;
  }
  // An all-zero sector sums to zero but has revision 0: the shape of a
  // read that filled nothing.
  EXPECT_FALSE(decodeSelfTestLog(SectorBuilder{}.view()));
}

TEST(SelfTestLogTest, IndexZeroMeansNoTestWasLogged) {
  // Even with descriptors present the index says none is current.
  auto results = decodeSelfTestLog(selfTestLog(0, {{.slot = 0, .hours = 9}}).view());
  ASSERT_TRUE(results);
  EXPECT_TRUE(results->empty());
}

// The device reader, against a simulated drive.
std::unique_ptr<KVSMARTDevice> deviceWithLog6(Value log, std::unique_ptr<testing::TestMachine>& m) {
  Dict disk = testing::sataDisk("disk0");
  testing::ataBlock(disk).set("logs", Dict{{"6", std::move(log)}});
  m = std::make_unique<testing::TestMachine>(std::initializer_list<Dict>{disk});
  auto device = KVSMARTDevice::deviceWithBSDName("disk0");
  EXPECT_TRUE(device && device->openInterface());
  return device;
}

TEST(SelfTestLogReaderTest, StoresTheResults) {
  std::unique_ptr<testing::TestMachine> m;
  auto device = deviceWithLog6(
      selfTestLog(2, {{.slot = 0, .hours = 10},
                      {.slot = 1, .test = 2, .status = 0x73, .hours = 11, .lba = 77}})
          .sim(),
      m);
  Array results = device->selftestLog();
  device->closeInterface();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].ifDict()->stringOr("Type"), "Extended Offline");
  EXPECT_EQ(results[0].ifDict()->stringOr("Status"), "Read Failure 70%");
  EXPECT_EQ(results[0].ifDict()->stringOr("LBAFirstError"), "77");
  const Array* stored = device->driveProperties()->getArray("selftestResults");
  ASSERT_TRUE(stored);
  EXPECT_EQ(*stored, results);
  auto reads = (*m)->calls("ata.readSmartLog");
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].getInt("address"), 6);
  EXPECT_EQ(reads[0].getInt("size"), 512);
}

TEST(SelfTestLogReaderTest, ARejectedLogWritesNoKey) {
  SectorBuilder badSum = selfTestLog(1, {{.slot = 0}});
  badSum.bytes[511] ^= 0xFF;
  struct {
    const char* name;
    Value sector;
  } cases[] = {
      {"bad checksum", badSum.sim()},
      {"revision 2", selfTestLog(1, {{.slot = 0}}, 2).sim()},
      {"read refused", Value(Dict{{"status", "0xE00002BC"}})},
      // A failed read is not decoded, even when the buffer looks sound.
      {"read failed over sound bytes",
       Value(Dict{{"data", selfTestLog(1, {{.slot = 0}}).sim()}, {"status", 5}})},
  };
  for (auto& c : cases) {
    std::unique_ptr<testing::TestMachine> m;
    auto device = deviceWithLog6(c.sector, m);
    EXPECT_TRUE(device->selftestLog().empty()) << c.name;
    EXPECT_FALSE(device->driveProperties()->contains("selftestResults")) << c.name;
    device->closeInterface();
  }
}

TEST(SelfTestLogReaderTest, AnEmptyLogStoresAnEmptyList) {
  std::unique_ptr<testing::TestMachine> m;
  auto device = deviceWithLog6(selfTestLog(0, {}).sim(), m);
  EXPECT_TRUE(device->selftestLog().empty());
  const Array* stored = device->driveProperties()->getArray("selftestResults");
  ASSERT_TRUE(stored);
  EXPECT_TRUE(stored->empty());
  device->closeInterface();
}

}  // namespace
}  // namespace sentrel::ata
