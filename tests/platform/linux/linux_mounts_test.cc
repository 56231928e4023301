// The mount table and file-system statistics of this machine, for real, and
// the reading of the kernel's table text.
#include <sys/statvfs.h>

#include <gtest/gtest.h>

#include <algorithm>

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
}

TEST(LinuxMountsTest, RealTableAndStatisticsAgreeWithTheSystem) {
  LinuxMounts mounts;
  const auto table = mounts.mountTable();
  EXPECT_TRUE(std::any_of(table.begin(), table.end(),
                          [](const MountEntry& m) { return m.on == "/proc" && m.type == "proc"; }));
  auto stats = mounts.statfs("/");
  ASSERT_TRUE(stats);
  struct statvfs v {};
  ASSERT_EQ(::statvfs("/", &v), 0);
  EXPECT_EQ(stats->blockSize, v.f_frsize);
  EXPECT_EQ(stats->blocks, v.f_blocks);
  EXPECT_LE(stats->availableBlocks, stats->freeBlocks);
  auto proc = mounts.statfs("/proc/self");
  ASSERT_TRUE(proc);
  EXPECT_EQ(proc->type, "proc");
  EXPECT_EQ(proc->on, "/proc");
  EXPECT_FALSE(mounts.statfs("/nonexistent/path"));
}

}  // namespace
}  // namespace sentrel::platform
