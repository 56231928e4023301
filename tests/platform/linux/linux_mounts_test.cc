// The mount table and file-system statistics of this machine, for real, and
// the reading of the kernel's table text.
#include <sys/statvfs.h>

#include <gtest/gtest.h>

#include "core/text.h"
#include "platform/linux/linux_system.h"

namespace sentrel::platform {
namespace {

TEST(LinuxMountsTest, ParsesTheKernelTableWithItsEscapes) {
  std::string text =
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro\n"
      "30 22 0:5 / /dev rw,nosuid - devtmpfs udev rw,size=4000k\n"
      "41 22 8:17 / /mnt/My\\040Disk rw master:2 shared:3 - vfat /dev/sdb1 rw\n"
      "malformed line\n"
      "50 22 0:40 / /no/dash rw shared:4\n";
  auto table = parseMountInfo(text);
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[0].from, "/dev/sda1");
  EXPECT_EQ(table[0].on, "/");
  EXPECT_EQ(table[0].type, "ext4");
  EXPECT_EQ(table[1].type, "devtmpfs");
  EXPECT_EQ(table[2].on, "/mnt/My Disk");
  EXPECT_EQ(table[2].from, "/dev/sdb1");
  EXPECT_EQ(table[2].type, "vfat");
}

TEST(LinuxMountsTest, TheHoldingMountIsTheLongestAndLatest) {
  std::vector<MountEntry> table{{"/dev/a", "/", "ext4"},
                                {"/dev/b", "/mnt/data", "xfs"},
                                {"/dev/c", "/mnt/data", "btrfs"},  // mounted over /dev/b
                                {"/dev/d", "/mnt/dat", "ext4"}};
  struct Case {
    const char* path;
    const char* from;
  } cases[] = {{"/", "/dev/a"},           {"/home/user", "/dev/a"},   {"/mnt/data", "/dev/c"},
               {"/mnt/data/x", "/dev/c"}, {"/mnt/dataset", "/dev/a"}, {"/mnt/dat/y", "/dev/d"}};
  for (const Case& c : cases) {
    auto m = mountHolding(table, c.path);
    ASSERT_TRUE(m) << c.path;
    EXPECT_EQ(m->from, c.from) << c.path;
  }
  EXPECT_FALSE(mountHolding(table, "relative"));
  EXPECT_TRUE(text::isAtOrBelow("/Volumes/A/x", "/Volumes/A"));
  EXPECT_FALSE(text::isAtOrBelow("/Volumes/AB", "/Volumes/A"));
  EXPECT_FALSE(text::isAtOrBelow("/x", ""));
}

TEST(LinuxMountsTest, TheRealTableHasTheRootAndProc) {
  LinuxMounts mounts;
  auto table = mounts.mountTable();
  ASSERT_FALSE(table.empty());
  bool root = false, proc = false;
  for (const auto& m : table) {
    root = root || m.on == "/";
    proc = proc || (m.on == "/proc" && m.type == "proc");
  }
  EXPECT_TRUE(root);
  EXPECT_TRUE(proc);
}

TEST(LinuxMountsTest, RealStatisticsAgreeWithStatvfs) {
  LinuxMounts mounts;
  auto stats = mounts.statfs("/");
  ASSERT_TRUE(stats);
  struct statvfs v {};
  ASSERT_EQ(::statvfs("/", &v), 0);
  EXPECT_EQ(stats->blockSize, v.f_frsize);
  EXPECT_EQ(stats->blocks, v.f_blocks);
  EXPECT_GT(stats->blocks, 0u);
  EXPECT_LE(stats->freeBlocks, stats->blocks);
  EXPECT_LE(stats->availableBlocks, stats->freeBlocks);
  EXPECT_EQ(stats->on, "/");
  EXPECT_FALSE(stats->type.empty());

  auto proc = mounts.statfs("/proc/self");
  ASSERT_TRUE(proc);
  EXPECT_EQ(proc->type, "proc");
  EXPECT_EQ(proc->on, "/proc");

  EXPECT_FALSE(mounts.statfs("/nonexistent/path"));
  EXPECT_FALSE(mounts.statfs(""));
}

}  // namespace
}  // namespace sentrel::platform
