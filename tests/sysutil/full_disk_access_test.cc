#include <gtest/gtest.h>

#include "sentrel/platform.h"
#include "sentrel/sysutil.h"
#include "sysutil/access_listing.h"
#include "sysutil/sys_machines.h"

namespace sentrel {
namespace {

using sysutil_testing::machineRunning;
using sysutil_testing::runsOf;
using sysutil_testing::tool;
using testing::TestMachine;

constexpr const char* kSqlite = "/usr/bin/sqlite3";
constexpr const char* kTemporaryFile = "/tmp/zel20FDAtemp.temp";

std::string row(const std::string& service, const std::string& client, const std::string& grant) {
  return service + "|" + client + "|0|" + grant + "|1|1|\n";
}

std::string row(const std::string& client, const std::string& grant) {
  return row("kTCCServiceSystemPolicyAllFiles", client, grant);
}

const std::string kApp = row("com.brindlex.vantrelzel20", "2");
const std::string kTool = row("com.brindlex.vantrelzel20.QRX20BackgroundTool", "2");
const std::string kCompanion = row("com.brindlex.larkspan.LarkspanBackground", "1");

Dict sqlite(const std::string& output) {
  return tool(kSqlite,
              Array{"-line", "-list", "-newline", "\n",
                    "/Library/Application Support/com.apple.TCC/TCC.db", "SELECT * from access;"},
              output);
}

TEST(FullDiskAccessTest, GrantRules) {
  struct Case {
    const char* name;
    std::string listing;
    bool granted;
  } cases[] = {
      {"all three", kApp + kTool + kCompanion, true},
      {"any order", kCompanion + kApp + kTool, true},
      {"tool denied", kApp + row("com.brindlex.vantrelzel20.QRX20BackgroundTool", "0") + kCompanion,
       false},
      {"no companion", kApp + kTool, false},
      {"application by path", row("/Applications/Vantrel Zel 20.app", "2") + kTool + kCompanion,
       true},
      {"denied then granted", row("com.brindlex.vantrelzel20", "0") + kApp + kTool + kCompanion,
       true},
      {"granted then denied", kApp + row("com.brindlex.vantrelzel20", "0") + kTool + kCompanion,
       true},
      {"other services",
       row("kTCCServiceCamera", "com.brindlex.vantrelzel20", "2") +
           row("kTCCServiceMicrophone", "com.brindlex.vantrelzel20.QRX20BackgroundTool", "2") +
           kCompanion,
       false},
      {"three fields only",
       kApp + kTool +
           "kTCCServiceSystemPolicyAllFiles|com.brindlex.larkspan.LarkspanBackground|0\n",
       false},
      {"four fields suffice",
       kApp + kTool +
           "kTCCServiceSystemPolicyAllFiles|com.brindlex.larkspan.LarkspanBackground|0|1",
       true},
      {"grant read as text", row("com.brindlex.vantrelzel20", " yes") + kTool + kCompanion, true},
      {"a service with a prefix",
       row("xkTCCServiceSystemPolicyAllFiles", "com.brindlex.vantrelzel20", "2") + kTool +
           kCompanion,
       false},
      {"empty", "", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(sysutil::fullDiskAccessGranted(c.listing), c.granted) << c.name;
}

TEST(FullDiskAccessTest, GrantsReadAsBooleans) {
  struct Case {
    const char* text;
    bool value;
  } cases[] = {{"1", true},   {"2", true},   {"9", true},    {"0", false},  {"Y", true},
               {"yes", true}, {"T", true},   {"true", true}, {"no", false}, {"", false},
               {"  1", true}, {"\t2", true}, {"-1", false},  {"02", false}, {"x", false}};
  for (const Case& c : cases) EXPECT_EQ(sysutil::textBoolValue(c.text), c.value) << c.text;
}

TEST(FullDiskAccessTest, ProbeRunsTheToolAndRemovesItsFile) {
  TestMachine m(machineRunning("14.5", {sqlite(kApp + kTool + kCompanion)}));
  EXPECT_TRUE(isFullDiskAccessSetup());
  ASSERT_EQ(runsOf(m, kSqlite).size(), 1u);
  EXPECT_FALSE(platform::current().files->exists(kTemporaryFile));
}

TEST(FullDiskAccessTest, ProbeAnswersFalseWithoutAUsableListing) {
  struct Case {
    const char* name;
    Array tools;
  } cases[] = {
      {"no access: empty output", {sqlite("")}},
      {"tool missing", {}},
      {"not ASCII", {sqlite(kApp + kTool + kCompanion + "\xff\n")}},
      {"a grant missing", {sqlite(kApp + kCompanion)}},
  };
  for (const Case& c : cases) {
    TestMachine m(machineRunning("14.5", c.tools));
    EXPECT_FALSE(isFullDiskAccessSetup()) << c.name;
    EXPECT_FALSE(platform::current().files->exists(kTemporaryFile)) << c.name;
  }
}

TEST(FullDiskAccessTest, ProbeIsNotRunBefore1014) {
  TestMachine m(machineRunning("10.13.6", {sqlite(kApp + kTool + kCompanion)}));
  EXPECT_FALSE(isFullDiskAccessSetup());
  EXPECT_TRUE(runsOf(m, kSqlite).empty());
}

}  // namespace
}  // namespace sentrel
