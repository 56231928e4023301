// The Linux disks behind the platform interfaces, on a folder tree standing
// for /sys and /dev: what the registry, disk arbitration and the plug-ins
// answer when the device node is missing, then when it is not a SCSI device.
#include "platform/linux/linux_drives.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace sentrel::platform {
namespace {

namespace fs = std::filesystem;

class LinuxDrivesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("sentrel-drives-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::path device = root_ / "sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";
    fs::path block = device / "block/sda";
    fs::create_directories(block / "queue");
    fs::create_directories(root_ / "sys/block");
    fs::create_directories(root_ / "dev");
    std::ofstream(device / "model") << "Disk\n";
    std::ofstream(block / "size") << "2048\n";
    fs::create_directory_symlink(device, block / "device");
    fs::create_directory_symlink(block, root_ / "sys/block/sda");
  }
  void TearDown() override { fs::remove_all(root_); }

  SysfsPaths paths() const {
    return {(root_ / "sys").string(), (root_ / "dev").string(), (root_ / "udev").string()};
  }
  fs::path root_;
};

TEST_F(LinuxDrivesTest, ADiskIsListedAndItsNodeDecidesWhatOpeningItAnswers) {
  LinuxDrives drives(paths());
  ASSERT_TRUE(drives.diskArbitration().createSession());
  auto media = drives.registry().wholeMedia();
  ASSERT_EQ(media.size(), 1u);
  EXPECT_EQ(drives.diskArbitration().describe(media[0])->stringOr("DAMediaBSDName"), "sda");
  RegistryEntry service = *drives.registry().parent(media[0]);
  std::unique_ptr<AtaSmartPlugIn> ata;
  Failure failure;
  EXPECT_EQ(drives.plugIns().createAtaPlugIn(service, ata, &failure), kNoDevice);
  EXPECT_FALSE(ata);
  EXPECT_EQ(failure.kind, Failure::Kind::notFound);
  EXPECT_EQ(failure.subject, (root_ / "dev/sda").string());
  // The medium has no plug-in at all.
  EXPECT_EQ(drives.plugIns().createAtaPlugIn(media[0], ata, &failure), kUnsupported);
  EXPECT_EQ(failure.kind, Failure::Kind::unsupported);

  // A node that is no SCSI device answers unsupported to every command.
  std::ofstream(root_ / "dev/sda") << std::string(4096, '\0');
  ASSERT_EQ(drives.plugIns().createAtaPlugIn(service, ata, nullptr), kSuccess);
  std::unique_ptr<AtaSmartInterface> sif;
  ASSERT_EQ(ata->queryInterface(sif), kSuccess);
  std::array<std::uint8_t, kSectorSize> sector{};
  EXPECT_EQ(sif->readSmartData(sector), kUnsupported);  // SG_IO on a file: ENOTTY
  std::vector<std::uint8_t> oddLog(100);
  EXPECT_EQ(sif->readSmartLog(6, oddLog), kGeneralError);  // not whole sectors
  // The interface says why its last failing command failed.
  ASSERT_TRUE(sif->lastFailure());
  EXPECT_EQ(sif->lastFailure()->kind, Failure::Kind::unsupported);
  EXPECT_EQ(sif->lastFailure()->subject, (root_ / "dev/sda").string());
}

}  // namespace
}  // namespace sentrel::platform
