#include <gtest/gtest.h>

#include "sentrel/sysutil.h"
#include "sysutil/sys_machines.h"

namespace sentrel {
namespace {

using sysutil_testing::machineRunning;
using testing::TestMachine;

Dict mount(const std::string& from, const std::string& on, const std::string& type) {
  return Dict{{"from", from}, {"on", on}, {"type", type}};
}

Array mountTable() {
  return Array{mount("/dev/disk3s1s1", "/", "apfs"),
               mount("devfs", "/dev", "devfs"),
               mount("/dev/disk3s5", "/System/Volumes/Data", "apfs"),
               mount("/dev/disk4s1", "/Volumes/Backup", "hfs"),
               mount("/dev/disk3s10", "/Volumes/Ten", "apfs"),
               mount("map auto_home", "/System/Volumes/Data/home", "autofs")};
}

TEST(MountsTest, DeviceMountedExactlyAtAPath) {
  TestMachine m(machineRunning("14.5", {}, Dict{{"mounts", mountTable()}}));
  struct Case {
    const char* path;
    const char* from;
  } cases[] = {{"/", "/dev/disk3s1s1"},
               {"/Volumes/Backup", "/dev/disk4s1"},
               {"/System/Volumes/Data", "/dev/disk3s5"},
               {"/Volumes", ""},
               {"/Volumes/Backup/", ""},
               {"/Volumes/Backup/folder", ""},
               {"", ""}};
  for (const Case& c : cases) EXPECT_EQ(getVolumeMountFromName(c.path), c.from) << c.path;
}

TEST(MountsTest, MountPointOfADeviceByPrefixThenByPart) {
  TestMachine m(machineRunning("14.5", {}, Dict{{"mounts", mountTable()}}));
  struct Case {
    std::optional<std::string_view> device;
    const char* on;
  } cases[] = {
      {"disk3s1", "/"},  // /dev/disk3s1 begins /dev/disk3s1s1, the first record
      {"/dev/disk3s1", "/"},
      {"disk3s5", "/System/Volumes/Data"},
      {"disk4s1", "/Volumes/Backup"},
      {"disk3s10", "/Volumes/Ten"},
      {"disk3", "/"},                              // a prefix of the first record already
      {"auto_home", "/System/Volumes/Data/home"},  // found as a part of "map auto_home"
      {"disk9", ""},
      {std::nullopt, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(getVolumeMountOnName(c.device), c.on) << c.device.value_or("(none)");
}

TEST(MountsTest, ApfsByTheLastPathComponent) {
  TestMachine m(machineRunning("14.5", {}, Dict{{"mounts", mountTable()}}));
  struct Case {
    const char* path;
    bool apfs;
  } cases[] = {
      {"/", true},
      {"/Volumes/Backup", false},
      {"/Users/x/Backup", false},  // same tail as /Volumes/Backup, which is hfs
      {"/Users/x/Ten", true},      // same tail as /Volumes/Ten
      {"/Volumes/Unknown", false},
      {"relative", false},  // no "/": no tail
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(GetVolumeAPFS(c.path), c.apfs) << c.path;
}

TEST(MountsTest, ApfsIsNotAskedBefore1012) {
  TestMachine m(machineRunning("10.11.6", {}, Dict{{"mounts", mountTable()}}));
  EXPECT_FALSE(GetVolumeAPFS("/"));
}

TEST(MountsTest, AnEmptyTableFindsNothing) {
  TestMachine m(machineRunning("14.5"));
  EXPECT_EQ(getVolumeMountFromName("/"), "");
  EXPECT_EQ(getVolumeMountOnName("disk3s1"), "");
  EXPECT_FALSE(GetVolumeAPFS("/"));
}

}  // namespace
}  // namespace sentrel
