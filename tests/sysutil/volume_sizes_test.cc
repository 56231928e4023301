#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "sentrel/sysutil.h"
#include "sysutil/sys_machines.h"

namespace sentrel {
namespace {

using sysutil_testing::apfsList;
using sysutil_testing::machineRunning;
using testing::TestMachine;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Dict volumeMachine(const std::string& system = "14.5") {
  Array mounts{Dict{{"from", "/dev/disk3s1s1"}, {"on", "/"}, {"type", "apfs"}},
               Dict{{"from", "devfs"}, {"on", "/dev"}, {"type", "devfs"}},
               Dict{{"from", "/dev/disk4s1"}, {"on", "/Volumes/Backup"}, {"type", "hfs"}}};
  Dict statfs{
      {"/", Dict{{"blockSize", 4096}, {"blocks", 1000000}, {"freeBlocks", 250000}}},
      // More free than total blocks: the used size is negative, not huge.
      {"/Volumes/Backup", Dict{{"blockSize", 512}, {"blocks", 2000}, {"freeBlocks", 3000}}}};
  Value listing(Dict{{"Containers", Array{Dict{{"ContainerReference", "disk3"},
                                               {"DesignatedPhysicalStore", "disk0s2"},
                                               {"CapacityCeiling", 500068036608},
                                               {"CapacityFree", 200000000000}}}}});
  return machineRunning(system, {apfsList(listing)}, Dict{{"mounts", mounts}, {"statfs", statfs}});
}

TEST(VolumeSizesTest, SizesFromTheStatisticsOfTheHoldingVolume) {
  TestMachine m(volumeMachine());
  struct Case {
    const char* path;
    double total, free, used;
  } cases[] = {
      {"/", 4096000000.0, 1024000000.0, 3072000000.0},
      {"/Users/me/Documents", 4096000000.0, 1024000000.0, 3072000000.0},
      {"/Volumes/Backup", 1024000.0, 1536000.0, -512000.0},
      {"relative/path", 0, 0, 0},  // no statistics
      {"", 0, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KVFoundationGetVolTotalSize(c.path), c.total) << c.path;
    EXPECT_EQ(KVFoundationGetVolFreeSize(c.path), c.free) << c.path;
    EXPECT_EQ(KVFoundationGetVolUsedSize(c.path), c.used) << c.path;
  }
  EXPECT_EQ(KVFoundationGetVolTotalSizeString("/"), "4.10 GB");
  EXPECT_EQ(KVFoundationGetVolUsedSizeString("/"), "3.07 GB");
  EXPECT_EQ(KVFoundationGetVolUsedSizeString("relative"), "0 bytes");
}

TEST(VolumeSizesTest, ApfsUsedSizeIsThatOfTheContainer) {
  TestMachine m(volumeMachine());
  struct Case {
    const char* mountPoint;
    double used;
  } cases[] = {
      {"/", 300068036608.0},           // /dev/disk3s1s1 lies in container disk3
      {"/Users/me", 3072000000.0},     // not a mount point: the statistics
      {"/Volumes/Backup", -512000.0},  // disk4 has no container
      {"/dev", 3072000000.0},          // devfs names no disk
  };
  for (const Case& c : cases)
    EXPECT_EQ(KVFoundationGetAPFSVolUsedSize(c.mountPoint), c.used) << c.mountPoint;
}

TEST(VolumeSizesTest, ApfsUsedSizeCountsMissingCapacitiesAsZero) {
  Value listing(Dict{
      {"Containers", Array{Dict{{"ContainerReference", "disk3"}, {"CapacityCeiling", 1000}}}}});
  TestMachine m(
      machineRunning("14.5", {apfsList(listing)},
                     Dict{{"mounts", Array{Dict{{"from", "/dev/disk3s5"}, {"on", "/Data"}}}}}));
  EXPECT_EQ(KVFoundationGetAPFSVolUsedSize("/Data"), 1000.0);
}

TEST(VolumeSizesTest, ReadableTextInDecimalUnits) {
  TestMachine m(machineRunning("14.5"));
  struct Case {
    std::optional<double> bytes;
    const char* text;
  } cases[] = {
      {0, "0 bytes"},      {512, "512 bytes"},       {1000, "1000 bytes"},
      {1001, "1 KB"},      {1500, "1.50 KB"},        {999999, "1000 KB"},
      {1e12, "1000 GB"},   {2e12, "2 TB"},           {1.234, "1.23 bytes"},
      {2e21, "2 ZB"},      {2e24, "2 YB"},           {2e27, "2 YB"},
      {-5, "-5 bytes"},    {-2e6, "-2000000 bytes"}, {kNaN, "nan bytes"},
      {kInf, "inf bytes"}, {-kInf, "-inf bytes"},    {std::nullopt, "0 bytes"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(KVFoundationConvertBytesToStringValue(c.bytes), c.text) << c.bytes.value_or(-1);
}

TEST(VolumeSizesTest, ReadableTextInBinaryUnitsBefore106) {
  TestMachine m(machineRunning("10.5.8"));
  struct Case {
    double bytes;
    const char* text;
  } cases[] = {
      {1536, "1.50 KB"},   {1048576, "1024 KB"}, {1024, "1024 bytes"},
      {1025, "1 KB"},      {1048577, "1 MB"},    {2.0 * std::pow(1024.0, 9), "2 YB"},
      {kNaN, "nan bytes"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(KVFoundationConvertBytesToStringValue(c.bytes), c.text) << c.bytes;
}

TEST(VolumeSizesTest, RoundsDownToWholeMebibytes) {
  struct Case {
    double count;
    double rounded;
    const char* text;
  } cases[] = {
      {5767168.0, 5242880.0, "5M"}, {1048575.0, 0.0, "0M"},
      {1048576.0, 1048576.0, "1M"}, {0.0, 0.0, "0M"},
      {-1.0, -1048576.0, "-1M"},    {1e12, 999999668224.0, "953674M"},
  };
  for (const Case& c : cases) {
    double count = c.count;
    EXPECT_EQ(KVFoundationRoundByteCountToMBAndString(count), c.text) << c.count;
    EXPECT_EQ(count, c.rounded) << c.count;
    EXPECT_EQ(std::fmod(count, 1048576.0), 0.0) << c.count;
  }
}

TEST(VolumeSizesTest, RemovesOnlyATrailingSuffix) {
  struct Case {
    const char* text;
    const char* suffix;
    const char* out;
  } cases[] = {{"1.00", ".00", "1"}, {"1.50", ".00", "1.50"},     {"1000.00", ".00", "1000"},
               {".00", ".00", ""},   {"1.00.5", ".00", "1.00.5"}, {"abc", "", "abc"},
               {"00", ".00", "00"}};
  for (const Case& c : cases) EXPECT_EQ(stringByRemovingSuffix(c.text, c.suffix), c.out) << c.text;
}

TEST(VolumeSizesTest, DeepCopyOfPropertyListsOnly) {
  Value original(Dict{{"Containers", Array{Dict{{"Name", "disk3"}, {"Bytes", Data{1, 2}}}}}});
  auto copy = KVDeepMutableCopyPropertyListObject(original);
  ASSERT_TRUE(copy);
  EXPECT_EQ(*copy, original);
  // The copy is the caller's own at every level.
  (*copy->ifDict()->find("Containers")->ifArray())[0].ifDict()->set("Name", "changed");
  EXPECT_EQ((*original.ifDict()->getArray("Containers"))[0].ifDict()->stringOr("Name"), "disk3");

  EXPECT_EQ(KVDeepMutableCopyPropertyListObject(Value("leaf")), Value("leaf"));
  EXPECT_FALSE(KVDeepMutableCopyPropertyListObject(Value()));
  EXPECT_FALSE(KVDeepMutableCopyPropertyListObject(Value(Color::red)));
  EXPECT_FALSE(KVDeepMutableCopyPropertyListObject(
      Value(Dict{{"deep", Array{Value(StyledText{.text = "styled"})}}})));
}

}  // namespace
}  // namespace sentrel
