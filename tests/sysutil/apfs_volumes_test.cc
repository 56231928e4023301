#include <gtest/gtest.h>

#include "sentrel/sysutil.h"
#include "sysutil/sys_machines.h"

namespace sentrel {
namespace {

using sysutil_testing::apfsList;
using sysutil_testing::machineRunning;
using sysutil_testing::runsOf;
using sysutil_testing::tool;
using testing::TestMachine;

constexpr const char* kDiskTool = "/usr/sbin/diskutil";

Dict volume(const std::string& id, Array roles) {
  return Dict{{"DeviceIdentifier", id}, {"Roles", std::move(roles)}};
}

// disk1 (on disk0s3) holds one volume whose roles are Data then System;
// disk3 (designated store disk0s2, first listed store disk2s2) holds a
// volume of every role and some without a usable one; disk31 comes last.
Value listing() {
  Dict disk1{{"ContainerReference", "disk1"},
             {"DesignatedPhysicalStore", "disk0s3"},
             {"PhysicalStores", Array{Dict{{"DeviceIdentifier", "disk0s3"}}}},
             {"Volumes", Array{volume("disk1s1", Array{"Data", "System"})}}};
  Dict disk3{
      {"ContainerReference", "disk3"},
      {"DesignatedPhysicalStore", "disk0s2"},
      {"PhysicalStores", Array{Dict{{"DeviceIdentifier", "disk2s2"}}}},
      {"CapacityCeiling", 500068036608},
      {"CapacityFree", 200000000000},
      {"Volumes", Array{volume("disk3s1", Array{"System"}), volume("disk3s5", Array{"Data"}),
                        volume("disk3s2", Array{"Preboot"}), volume("disk3s3", Array{"Recovery"}),
                        volume("disk3s4", Array{"VM"}), volume("disk3s6", Array{"Backup"}),
                        volume("disk3s7", Array{}), Dict{{"DeviceIdentifier", "disk3s8"}},
                        volume("disk3s9", Array{"Update"})}}};
  Dict disk31{{"ContainerReference", "disk31"},
              {"DesignatedPhysicalStore", "disk5s2"},
              {"Volumes", Array{volume("disk31s1", Array{"System"})}}};
  return Value(Dict{{"Containers", Array{disk1, disk3, disk31}}});
}

Dict containerNamed(const std::string& ref) {
  Value all = listing();
  for (const Value& c : *all.ifDict()->getArray("Containers")) {
    if (c.ifDict()->stringOr("ContainerReference") == ref) return *c.ifDict();
  }
  return {};
}

TEST(ApfsVolumesTest, ContainerByNameOrByItsPhysicalStore) {
  struct Case {
    const char* system;
    const char* name;
    const char* container;  // "" for nothing
  } cases[] = {
      {"14.5", "disk3", "disk3"},         // the second container, by its name
      {"14.5", "/dev/disk3", "disk3"},    // the last path component counts
      {"14.5", "/dev/disk0s2", "disk3"},  // by the designated physical store
      {"14.5", "disk0s3", "disk1"},
      {"14.5", "/dev/rdisk0s2", "disk3"},    // a suffix test: rdisk0s2 ends with disk0s2
      {"14.5", "/dev/disk2s2", ""},          // only the designated store counts from 10.13
      {"10.12.6", "/dev/disk2s2", "disk3"},  // before 10.13 the first listed store counts
      {"10.12.6", "/dev/disk0s2", ""},
      {"10.12.6", "disk31", "disk31"},
      {"14.5", "disk9", ""},
  };
  for (const Case& c : cases) {
    TestMachine m(machineRunning(c.system, {apfsList(listing())}));
    auto found = getAPFSContainer(c.name);
    if (*c.container) {
      ASSERT_TRUE(found) << c.system << " " << c.name;
      EXPECT_EQ(*found, containerNamed(c.container)) << c.system << " " << c.name;
    } else {
      EXPECT_FALSE(found) << c.system << " " << c.name;
    }
  }
}

TEST(ApfsVolumesTest, ContainerIsNotLookedForBefore1012) {
  TestMachine m(machineRunning("10.11.6", {apfsList(listing())}));
  EXPECT_FALSE(getAPFSContainer("disk3"));
  EXPECT_TRUE(runsOf(m, kDiskTool).empty());
}

TEST(ApfsVolumesTest, UnusableListingsGiveNothing) {
  struct Case {
    const char* name;
    Array tools;
  } cases[] = {
      {"no disk utility", {}},
      {"an error text", {tool(kDiskTool, Array{"apfs", "list", "-plist"}, "Error: -69808\n")}},
      {"no containers", {apfsList(Value(Dict{{"Other", 1}}))}},
      {"empty containers", {apfsList(Value(Dict{{"Containers", Array{}}}))}},
      {"containers of another kind", {apfsList(Value(Dict{{"Containers", "disk3"}}))}},
  };
  for (const Case& c : cases) {
    TestMachine m(machineRunning("14.5", c.tools));
    EXPECT_FALSE(getAPFSContainer("disk3")) << c.name;
    EXPECT_FALSE(getAPFSSystemVolume("disk3")) << c.name;
    EXPECT_EQ(getAPFSVolumeRole("disk3s1"), kAPFSRoleOther) << c.name;
  }
}

TEST(ApfsVolumesTest, RoleVolumesByContainerPrefix) {
  TestMachine m(machineRunning("14.5", {apfsList(listing())}));
  struct Case {
    std::optional<std::string> (*find)(std::string_view);
    const char* name;
    std::optional<std::string> volume;
  } cases[] = {
      {getAPFSSystemVolume, "/dev/disk3s5", "disk3s1"},
      {getAPFSSystemVolume, "disk3", "disk3s1"},
      {getAPFSDataVolume, "disk3s1", "disk3s5"},
      {getAPFSPrebootVolume, "disk3", "disk3s2"},
      {getAPFSRecoveryVolume, "/dev/disk3", "disk3s3"},
      // Roles "Data" then "System": a Data volume only.
      {getAPFSDataVolume, "disk1", "disk1s1"},
      {getAPFSSystemVolume, "disk1", std::nullopt},
      // disk3 is a prefix of disk31s1 and comes first in the listing.
      {getAPFSSystemVolume, "disk31s1", "disk3s1"},
      // disk31 has no Data volume: the search goes on to later containers.
      {getAPFSDataVolume, "disk31s1", "disk3s5"},
      {getAPFSSystemVolume, "disk9", std::nullopt},
      {getAPFSSystemVolume, "", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(c.find(c.name), c.volume) << c.name;
}

TEST(ApfsVolumesTest, RoleCodesOfVolumes) {
  TestMachine m(machineRunning("10.11.6", {apfsList(listing())}));  // no version check here
  struct Case {
    const char* name;
    std::int32_t code;
  } cases[] = {
      {"disk3s1", kAPFSRoleSystem},     {"disk3s5", kAPFSRoleData},
      {"disk3s2", kAPFSRolePreboot},    {"disk3s3", kAPFSRoleRecovery},
      {"disk3s4", kAPFSRoleVM},         {"disk3s6", kAPFSRoleBackup},
      {"disk3s7", kAPFSRoleOther},      {"disk3s8", kAPFSRoleOther},
      {"disk3s9", kAPFSRoleOther},      {"disk1s1", kAPFSRoleData},
      {"/dev/disk3s5", kAPFSRoleOther}, {"disk9s1", kAPFSRoleOther},
      {"disk31s1", kAPFSRoleSystem},
  };
  for (const Case& c : cases) EXPECT_EQ(getAPFSVolumeRole(c.name), c.code) << c.name;
  EXPECT_EQ(runsOf(m, kDiskTool).size(), std::size(cases));
}

TEST(ApfsVolumesTest, EveryQueryRunsTheDiskUtilityAfresh) {
  TestMachine m(machineRunning("14.5", {apfsList(listing())}));
  getAPFSSystemVolume("disk3");
  getAPFSDataVolume("disk3");
  getAPFSContainer("disk3");
  auto runs = runsOf(m, kDiskTool);
  ASSERT_EQ(runs.size(), 3u);
  for (const Dict& run : runs)
    EXPECT_EQ(*run.getArray("arguments"), (Array{"apfs", "list", "-plist"}));
}

}  // namespace
}  // namespace sentrel
