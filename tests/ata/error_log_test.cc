#include "ata/error_log.h"

#include <gtest/gtest.h>

#include <vector>

#include "ata/sector_builder.h"
#include "sentrel/smart_device.h"
#include "support/machines.h"

namespace sentrel::ata {
namespace {

using testing::SectorBuilder;

TEST(MsToTimeTest, DaysHoursMinutesAndSecondsWithMilliseconds) {
  struct {
    std::uint32_t ms;
    const char* text;
  } cases[] = {
      {0, "00:00:00:0.000"},          {1, "00:00:00:0.001"},           {999, "00:00:00:0.999"},
      {1000, "00:00:00:1.000"},       {59999, "00:00:00:59.999"},      {60000, "00:00:01:0.000"},
      {3723456, "00:01:02:3.456"},    {86399999, "00:23:59:59.999"},   {86400000, "01:00:00:0.000"},
      {792753481, "09:04:12:33.481"}, {4294967295, "49:17:02:47.295"},
  };
  for (const auto& c : cases) EXPECT_EQ(msToTime(c.ms), c.text) << c.ms;
  KVSMARTDevice device;
  EXPECT_EQ(device.msToTime(3723456), "00:01:02:3.456");
}

struct Command {
  std::uint8_t transport = 0, feature = 0, count = 0;
  std::uint32_t lba = 0;
  std::uint8_t device = 0, command = 0;
  std::uint32_t ms = 0;
};

void putCommand(SectorBuilder& s, std::size_t entry, std::size_t j, const Command& c) {
  std::size_t at = 2 + 90 * entry + 12 * j;
  s.put8(at, c.transport).put8(at + 1, c.feature).put8(at + 2, c.count).put24(at + 3, c.lba);
  s.put8(at + 6, c.device).put8(at + 7, c.command).put32(at + 8, c.ms);
}

struct ErrorRecord {
  std::uint8_t error = 0, count = 0;
  std::uint32_t lba = 0;
  std::uint8_t device = 0, status = 0, state = 0;
  std::uint16_t hours = 0;
};

void putError(SectorBuilder& s, std::size_t entry, const ErrorRecord& e) {
  std::size_t at = 2 + 90 * entry + 60;
  s.put8(at + 1, e.error).put8(at + 2, e.count).put24(at + 3, e.lba).put8(at + 6, e.device);
  s.put8(at + 7, e.status).put8(at + 27, e.state).put16(at + 28, e.hours);
}

SectorBuilder errorLogSector(std::uint8_t version = 1, std::uint8_t index = 0,
                             std::uint16_t count = 0) {
  SectorBuilder s;
  s.put8(0, version).put8(1, index).put16(452, count);
  return s;
}

TEST(ErrorLogTest, AnAllZeroLogListsFiveEntriesOfFiveCommands) {
  auto log = decodeErrorLog(errorLogSector().view());
  ASSERT_TRUE(log);
  std::vector<std::string> keys;
  for (const auto& e : *log) keys.push_back(e.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"errorLog", "errorLogVersion", "errorLogIndex",
                                            "errorLogCount"}));
  EXPECT_EQ(*log->find("errorLogVersion"), Value(1u));
  const Array& entries = *log->getArray("errorLog");
  ASSERT_EQ(entries.size(), 5u);
  for (const Value& v : entries) {
    const Dict& e = *v.ifDict();
    EXPECT_EQ(e.stringOr("error"), "unknown");
    EXPECT_EQ(e.stringOr("status"), "0x00");
    EXPECT_EQ(e.stringOr("state"), "Unknown");
    EXPECT_EQ(*e.find("lba"), Value(0u));
    const Array& cmnds = *e.getArray("cmnds");
    ASSERT_EQ(cmnds.size(), 5u);
    for (const Value& c : cmnds) {
      EXPECT_EQ(c.ifDict()->stringOr("command"), "NOP");
      EXPECT_EQ(c.ifDict()->stringOr("feature"), "");
      EXPECT_EQ(c.ifDict()->stringOr("device"), "0x00");
      EXPECT_EQ(c.ifDict()->stringOr("timestamp"), "00:00:00:0.000");
    }
  }
}

TEST(ErrorLogTest, EntriesInSectorOrderCommandsNewestFirst) {
  // Entry k's error record carries hours 100 + k; its command j carries
  // the transport value 10 * k + j, so every position shows where it came from.
  SectorBuilder s = errorLogSector(1, 3, 7);
  for (std::size_t k = 0; k < 5; ++k) {
    putError(s, k, {.hours = static_cast<std::uint16_t>(100 + k)});
    for (std::size_t j = 0; j < 5; ++j) {
      putCommand(s, k, j, {.transport = static_cast<std::uint8_t>(10 * k + j)});
    }
  }
  auto log = decodeErrorLog(s.view());
  ASSERT_TRUE(log);
  EXPECT_EQ(*log->find("errorLogIndex"), Value(3u));  // the index does not reorder
  EXPECT_EQ(*log->find("errorLogCount"), Value(7u));
  const Array& entries = *log->getArray("errorLog");
  ASSERT_EQ(entries.size(), 5u);
  for (std::size_t k = 0; k < 5; ++k) {
    const Dict& e = *entries[k].ifDict();
    EXPECT_EQ(*e.find("index"), Value(static_cast<int>(k)));
    EXPECT_EQ(*e.find("timestamp"), Value(static_cast<unsigned>(100 + k)));
    const Array& cmnds = *e.getArray("cmnds");
    ASSERT_EQ(cmnds.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
      std::size_t j = 4 - i;
      EXPECT_EQ(*cmnds[i].ifDict()->find("index"), Value(static_cast<int>(j)));
      EXPECT_EQ(*cmnds[i].ifDict()->find("transport"), Value(static_cast<unsigned>(10 * k + j)));
    }
  }
}

TEST(ErrorLogTest, CommandRecordFields) {
  struct {
    Command record;
    Dict expected;
  } cases[] = {
      {{.feature = 0xD5,
        .count = 1,
        .lba = 0xC24F06,
        .device = 0xA0,
        .command = 0xB0,
        .ms = 3723456},
       Dict{{"transport", 0u},
            {"feature", "SMART READ LOG"},
            {"count", 1u},
            {"lba", 0xC24F06u},
            {"device", "0xA0"},
            {"command", "SMART"},
            {"timestamp", "00:01:02:3.456"},
            {"index", 4}}},
      {{.transport = 0x08, .feature = 0xD5, .lba = 0x002710, .device = 0xE0, .command = 0x25},
       Dict{{"transport", 8u},
            {"feature", ""},
            {"count", 0u},
            {"lba", 10000u},
            {"device", "0xE0"},
            {"command", "READ DMA EXT"},
            {"timestamp", "00:00:00:0.000"},
            {"index", 4}}},
      {{.feature = 0x10, .count = 2, .command = 0xEF, .ms = 0xFFFFFFFF},
       Dict{{"transport", 0u},
            {"feature", "Enable use of SATA feature"},
            {"count", 2u},
            {"lba", 0u},
            {"device", "0x00"},
            {"command", "SET FEATURES"},
            {"timestamp", "49:17:02:47.295"},
            {"index", 4}}},
      {{.lba = 0xFFFFFF, .device = 0x4F, .command = 0x01},
       Dict{{"transport", 0u},
            {"feature", ""},
            {"count", 0u},
            {"lba", 0xFFFFFFu},
            {"device", "0x4F"},
            {"command", "undefined 01"},
            {"timestamp", "00:00:00:0.000"},
            {"index", 4}}},
  };
  for (const auto& c : cases) {
    SectorBuilder s = errorLogSector();
    putCommand(s, 0, 4, c.record);
    auto log = decodeErrorLog(s.view());
    ASSERT_TRUE(log);
    const Value& first = (*log->getArray("errorLog"))[0].ifDict()->getArray("cmnds")->at(0);
    EXPECT_EQ(first, Value(c.expected)) << c.expected.stringOr("command");
  }
}

TEST(ErrorLogTest, ErrorRecordFields) {
  SectorBuilder s = errorLogSector(1, 1, 1);
  putError(s, 0,
           {.error = 0x40,
            .count = 0x10,
            .lba = 0x3F1C28,
            .device = 0x0A,
            .status = 0x51,
            .state = 0x03,
            .hours = 18498});
  // Bytes the record does not read must not leak into it.
  s.put8(2 + 60, 0xEE).put8(2 + 60 + 8, 0xEE).put8(2 + 60 + 26, 0xEE);
  auto log = decodeErrorLog(s.view());
  ASSERT_TRUE(log);
  Dict e = *(*log->getArray("errorLog"))[0].ifDict();
  e.erase("cmnds");
  EXPECT_EQ(e, (Dict{{"error", " UNCORRECTABLE ERROR"},
                     {"count", 16u},
                     {"lba", 0x3F1C28u},
                     {"device", "0x0A"},
                     {"status", "0x51"},
                     {"state", "Active/Idle"},
                     {"timestamp", 18498u},
                     {"index", 0}}));
}

TEST(ErrorLogTest, OnlyVersionOneIsRead) {
  for (std::uint8_t version : {0, 2, 0xFF}) {
    EXPECT_FALSE(decodeErrorLog(errorLogSector(version).view())) << int{version};
  }
  // The checksum is not examined.
  SectorBuilder s = errorLogSector();
  s.put8(511, 0x5A);
  EXPECT_TRUE(decodeErrorLog(s.view()));
}

class ErrorLogReaderTest : public ::testing::Test {
 protected:
  std::unique_ptr<KVSMARTDevice> open(Value log1) {
    Dict disk = testing::sataDisk("disk0");
    testing::ataBlock(disk).set("logs", Dict{{"1", std::move(log1)}});
    machine_.reset();  // one installed machine at a time
    machine_ = std::make_unique<testing::TestMachine>(std::initializer_list<Dict>{disk});
    auto device = KVSMARTDevice::deviceWithBSDName("disk0");
    EXPECT_TRUE(device && device->openInterface());
    return device;
  }
  std::unique_ptr<testing::TestMachine> machine_;
};

TEST_F(ErrorLogReaderTest, WritesTheFourKeys) {
  SectorBuilder s = errorLogSector(1, 1, 0x1234);
  putError(s, 0, {.error = 0x04, .status = 0x51});
  auto device = open(s.sim());
  device->errorLog();
  device->closeInterface();
  const Dict& props = *device->driveProperties();
  ASSERT_TRUE(props.getArray("errorLog"));
  EXPECT_EQ(props.getArray("errorLog")->size(), 5u);
  EXPECT_EQ((*props.getArray("errorLog"))[0].ifDict()->stringOr("error"), " ABORT");
  EXPECT_EQ(*props.find("errorLogVersion"), Value(1u));
  EXPECT_EQ(*props.find("errorLogIndex"), Value(1u));
  EXPECT_EQ(*props.find("errorLogCount"), Value(0x1234u));
  EXPECT_EQ((*machine_)->calls("ata.readSmartLog")[0].getInt("address"), 1);
}

TEST_F(ErrorLogReaderTest, AnUnreadableLogWritesNothing) {
  struct {
    const char* name;
    Value sector;
  } cases[] = {
      {"version 0", errorLogSector(0).sim()},
      {"read refused", Value(Dict{{"status", "0xE00002BC"}})},
      {"read failed over sound bytes",
       Value(Dict{{"data", errorLogSector().sim()}, {"status", 5}})},
  };
  for (auto& c : cases) {
    auto device = open(c.sector);
    std::size_t before = device->driveProperties()->size();
    device->errorLog();
    device->closeInterface();
    EXPECT_EQ(device->driveProperties()->size(), before) << c.name;
    EXPECT_FALSE(device->driveProperties()->contains("errorLog")) << c.name;
  }
}

}  // namespace
}  // namespace sentrel::ata
