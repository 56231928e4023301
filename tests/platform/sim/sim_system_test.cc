// The simulated machine's mounts, statistics, tool output files and
// private files.
#include <gtest/gtest.h>

#include "support/fault_printers.h"

#include "sentrel/sim_machine.h"
#include "sentrel/value_io.h"

namespace sentrel::sim {
namespace {

std::unique_ptr<Machine> load(const std::string& json, platform::Failure* error) {
  return Machine::fromJsonText(json, SENTREL_SOURCE_DIR, error);
}

TEST(SimSystemTest, StatisticsOfThePathsBelowADescribedOne) {
  platform::Failure error;
  auto m = load(R"({"mounts": [{"from": "/dev/disk3s1", "on": "/", "type": "apfs"},
                               {"from": "/dev/disk4s1", "on": "/Volumes/B", "type": "hfs"}],
                    "statfs": {"/": {"blockSize": 4096, "blocks": 100, "freeBlocks": 40},
                               "/Volumes/B": {"blockSize": 512, "blocks": 10, "freeBlocks": 5,
                                              "availableBlocks": 4, "type": "msdos"}},
                    "tools": [{"tool": "/usr/sbin/diskutil", "arguments": ["list"],
                               "stdoutFile": "examples/demo-mac/machine.json"}]})",
                &error);
  ASSERT_TRUE(m) << error;
  platform::Mounts& mounts = *m->platform().mounts;
  ASSERT_EQ(mounts.mountTable().size(), 2u);
  auto root = mounts.statfs("/Users/me");
  ASSERT_TRUE(root);
  EXPECT_EQ(root->blockSize, 4096u);
  EXPECT_EQ(root->availableBlocks, 40u);  // defaults to the free blocks
  EXPECT_EQ(root->from, "/dev/disk3s1");  // from the mount table
  auto b = mounts.statfs("/Volumes/B/folder");
  ASSERT_TRUE(b);
  EXPECT_EQ(b->type, "msdos");
  EXPECT_EQ(b->availableBlocks, 4u);
  EXPECT_EQ(mounts.statfs("/Volumes/Bx")->blockSize, 4096u);
  EXPECT_FALSE(mounts.statfs("relative"));
  // A tool's output read from a file of the folder.
  EXPECT_EQ(m->platform().processes->run("/usr/sbin/diskutil", {"list"}).value_or("").front(), '{');
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
  EXPECT_TRUE(fa.removeFile(path));
  EXPECT_FALSE(fa.exists(path));
}

}  // namespace
}  // namespace sentrel::sim
