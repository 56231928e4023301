// What udev's database record of a block device says, read before the
// device itself, which is read only when udev has no record of it.
#include "platform/linux/block_probe.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace sentrel::platform {
namespace {

TEST(UdevRecordTest, ProbeResultsAndTheEncodedLabel) {
  struct Case {
    const char* record;
    std::optional<BlockContent> content;
  } cases[] = {
      {"S:disk/by-id/ata-X\nI:123\nE:ID_FS_TYPE=ext4\nE:ID_FS_LABEL=My_Disk\n"
       "E:ID_FS_LABEL_ENC=My\\x20Disk\nE:ID_PART_TABLE_TYPE=gpt\nG:systemd\n",
       BlockContent{"gpt", "ext4", "My Disk"}},
      {"E:ID_FS_LABEL_ENC=a\\x2", BlockContent{"", "", "a\\x2"}},  // a cut escape stays
      {"E:ID_FS_LABEL_ENC=\\x41\\x5a\\x5C", BlockContent{"", "", "AZ\\"}},
      {"S:disk/by-id/x\nI:1\n", std::nullopt},  // udev found nothing
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    auto content = contentFromUdevRecord(c.record);
    ASSERT_EQ(content.has_value(), c.content.has_value());
    if (!content) continue;
    EXPECT_EQ(content->partitionTable, c.content->partitionTable);
    EXPECT_EQ(content->filesystem, c.content->filesystem);
    EXPECT_EQ(content->label, c.content->label);
  }
}

TEST(LinuxBlockProbeTest, UdevRecordAnswersWithoutReadingTheDevice) {
  namespace fs = std::filesystem;
  const fs::path udev = fs::temp_directory_path() / ("sentrel-udev-" + std::to_string(::getpid()));
  fs::create_directories(udev);
  std::ofstream(udev / "b8:0") << "E:ID_PART_TABLE_TYPE=gpt\n";
  std::ofstream(udev / "b8:16") << "S:disk/by-id/blank\n";  // udev found nothing on it
  // A regular file as the device: blkid would find no table in it.
  const fs::path device = udev / "device";
  std::ofstream(device) << std::string(4096, '\0');
  LinuxBlockProbe probe(udev.string());
  struct Case {
    const char* majorMinor;
    std::optional<std::string> table;  // nothing: no answer at all
  } cases[] = {{"8:0", "gpt"}, {"8:16", ""}, {"8:32", ""}};
  for (const Case& c : cases) {
    auto content = probe.probe(device.string(), c.majorMinor);
    ASSERT_TRUE(content) << c.majorMinor;
    EXPECT_EQ(content->partitionTable, *c.table) << c.majorMinor;
  }
  // No record and a device that cannot be read: nothing is known.
  EXPECT_FALSE(probe.probe((udev / "missing").string(), "8:48"));
  fs::remove_all(udev);
}

}  // namespace
}  // namespace sentrel::platform
