// The disks of a Linux machine as the registry shows them, read from one
// folder tree that stands for /sys and /dev and holds a disk of each kind.
#include "platform/linux/sysfs_disks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

namespace sentrel::platform {
namespace {

namespace fs = std::filesystem;

class FakeProbe final : public BlockProbe {
 public:
  std::map<std::string, BlockContent> contents;  // by node
  std::optional<BlockContent> probe(const std::string& devNode, const std::string&) override {
    auto it = contents.find(fs::path(devNode).filename().string());
    if (it == contents.end()) return std::nullopt;
    return it->second;
  }
};

// Answers with the demo machine's real IDENTIFY sectors; NVMe drives must
// never be asked.
class DemoIdentify final : public IdentifyReader {
 public:
  std::map<std::string, std::string> drives;  // node -> demo drive
  std::optional<std::array<std::uint8_t, kSectorSize>> identify(const std::string& node) override {
    EXPECT_EQ(node.find("nvme"), std::string::npos) << node;
    auto it = drives.find(fs::path(node).filename().string());
    if (it == drives.end()) return std::nullopt;
    std::array<std::uint8_t, kSectorSize> s{};
    std::ifstream(SENTREL_SOURCE_DIR "/examples/demo-mac/sectors/" + it->second + "-identify.bin",
                  std::ios::binary)
        .read(reinterpret_cast<char*>(s.data()), s.size());
    return s;
  }
};

class SysfsTree : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("sentrel-sysfs-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "sys/block");
    fs::create_directories(root_ / "sys/bus/scsi");
    paths_ = {(root_ / "sys").string(), (root_ / "dev").string(), (root_ / "udev").string()};
  }
  void TearDown() override { fs::remove_all(root_); }

  void file(const fs::path& relative, const std::string& text) {
    fs::path p = root_ / "sys" / relative;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
  }
  // A block device folder under `device` and its /sys/block link.
  void block(const fs::path& device, const std::string& name, std::uint64_t sectors,
             const std::string& removable = "0", const std::string& rotational = "1",
             const std::string& logical = "512") {
    fs::path dir = device / "block" / name;
    file(dir / "size", std::to_string(sectors) + "\n");
    file(dir / "removable", removable + "\n");
    file(dir / "dev", "8:0\n");
    file(dir / "queue/physical_block_size", "4096\n");
    file(dir / "queue/logical_block_size", logical + "\n");
    file(dir / "queue/rotational", rotational + "\n");
    fs::create_directory_symlink(root_ / "sys" / device, root_ / "sys" / dir / "device");
    fs::create_directory_symlink(root_ / "sys" / dir, root_ / "sys/block" / name);
  }
  // A SCSI disk as libata or a USB bridge shows it.
  void scsiDevice(const fs::path& device, const std::string& model, const std::string& serial) {
    file(device / "model", model + "\n");
    file(device / "vpd_pg80",
         std::string("\0\x80\0", 3) + static_cast<char>(serial.size()) + serial);
    fs::create_directory_symlink(root_ / "sys/bus/scsi", root_ / "sys" / device / "subsystem");
  }

  static const TreeNode* node(const DiskTree& t, RegistryEntry h) {
    return h >= 1 && h <= t.nodes.size() ? &t.nodes[h - 1] : nullptr;
  }

  fs::path root_;
  SysfsPaths paths_;
  FakeProbe probe_;
  DemoIdentify identify_;
};

// What each disk's medium and drive entry say. The size file counts 512-byte
// units whatever the logical block size.
TEST_F(SysfsTree, EachKindOfDisk) {
  const fs::path sata = "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";
  scsiDevice(sata, "ST2000DM008-2FR1", "ZFL2M7QH");
  block(sata, "sda", 3907029168);
  for (int n : {2, 1}) {  // listed in number order, whatever the folder's order
    const fs::path partition = sata / "block/sda" / ("sda" + std::to_string(n));
    file(partition / "partition", std::to_string(n) + "\n");
    file(partition / "size", "1000\n");
  }
  identify_.drives["sda"] = "st2000dm008";
  probe_.contents = {{"sda", {"gpt", "", {}}}, {"sda1", {"", "vfat", "EFI"}}};
  probe_.contents["sda2"] = {"", "ext4", "Backup"};

  const fs::path sata4k = "devices/pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0";
  scsiDevice(sata4k, "4Kn SSD", "K4");  // without IDENTIFY: sysfs names it
  block(sata4k, "sdc", 7814037168, "0", "0", "4096");

  const fs::path usb = "devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0";
  scsiDevice(usb, "Portable", "");
  block(usb, "sdb", 1000, "1");
  identify_.drives["sdb"] = "wd40efrx";
  probe_.contents["sdb"] = {"dos", "", std::nullopt};

  const fs::path nvme = "devices/pci0000:00/0000:00:04.0/nvme/nvme0";
  file(nvme / "model", "Samsung SSD 970 EVO Plus 1TB            \n");
  file(nvme / "serial", "S4EWNX0R812345K     \n");
  block(nvme, "nvme0n1", 1953525168, "0", "0", "4096");

  // Behind a Thunderbolt tunnel: external.
  const fs::path bridge = "devices/pci0000:00/0000:00:1c.4/0000:05:00.0";
  const fs::path tunnelled = bridge / "0000:06:00.0/nvme/nvme1";
  file(bridge / "removable", "removable\n");
  file(tunnelled / "model", "External NVMe\n");
  block(tunnelled, "nvme1n1", 100, "0", "0");

  block("devices/pci0000:00/0000:00:05.0/virtio2", "vda", 2048);
  probe_.contents["vda"] = {"", "ext4", std::nullopt};  // a file system on the whole disk

  struct Case {
    std::string bsd;
    std::uint64_t bytes;
    bool internal, removable;
    std::string content;
    std::string model, serial, interconnect, medium;  // model "": no SMART entry
    std::string node;                                 // the drive's node below /dev
    std::vector<std::string> volumes = {};
    std::string noSmartReason = "";
  } cases[] = {
      {"sda",
       3907029168ull * 512,
       true,
       false,
       "GUID_partition_scheme",
       "ST2000DM008-2FR102",
       "ZFL2M7QH",
       "SATA",
       "Rotational",
       "sda",
       {"EFI", "Backup"}},
      {"sdc", 7814037168ull * 512, true, false, "", "4Kn SSD", "K4", "SATA", "Solid State", "sdc"},
      {"sdb", 1000 * 512, false, true, "FDisk_partition_scheme", "WDC WD40EFRX-68N32N0",
       "WD-WCC7K3HKT2N9", "USB", "Rotational", "sdb"},
      {"nvme0n1", 1953525168ull * 512, true, false, "", "Samsung SSD 970 EVO Plus 1TB",
       "S4EWNX0R812345K", "PCI-Express", "Solid State", "nvme0"},
      {"nvme1n1", 100 * 512, false, false, "", "External NVMe", "", "PCI-Express", "Solid State",
       "nvme1"},
      {"vda",
       2048 * 512,
       true,
       false,
       "ext4",
       "",
       "",
       "",
       "",
       "",
       {},
       "a virtio disk: the virtual machine's host passes no SMART data to it"},
  };
  const DiskTree t = scanDisks(paths_, probe_, identify_);
  ASSERT_EQ(t.wholeMedia.size(), std::size(cases));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bsd);
    const TreeNode* medium = nullptr;
    for (RegistryEntry h : t.wholeMedia)
      if (node(t, h)->properties.stringOr("BSD Name") == c.bsd) medium = node(t, h);
    ASSERT_NE(medium, nullptr);
    const Dict& d = *medium->description;
    EXPECT_EQ(d.find("DAMediaSize")->toUInt(), c.bytes);
    EXPECT_EQ(medium->properties.find("Size")->toUInt(), c.bytes);
    EXPECT_EQ(d.getBool("DADeviceInternal"), c.internal);
    EXPECT_EQ(d.getBool("DAMediaRemovable"), c.removable);
    EXPECT_EQ(d.stringOr("DAMediaContent"), c.content);
    EXPECT_EQ(medium->properties.stringOr("SMART Unavailable Reason"), c.noSmartReason);
    std::vector<std::string> volumes;
    for (RegistryEntry h : medium->children)
      volumes.push_back(node(t, h)->description->stringOr("DAVolumeName"));
    EXPECT_EQ(volumes, c.volumes);
    const TreeNode* drive = nullptr;
    for (const TreeNode* n = node(t, medium->parent); n && !drive; n = node(t, n->parent))
      if (n->properties.contains("SMART Capable") || n->properties.contains("NVMe SMART Capable"))
        drive = n;
    ASSERT_EQ(drive != nullptr, !c.model.empty());
    if (!drive) continue;
    const Dict& p = drive->properties;
    const bool nvme = c.interconnect == "PCI-Express";
    EXPECT_EQ(p.contains("NVMe SMART Capable"), nvme);
    EXPECT_EQ(p.stringOr("Model"), c.model);
    EXPECT_EQ(p.stringOr("Serial Number"), c.serial);
    EXPECT_EQ(p.getDict("Protocol Characteristics")->stringOr("Physical Interconnect"),
              c.interconnect);
    EXPECT_EQ(p.getDict("Device Characteristics")->stringOr("Medium Type"), c.medium);
    const auto handle = static_cast<RegistryEntry>(drive - t.nodes.data() + 1);
    ASSERT_EQ(t.drives.count(handle), 1u);
    EXPECT_EQ(t.drives.at(handle).devNode, paths_.dev + "/" + c.node);
    EXPECT_EQ(t.drives.at(handle).access, nvme ? DriveAccess::Nvme : DriveAccess::Ata);
  }
}

}  // namespace
}  // namespace sentrel::platform
