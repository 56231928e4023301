// The simulated machine's tools, mounts, statistics and user defaults.
#include <gtest/gtest.h>

#include "support/fault_printers.h"

#include "sentrel/sim_machine.h"
#include "sentrel/value_io.h"

namespace sentrel::sim {
namespace {

std::unique_ptr<Machine> load(const std::string& json, platform::Failure* error) {
  return Machine::fromJsonText(json, SENTREL_SOURCE_DIR, error);
}

TEST(SimSystemTest, ToolsAnswerTheirExactArgumentListAndAreJournaled) {
  platform::Failure error;
  auto m = load(R"({"tools": [
      {"tool": "/usr/bin/sw_vers", "arguments": ["-productVersion"], "stdout": "14.5\n"},
      {"tool": "/usr/bin/sw_vers", "stdout": "ProductVersion:\t14.5\n"},
      {"tool": "/usr/bin/tmutil", "arguments": ["x"], "stdout": {"$data": "00ff"}},
      {"tool": "/usr/bin/true"}]})",
                &error);
  ASSERT_TRUE(m) << error;
  platform::Processes& p = *m->platform().processes;
  EXPECT_EQ(p.run("/usr/bin/sw_vers", {"-productVersion"}), "14.5\n");
  EXPECT_EQ(p.run("/usr/bin/sw_vers", {}), "ProductVersion:\t14.5\n");
  EXPECT_EQ(p.run("/usr/bin/tmutil", {"x"}), std::string("\x00\xff", 2));
  EXPECT_EQ(p.run("/usr/bin/true", {}), "");
  EXPECT_EQ(p.run("/usr/bin/sw_vers", {"-buildVersion"}), std::nullopt);
  auto runs = m->calls("process.run");
  ASSERT_EQ(runs.size(), 5u);
  EXPECT_EQ(runs[0], (Dict{{"call", "process.run"},
                           {"tool", "/usr/bin/sw_vers"},
                           {"arguments", Array{"-productVersion"}},
                           {"started", true}}));
  EXPECT_EQ(*runs[4].find("started"), Value(false));
}

TEST(SimSystemTest, ToolOutputFromAFile) {
  platform::Failure error;
  auto m = load(R"({"tools": [{"tool": "/usr/sbin/diskutil", "arguments": ["list"],
                               "stdoutFile": "examples/demo-mac/machine.json"}]})",
                &error);
  ASSERT_TRUE(m) << error;
  auto out = m->platform().processes->run("/usr/sbin/diskutil", {"list"});
  ASSERT_TRUE(out);
  EXPECT_EQ(out->front(), '{');
}

TEST(SimSystemTest, StatisticsOfThePathsBelowADescribedOne) {
  platform::Failure error;
  auto m = load(R"({"mounts": [{"from": "/dev/disk3s1", "on": "/", "type": "apfs"},
                               {"from": "/dev/disk4s1", "on": "/Volumes/B", "type": "hfs"}],
                    "statfs": {"/": {"blockSize": 4096, "blocks": 100, "freeBlocks": 40},
                               "/Volumes/B": {"blockSize": 512, "blocks": 10, "freeBlocks": 5,
                                              "availableBlocks": 4, "type": "msdos"}}})",
                &error);
  ASSERT_TRUE(m) << error;
  platform::Mounts& mounts = *m->platform().mounts;
  ASSERT_EQ(mounts.mountTable().size(), 2u);
  EXPECT_EQ(mounts.mountTable()[1].on, "/Volumes/B");

  auto root = mounts.statfs("/Users/me");
  ASSERT_TRUE(root);
  EXPECT_EQ(root->blockSize, 4096u);
  EXPECT_EQ(root->availableBlocks, 40u);  // defaults to the free blocks
  EXPECT_EQ(root->from, "/dev/disk3s1");  // from the mount table
  EXPECT_EQ(root->on, "/");
  auto b = mounts.statfs("/Volumes/B/folder");
  ASSERT_TRUE(b);
  EXPECT_EQ(b->blockSize, 512u);
  EXPECT_EQ(b->type, "msdos");
  EXPECT_EQ(b->availableBlocks, 4u);
  EXPECT_EQ(mounts.statfs("/Volumes/Bx")->blockSize, 4096u);
  EXPECT_FALSE(mounts.statfs("relative"));
}

TEST(SimSystemTest, UserDefaultsChangeInMemoryAndWritesAreJournaled) {
  platform::Failure error;
  auto m = load(R"({"userDefaults": {"KVCurrentSWVers": "13.6.1"}})", &error);
  ASSERT_TRUE(m) << error;
  platform::UserDefaults& d = *m->platform().userDefaults;
  EXPECT_EQ(d.get("KVCurrentSWVers"), Value("13.6.1"));
  d.set("KVCurrentSWVers", Value("14.5"));
  EXPECT_EQ(d.get("KVCurrentSWVers"), Value("14.5"));
  auto sets = m->calls("userDefaults.set");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0],
            (Dict{{"call", "userDefaults.set"}, {"key", "KVCurrentSWVers"}, {"value", "14.5"}}));
}

TEST(SimSystemTest, PrivateFilesStayInTheMachine) {
  platform::Failure error;
  auto a = load("{}", &error), b = load("{}", &error);
  ASSERT_TRUE(a && b);
  platform::Files& fa = *a->platform().files;
  platform::Files& fb = *b->platform().files;
  const char* path = "/tmp/sentrel-sim-private-test.temp";
  ASSERT_TRUE(fa.createPrivateFile(path, "rows\n", nullptr));
  EXPECT_FALSE(fa.createPrivateFile(path, "again", nullptr));
  EXPECT_EQ(fa.readFile(path, nullptr), "rows\n");
  EXPECT_FALSE(fb.exists(path));  // another machine does not see it
  EXPECT_TRUE(fb.createPrivateFile(path, "", nullptr));
  EXPECT_TRUE(fa.removeFile(path));
  EXPECT_FALSE(fa.exists(path));
}

TEST(SimSystemTest, MalformedEntriesAreRefusedWithTheirPath) {
  struct Case {
    const char* json;
    const char* message;
  } cases[] = {
      {R"({"mounts": [{"from": "/dev/disk1"}]})", "machine.json: $.mounts[0]: missing \"on\""},
      {R"({"mounts": [{"on": "/", "kind": "apfs"}]})",
       "machine.json: $.mounts[0].kind: unknown key"},
      {R"({"statfs": {"relative": {}}})",
       "machine.json: $.statfs.relative: a statistics path is absolute"},
      {R"({"statfs": {"/": {"blocks": -1}}})",
       "machine.json: $.statfs./.blocks: expected a whole number from 0 to 18446744073709551615"},
      {R"({"tools": [{"arguments": []}]})", "machine.json: $.tools[0]: missing \"tool\""},
      {R"({"tools": [{"tool": "sw_vers"}]})",
       "machine.json: $.tools[0].tool: a tool path is absolute"},
      {R"({"tools": [{"tool": "/t", "stdout": "", "stdoutFile": "x"}]})",
       "machine.json: $.tools[0]: give \"stdout\" or \"stdoutFile\", not both"},
      {R"({"tools": [{"tool": "/t", "arguments": [1]}]})",
       "machine.json: $.tools[0].arguments[0]: expected a string, found integer"},
      {R"({"tools": [{"tool": "/t", "stdoutFile": "no/such/file"}]})",
       "machine.json: $.tools[0].stdoutFile: cannot read output file"},
  };
  for (const Case& c : cases) {
    platform::Failure error;
    EXPECT_FALSE(load(c.json, &error)) << c.json;
    EXPECT_EQ(error.message().substr(0, std::string(c.message).size()), c.message) << c.json;
  }
}

}  // namespace
}  // namespace sentrel::sim
