// `sentrel sys ...` run as a user would, on a simulated machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sentrel/value_io.h"
#include "support/run_cli.h"
#include "sysutil/sys_machines.h"

namespace sentrel {
namespace {

using sysutil_testing::apfsList;
using sysutil_testing::machineRunning;
using sysutil_testing::tool;

using testing::Outcome;
using testing::runSentrel;

class SysCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("sentrel-sys-cli-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
    Value listing(
        Dict{{"Containers", Array{Dict{{"ContainerReference", "disk3"},
                                       {"DesignatedPhysicalStore", "disk0s2"},
                                       {"Volumes", Array{Dict{{"DeviceIdentifier", "disk3s1"},
                                                              {"Roles", Array{"System"}}}}}}}}});
    Dict info{{"Destinations", Array{Dict{{"Name", "Backup"}}}}};
    Dict machine = machineRunning(
        "14.5",
        {apfsList(listing),
         tool("/usr/bin/tmutil", Array{"destinationinfo", "-X"}, toXmlPlist(Value(info)))},
        Dict{
            {"mounts", Array{Dict{{"from", "/dev/disk3s1s1"}, {"on", "/"}, {"type", "apfs"}}}},
            {"statfs",
             Dict{{"/", Dict{{"blockSize", 4096}, {"blocks", 1000000}, {"freeBlocks", 250000}}}}}});
    std::ofstream(folder_ / "machine.json") << toJson(Value(machine));
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  Outcome sys(const std::string& args) {
    return runSentrel("--sim " + folder_.string() + " sys " + args);
  }

  std::filesystem::path folder_;
};

TEST_F(SysCliTest, EachQueryPrintsItsAnswerAsPlainText) {
  struct Case {
    const char* args;
    const char* out;
  } cases[] = {
      {"version", "14.5\n"},
      {"compare 10.12", "1\n"},
      {"compare 15", "-1\n"},
      {"compare", "0\n"},
      {"role-volume System /dev/disk3s5", "disk3s1\n"},
      {"role-volume Data disk3", "\n"},  // nothing: an empty line
      {"volume-role disk3s1", "0\n"},
      {"mount-from /", "/dev/disk3s1s1\n"},
      {"mount-on disk3s1", "/\n"},
      {"is-apfs /", "true\n"},
      {"is-apfs /Volumes/Other", "false\n"},
      {"size total /", "4096000000\n"},
      {"size used / --readable", "3.07 GB\n"},
      {"size free /nowhere-relative-is-fine", "1024000000\n"},
      {"bytes 1500", "1.50 KB\n"},
      {"bytes 2e27", "2 YB\n"},
      {"bytes nan", "nan bytes\n"},
      {"bytes -- -5", "-5 bytes\n"},
      {"bytes", "0 bytes\n"},
      {"round-mb 5767168", "5M 5242880\n"},
      {"full-disk-access", "false\n"},
      {"tmutil status", "\n"},
      {"tmutil -- destinationinfo -X", "Destinations:\n  [0]\n    Name: Backup\n"},
  };
  for (const Case& c : cases) {
    Outcome r = sys(c.args);
    EXPECT_EQ(r.status, 0) << c.args << "\n" << r.out;
    EXPECT_EQ(r.out, c.out) << c.args;
  }
}

TEST_F(SysCliTest, JsonGivesTheValues) {
  struct Case {
    const char* args;
    Value value;
  } cases[] = {
      {"container /dev/disk0s2", Value(Dict{{"ContainerReference", "disk3"},
                                            {"DesignatedPhysicalStore", "disk0s2"},
                                            {"Volumes", Array{Dict{{"DeviceIdentifier", "disk3s1"},
                                                                   {"Roles", Array{"System"}}}}}})},
      {"container disk9", Value()},
      {"round-mb 1048575", Value(Dict{{"text", "0M"}, {"bytes", 0}})},
      {"is-apfs /", Value(true)},
      {"volume-role disk3s9", Value(6)},
      {"size total /", Value(4096000000)},
  };
  for (const Case& c : cases) {
    Outcome r = sys(std::string(c.args) + " --format json");
    ASSERT_EQ(r.status, 0) << c.args << "\n" << r.out;
    ReadError error;
    auto v = fromJson(r.out, &error);
    ASSERT_TRUE(v) << error.text() << "\n" << r.out;
    EXPECT_EQ(*v->ifDict()->find("result"), c.value) << c.args << "\n" << r.out;
  }
}

TEST_F(SysCliTest, BadArgumentsAreUsageErrors) {
  struct Case {
    const char* args;
    const char* says;
  } cases[] = {
      {"bytes twelve", "not a byte count: twelve"},
      {"round-mb", "N is required"},
      {"size total", "PATH is required"},
      {"size biggest /", "biggest not in {total,free,used,apfs-used}"},
      {"role-volume Swap disk3", "Swap not in {System,Data,Preboot,Recovery}"},
      {"", "A subcommand is required"},
  };
  for (const Case& c : cases) {
    Outcome r = sys(c.args);
    EXPECT_EQ(r.status, 1) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
  }
}

TEST_F(SysCliTest, HelpExplainsTheArguments) {
  Outcome r = runSentrel("sys --help");
  EXPECT_EQ(r.status, 0);
  for (const char* word :
       {"version-dict", "role-volume", "apfs-used", "round-mb", "full-disk-access"})
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
  Outcome role = runSentrel("sys role-volume --help");
  EXPECT_NE(role.out.find("System, Data, Preboot or Recovery"), std::string::npos) << role.out;
}

}  // namespace
}  // namespace sentrel
