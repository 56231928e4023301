// The mount table and file-system statistics of this machine, for real, and
// the reading of the kernel's table text.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/linux/linux_system.h"

namespace sentrel::platform {
namespace {

// The kernel's table with its escapes, and the mount holding a path: the
// longest and, of equals, the latest.
TEST(LinuxMountsTest, ParsesTheKernelTableAndFindsTheHoldingMount) {
  std::string text =
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro\n"
      "41 22 8:17 / /mnt/My\\040Disk rw master:2 shared:3 - vfat /dev/sdb1 rw\n"
      "42 41 8:18 / /mnt/My\\040Disk rw - btrfs /dev/sdc1 rw\n"
      "malformed line\n"
      "50 22 0:40 / /no/dash rw shared:4\n";
  auto table = parseMountInfo(text);
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[1].on, "/mnt/My Disk");
  EXPECT_EQ(table[1].from, "/dev/sdb1");
  EXPECT_EQ(table[1].type, "vfat");
  struct Case {
    const char* path;
    const char* from;
  } cases[] = {{"/home/user", "/dev/sda1"},
               {"/mnt/My Disk/x", "/dev/sdc1"},
               {"/mnt/My Diskette", "/dev/sda1"}};
  for (const Case& c : cases)
    EXPECT_EQ(mountHolding(table, c.path).value_or(MountEntry{}).from, c.from) << c.path;
  EXPECT_FALSE(mountHolding(table, "relative"));
}

// The real table and statistics: /proc is found, and a path below it
// is on it.
TEST(LinuxMountsTest, RealTableAndStatistics) {
  LinuxMounts mounts;
  const auto table = mounts.mountTable();
  EXPECT_TRUE(std::any_of(table.begin(), table.end(),
                          [](const MountEntry& m) { return m.on == "/proc" && m.type == "proc"; }));
  auto proc = mounts.statfs("/proc/self");
  ASSERT_TRUE(proc);
  EXPECT_EQ(proc->on, "/proc");
  EXPECT_EQ(proc->type, "proc");
}

}  // namespace
}  // namespace sentrel::platform
