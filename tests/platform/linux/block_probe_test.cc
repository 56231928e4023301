// What udev's database record of a block device says, read when the device
// itself cannot be read.
#include "platform/linux/block_probe.h"

#include <gtest/gtest.h>

namespace sentrel::platform {
namespace {

TEST(UdevRecordTest, ReadsTableTypeFileSystemAndEncodedLabel) {
  auto c = contentFromUdevRecord(
      "S:disk/by-id/ata-X\nI:123\nE:ID_FS_TYPE=ext4\nE:ID_FS_LABEL=My_Disk\n"
      "E:ID_FS_LABEL_ENC=My\\x20Disk\nE:ID_PART_TABLE_TYPE=gpt\nG:systemd\n");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->partitionTable, "gpt");
  EXPECT_EQ(c->filesystem, "ext4");
  EXPECT_EQ(c->label, "My Disk");
}

TEST(UdevRecordTest, RecordWithoutProbeResultsSaysNothing) {
  EXPECT_FALSE(contentFromUdevRecord("S:disk/by-id/x\nI:1\n"));
  EXPECT_FALSE(contentFromUdevRecord(""));
  auto broken = contentFromUdevRecord("E:ID_FS_LABEL_ENC=a\\x2");
  ASSERT_TRUE(broken);
  EXPECT_EQ(broken->label, "a\\x2");  // a cut escape stays as written
}

}  // namespace
}  // namespace sentrel::platform
