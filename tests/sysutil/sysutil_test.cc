// The system and volume utilities on simulated machines: the system
// version and its comparison, APFS containers and volume roles, the mount
// table, volume sizes, the Full Disk Access probe, and `sentrel sys`.
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

#include "sentrel/sysutil.h"
#include "sentrel/value_io.h"
#include "support/machines.h"
#include "sysutil/access_listing.h"
#include "sysutil/version_rules.h"

namespace sentrel {
namespace {

using testing::TestMachine;

Value tool(const std::string& path, const Array& arguments, const std::string& output) {
  return Value(Dict{{"tool", path}, {"arguments", arguments}, {"stdout", output}});
}

std::size_t runsOf(TestMachine& m, const std::string& path) {
  std::size_t n = 0;
  for (const Dict& call : m->calls("process.run")) n += call.stringOr("tool") == path;
  return n;
}

Dict volume(const std::string& id, Array roles) {
  return Dict{{"DeviceIdentifier", id}, {"Roles", std::move(roles)}};
}

// disk1 (store disk0s3) holds one volume with roles Data then System;
// disk3 (designated store disk0s2, first listed store disk2s2) a volume of
// each role; disk31 comes last. The statistics: "/" on disk3 in 4096-byte
// blocks, a backup volume in 512-byte blocks with more free than blocks.
Dict machineRunning(const std::string& version, Array tools = {}) {
  const Value listing(
      Dict{{"Containers",
            Array{Dict{{"ContainerReference", "disk1"},
                       {"DesignatedPhysicalStore", "disk0s3"},
                       {"Volumes", Array{volume("disk1s1", Array{"Data", "System"})}}},
                  Dict{{"ContainerReference", "disk3"},
                       {"DesignatedPhysicalStore", "disk0s2"},
                       {"PhysicalStores", Array{Dict{{"DeviceIdentifier", "disk2s2"}}}},
                       {"CapacityCeiling", 500068036608},
                       {"CapacityFree", 200000000000},
                       {"Volumes",
                        Array{volume("disk3s1", Array{"System"}), volume("disk3s5", Array{"Data"}),
                              volume("disk3s2", Array{"Preboot"}),
                              volume("disk3s3", Array{"Recovery"}), volume("disk3s4", Array{"VM"}),
                              volume("disk3s6", Array{"Backup"}), volume("disk3s7", Array{})}}},
                  Dict{{"ContainerReference", "disk31"},
                       {"DesignatedPhysicalStore", "disk5s2"},
                       {"Volumes", Array{volume("disk31s1", Array{"System"})}}}}}});
  tools.push_back(tool("/usr/bin/sw_vers", Array{"-productVersion"}, version + "\n"));
  tools.push_back(tool("/usr/sbin/diskutil", Array{"apfs", "list", "-plist"}, toXmlPlist(listing)));
  const auto mount = [](const char* from, const char* on, const char* type) {
    return Value(Dict{{"from", from}, {"on", on}, {"type", type}});
  };
  return Dict{
      {"tools", std::move(tools)},
      {"mounts", Array{mount("/dev/disk3s1s1", "/", "apfs"), mount("devfs", "/dev", "devfs"),
                       mount("/dev/disk4s1", "/Volumes/Backup", "hfs"),
                       mount("/dev/disk3s10", "/Volumes/Ten", "apfs"),
                       mount("map auto_home", "/System/Volumes/Data/home", "autofs")}},
      {"statfs", Dict{{"/", Dict{{"blockSize", 4096}, {"blocks", 1000000}, {"freeBlocks", 250000}}},
                      {"/Volumes/Backup",
                       Dict{{"blockSize", 512}, {"blocks", 2000}, {"freeBlocks", 3000}}}}}};
}

TEST(SystemVersionTest, ComparesTheRunningVersionNumerically) {
  struct Case {
    const char* running;
    std::optional<std::string_view> given;
    std::int64_t result;
  } cases[] = {
      {"10.11.6", "10.12", -1},
      {"10.12", "10.12", 0},
      {"14.5", "10.12", 1},
      {"10.9", "10.12", -1},
      {"10.13", "10.13.4", -1},
      {"11.0", "10.15.7", 1},
      {"10.13.4", "10.13", 1},
      {"14", "14.0", -1},
      {"15", "14.6", 1},
      {"10.13", "Version 10.13", 0},
      {"10.12", "v10.13beta", -1},
      {"10.13", "10.013", 0},
      {"10.13", "", 0},
      {"10.13", std::nullopt, 0},
      {"10.13", "Version", 1},
  };
  for (const Case& c : cases) {
    TestMachine m(machineRunning(c.running));
    EXPECT_EQ(KVCompareCurrentSystemVersionWith(c.given), c.result)
        << c.running << " vs " << c.given.value_or("(none)");
  }
  const std::pair<std::string_view, std::string_view> trims[] = {
      {"\xc3\xa9t\xc3\xa9 10.13b\xe2\x80\x83", "10.13"},
      {"10.13\n", "10.13\n"},
      {"Version", ""},
      {"ab 1 cd 2 ef", "1 cd 2"},
      {"x\xe2\x82 10 y", "\xe2\x82 10"},  // a cut-short character is kept
  };
  for (const auto& [given, kept] : trims) EXPECT_EQ(sysutil::trimLettersAndBlanks(given), kept);
}

TEST(SystemVersionTest, TheToolIsRunOnceAndItsAnswerStored) {
  {
    TestMachine stored(Dict{{"userDefaults", Dict{{"KVCurrentSWVers", "10.14.6"}}}});
    EXPECT_EQ(KVGetCurrentSystemString(), "10.14.6");
    EXPECT_EQ(runsOf(stored, "/usr/bin/sw_vers"), 0u);
  }
  {
    TestMachine m(machineRunning("10.15.7\nsecond line"));
    EXPECT_EQ(KVGetCurrentSystemString(), "10.15.7");
    EXPECT_EQ(KVGetCurrentSystemString(), "10.15.7");
    EXPECT_EQ(runsOf(m, "/usr/bin/sw_vers"), 1u);
    EXPECT_EQ(m->calls("userDefaults.set").at(0).stringOr("value"), "10.15.7");
  }
  TestMachine unreadable(machineRunning("10.15\xe9"));
  EXPECT_EQ(KVGetCurrentSystemString(), std::nullopt);
  EXPECT_EQ(KVGetCurrentSystemString(), std::nullopt);
  EXPECT_EQ(runsOf(unreadable, "/usr/bin/sw_vers"), 2u) << "nothing unreadable is stored";
}

TEST(ApfsVolumesTest, ContainersVolumesAndRoles) {
  {
    TestMachine m(machineRunning("10.12.6"));  // before 10.13 the first listed store counts
    EXPECT_EQ(getAPFSContainer("/dev/disk2s2")->stringOr("ContainerReference"), "disk3");
    EXPECT_FALSE(getAPFSContainer("/dev/disk0s2"));
  }
  {
    TestMachine m(machineRunning("10.11.6"));  // not looked for before 10.12
    EXPECT_FALSE(getAPFSContainer("disk3"));
  }
  TestMachine m(machineRunning("14.5"));
  for (const auto& [name, container] :
       std::vector<std::pair<const char*, const char*>>{{"disk3", "disk3"},
                                                        {"/dev/disk0s2", "disk3"},
                                                        {"/dev/rdisk0s2", "disk3"},
                                                        {"disk0s3", "disk1"},
                                                        {"/dev/disk2s2", ""},
                                                        {"disk9", ""}}) {
    auto found = getAPFSContainer(name);
    EXPECT_EQ(found ? found->stringOr("ContainerReference") : "", container) << name;
  }
  struct Case {
    std::optional<std::string> (*find)(std::string_view);
    const char* name;
    std::optional<std::string> volume;
  } cases[] = {
      {getAPFSSystemVolume, "/dev/disk3s5", "disk3s1"},
      {getAPFSDataVolume, "disk3s1", "disk3s5"},
      {getAPFSPrebootVolume, "disk3", "disk3s2"},
      {getAPFSRecoveryVolume, "/dev/disk3", "disk3s3"},
      {getAPFSDataVolume, "disk1", "disk1s1"},
      {getAPFSSystemVolume, "disk1", std::nullopt},
      {getAPFSSystemVolume, "disk31s1", "disk3s1"},  // disk3 is a prefix and comes first
      {getAPFSSystemVolume, "disk9", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(c.find(c.name), c.volume) << c.name;
  EXPECT_EQ(getAPFSVolumeRole("disk3s6"), kAPFSRoleBackup);
  EXPECT_EQ(getAPFSVolumeRole("/dev/disk3s5"), kAPFSRoleOther);
}

TEST(VolumeSizesTest, SizesAreBlocksTimesTheirOwnBlockSize) {
  TestMachine m(machineRunning("14.5"));
  struct Case {
    const char* path;
    double total, free, used, apfsUsed;
  } cases[] = {
      {"/", 4096000000.0, 1024000000.0, 3072000000.0, 300068036608.0},  // container disk3
      {"/Users/me", 4096000000.0, 1024000000.0, 3072000000.0, 3072000000.0},
      {"/Volumes/Backup", 1024000.0, 1536000.0, -512000.0, -512000.0},  // no container
      {"relative/path", 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KVFoundationGetVolTotalSize(c.path), c.total) << c.path;
    EXPECT_EQ(KVFoundationGetVolFreeSize(c.path), c.free) << c.path;
    EXPECT_EQ(KVFoundationGetVolUsedSize(c.path), c.used) << c.path;
    EXPECT_EQ(KVFoundationGetAPFSVolUsedSize(c.path), c.apfsUsed) << c.path;
  }
  const std::pair<std::optional<double>, const char*> texts[] = {
      {1000, "1000 bytes"},
      {1001, "1 KB"},
      {1500, "1.50 KB"},
      {999999, "1000 KB"},
      {2e12, "2 TB"},
      {2e27, "2 YB"},
      {-5, "-5 bytes"},
      {std::nullopt, "0 bytes"},
      {std::numeric_limits<double>::quiet_NaN(), "nan bytes"},
  };
  for (const auto& [bytes, text] : texts)
    EXPECT_EQ(KVFoundationConvertBytesToStringValue(bytes), text) << bytes.value_or(-1);
  for (const auto& [count, text, rounded] : std::vector<std::tuple<double, const char*, double>>{
           {5767168.0, "5M", 5242880.0}, {1048575.0, "0M", 0.0}, {-1.0, "-1M", -1048576.0}}) {
    double n = count;
    EXPECT_EQ(KVFoundationRoundByteCountToMBAndString(n), text);
    EXPECT_EQ(n, rounded);
  }
}

TEST(FullDiskAccessTest, AllThreeClientsMustBeGranted) {
  const auto row = [](const std::string& client, const std::string& grant,
                      const std::string& service = "kTCCServiceSystemPolicyAllFiles") {
    return service + "|" + client + "|0|" + grant + "|1|1|\n";
  };
  const std::string app = row("com.brindlex.vantrelzel20", "2");
  const std::string helper = row("com.brindlex.vantrelzel20.QRX20BackgroundTool", "2");
  const std::string companion = row("com.brindlex.larkspan.LarkspanBackground", "1");
  const std::pair<std::string, bool> cases[] = {
      {companion + app + helper, true},
      {app + row("com.brindlex.vantrelzel20.QRX20BackgroundTool", "0") + companion, false},
      {app + helper, false},
      {row("/Applications/Vantrel Zel 20.app", "yes") + helper + companion, true},
      {app + row("com.brindlex.vantrelzel20", "0") + helper + companion, true},
      {row("com.brindlex.vantrelzel20", "2", "kTCCServiceCamera") + helper + companion, false},
      {app + helper + "kTCCServiceSystemPolicyAllFiles|com.brindlex.larkspan.LarkspanBackground|1",
       false},  // three fields only
      {"", false},
  };
  for (const auto& [listing, granted] : cases)
    EXPECT_EQ(sysutil::fullDiskAccessGranted(listing), granted) << listing;
}

}  // namespace
}  // namespace sentrel
