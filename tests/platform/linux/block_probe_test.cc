// What udev's database record of a block device says, read before the
// device itself, which is read only when udev has no record of it.
#include "platform/linux/block_probe.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace sentrel::platform {
namespace {

TEST(LinuxBlockProbeTest, UdevRecordAnswersWithoutReadingTheDevice) {
  namespace fs = std::filesystem;
  const fs::path udev = fs::temp_directory_path() / ("sentrel-udev-" + std::to_string(::getpid()));
  fs::create_directories(udev);
  std::ofstream(udev / "b8:0")
      << "S:disk/by-id/ata-X\nI:123\nE:ID_FS_TYPE=ext4\nE:ID_FS_LABEL=My_Disk\n"
         "E:ID_FS_LABEL_ENC=My\\x20Disk\\x4g\\x5c\\x2\nE:ID_PART_TABLE_TYPE=gpt\n";
  std::ofstream(udev / "b8:16") << "S:disk/by-id/blank\nI:1\n";  // udev found nothing on it
  // A regular file as the device: blkid would find no table in it.
  const fs::path device = udev / "device";
  std::ofstream(device) << std::string(4096, '\0');
  LinuxBlockProbe probe(udev.string());
  auto content = probe.probe(device.string(), "8:0");
  ASSERT_TRUE(content);
  EXPECT_EQ(content->partitionTable, "gpt");
  EXPECT_EQ(content->filesystem, "ext4");
  EXPECT_EQ(content->label, "My Disk\\x4g\\\\x2");  // a cut or non-hex escape stays
  EXPECT_EQ(probe.probe(device.string(), "8:16")->partitionTable, "");
  // No record and a device that cannot be read: nothing is known.
  EXPECT_FALSE(probe.probe((udev / "missing").string(), "8:48"));
  fs::remove_all(udev);
}

}  // namespace
}  // namespace sentrel::platform
