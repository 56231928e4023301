#include "ata/log_directory.h"

#include <gtest/gtest.h>

#include <vector>

#include "ata/sector_builder.h"
#include "sentrel/smart_device.h"
#include "support/machines.h"

namespace sentrel::ata {
namespace {

using testing::SectorBuilder;

// A version-1 directory where log N has N + 1000 pages, so every entry
// shows which word it read.
SectorBuilder numberedDirectory(std::uint16_t version = 1) {
  SectorBuilder s;
  s.put16(0, version);
  for (std::size_t n = 1; n < 256; ++n) s.put16(2 * n, static_cast<std::uint16_t>(n + 1000));
  return s;
}

TEST(LogDirectoryTest, ThirteenNamedLogsInAddressOrder) {
  struct Row {
    int address;
    const char* name;
  };
  const std::vector<Row> expected{
      {1, "Summary SMART Error"},
      {2, "Comprehensive SMART Error"},
      {3, "Extended Comprehensive SMART Error"},
      {4, "Device Statistics"},
      {6, "SMART Selftest"},
      {7, "Extended SMART Selftest"},
      {9, "Selective Selftest"},
      {16, "NCQ Command Error"},
      {17, "SATA Phy Event Counters"},
      {33, "Write Stream Error"},
      {34, "Read Stream Error"},
      {224, "SCT Command/Status"},
      {225, "SCT Data Transfer"},
  };
  LogDirectory dir = decodeLogDirectory(numberedDirectory().view());
  ASSERT_EQ(dir.logs.size(), expected.size());
  ASSERT_EQ(dir.logDir.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    Dict entry{{"logAddress", expected[i].address},
               {"pages", static_cast<unsigned>(expected[i].address + 1000)},
               {"name", expected[i].name}};
    EXPECT_EQ(dir.logs[i], Value(entry)) << expected[i].address;
    EXPECT_EQ(dir.logDir.entries()[i].key, std::to_string(expected[i].address));
    EXPECT_EQ(dir.logDir.entries()[i].value, Value(entry));
  }
  const Dict& first = *dir.logs[0].ifDict();
  EXPECT_EQ(first.find("logAddress")->kind(), Value::Kind::integer);
  EXPECT_EQ(first.find("pages")->kind(), Value::Kind::unsignedInteger);
}

TEST(LogDirectoryTest, LogsWithoutPagesAreListedToo) {
  SectorBuilder s;
  s.put16(0, 1).put16(2 * 6, 1);
  LogDirectory dir = decodeLogDirectory(s.view());
  ASSERT_EQ(dir.logs.size(), 13u);
  EXPECT_EQ(dir.logDir.getDict("6")->find("pages")->toUInt(), 1u);
  EXPECT_EQ(dir.logDir.getDict("225")->find("pages")->toUInt(), 0u);
  EXPECT_FALSE(dir.logDir.contains("5"));
  EXPECT_FALSE(dir.logDir.contains("128"));
}

TEST(LogDirectoryTest, OnlyVersionOneIsRead) {
  for (std::uint16_t version : {0, 2, 0x0100, 0xFFFF}) {
    LogDirectory dir = decodeLogDirectory(numberedDirectory(version).view());
    EXPECT_TRUE(dir.logs.empty()) << version;
    EXPECT_TRUE(dir.logDir.empty()) << version;
  }
}

TEST(LogDirectoryTest, NamesOfEveryAddress) {
  int named = 0;
  for (unsigned a = 0; a <= 255; ++a) named += logName(static_cast<std::uint8_t>(a)) != "reserved";
  EXPECT_EQ(named, 13);
  EXPECT_EQ(logName(0), "reserved");
  EXPECT_EQ(logName(0x11), "SATA Phy Event Counters");
  EXPECT_EQ(logName(0xE1), "SCT Data Transfer");
}

class LogDirectoryReaderTest : public ::testing::Test {
 protected:
  std::unique_ptr<KVSMARTDevice> open(Value log0) {
    Dict disk = testing::sataDisk("disk0");
    testing::ataBlock(disk).set("logs", Dict{{"0", std::move(log0)}});
    machine_.reset();  // one installed machine at a time
    machine_ = std::make_unique<testing::TestMachine>(std::initializer_list<Dict>{disk});
    auto device = KVSMARTDevice::deviceWithBSDName("disk0");
    EXPECT_TRUE(device && device->openInterface());
    return device;
  }
  std::unique_ptr<testing::TestMachine> machine_;
};

TEST_F(LogDirectoryReaderTest, StoresTheListAndTheDictionary) {
  auto device = open(numberedDirectory().sim());
  Array logs = device->logDirectory();
  device->closeInterface();
  EXPECT_EQ(logs.size(), 13u);
  const Dict& props = *device->driveProperties();
  ASSERT_TRUE(props.getArray("logs") && props.getDict("logDir"));
  EXPECT_EQ(*props.getArray("logs"), logs);
  EXPECT_EQ(props.getDict("logDir")->size(), 13u);
  EXPECT_EQ((*machine_)->calls("ata.readSmartLog")[0].getInt("address"), 0);
}

TEST_F(LogDirectoryReaderTest, ARejectedDirectoryStoresEmptyValues) {
  struct {
    const char* name;
    Value sector;
  } cases[] = {
      {"version 0", numberedDirectory(0).sim()},
      {"read refused", Value(Dict{{"status", "0xE00002BC"}})},
      {"read failed over sound bytes",
       Value(Dict{{"data", numberedDirectory().sim()}, {"status", 5}})},
  };
  for (auto& c : cases) {
    auto device = open(c.sector);
    EXPECT_TRUE(device->logDirectory().empty()) << c.name;
    device->closeInterface();
    const Dict& props = *device->driveProperties();
    ASSERT_TRUE(props.getArray("logs") && props.getDict("logDir")) << c.name;
    EXPECT_TRUE(props.getArray("logs")->empty()) << c.name;
    EXPECT_TRUE(props.getDict("logDir")->empty()) << c.name;
  }
}

}  // namespace
}  // namespace sentrel::ata
