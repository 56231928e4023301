// The disks of a Linux machine as the registry shows them, read from folder
// trees that stand for /sys and /dev: one per kind of disk.
#include "platform/linux/sysfs_disks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

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

class FakeIdentify final : public IdentifyReader {
 public:
  std::map<std::string, std::array<std::uint8_t, kSectorSize>> sectors;  // by node
  std::vector<std::string> asked;
  std::optional<std::array<std::uint8_t, kSectorSize>> identify(const std::string& node) override {
    asked.push_back(node);
    auto it = sectors.find(fs::path(node).filename().string());
    if (it == sectors.end()) return std::nullopt;
    return it->second;
  }
};

// IDENTIFY DEVICE with the strings stored as the drive stores them.
std::array<std::uint8_t, kSectorSize> identifySector(const std::string& model,
                                                     const std::string& serial,
                                                     const std::string& firmware,
                                                     std::uint16_t rotation) {
  std::array<std::uint8_t, kSectorSize> s{};
  auto put = [&](std::size_t word, std::size_t words, std::string text) {
    text.resize(words * 2, ' ');
    for (std::size_t i = 0; i < words; ++i) {
      s[2 * (word + i)] = static_cast<std::uint8_t>(text[2 * i + 1]);
      s[2 * (word + i) + 1] = static_cast<std::uint8_t>(text[2 * i]);
    }
  };
  put(10, 10, serial);
  put(23, 4, firmware);
  put(27, 20, model);
  s[434] = static_cast<std::uint8_t>(rotation & 0xFF);
  s[435] = static_cast<std::uint8_t>(rotation >> 8);
  return s;
}

class SysfsTree : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("sentrel-sysfs-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "sys/block");
    fs::create_directories(root_ / "sys/bus/pci");
    fs::create_directories(root_ / "sys/bus/scsi");
    fs::create_directories(root_ / "dev");
    paths_ = {(root_ / "sys").string(), (root_ / "dev").string(), (root_ / "udev").string()};
  }
  void TearDown() override { fs::remove_all(root_); }

  void file(const fs::path& relative, const std::string& text) {
    fs::path p = root_ / "sys" / relative;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
  }
  void subsystem(const fs::path& dir, const std::string& bus) {
    fs::create_directories(root_ / "sys" / dir);
    fs::create_directory_symlink(root_ / "sys/bus" / bus, root_ / "sys" / dir / "subsystem");
  }
  // A block device folder under `device` and its /sys/block link.
  void block(const fs::path& device, const std::string& name, std::uint64_t sectors,
             const std::string& removable = "0", const std::string& rotational = "1") {
    fs::path dir = device / "block" / name;
    file(dir / "size", std::to_string(sectors) + "\n");
    file(dir / "removable", removable + "\n");
    file(dir / "dev", "8:0\n");
    file(dir / "queue/physical_block_size", "4096\n");
    file(dir / "queue/logical_block_size", "512\n");
    file(dir / "queue/rotational", rotational + "\n");
    fs::create_directory_symlink(root_ / "sys" / device, root_ / "sys" / dir / "device");
    fs::create_directory_symlink(root_ / "sys" / dir, root_ / "sys/block" / name);
  }
  void partition(const fs::path& device, const std::string& disk, int number,
                 std::uint64_t sectors) {
    fs::path dir = device / "block" / disk / (disk + std::to_string(number));
    file(dir / "partition", std::to_string(number) + "\n");
    file(dir / "size", std::to_string(sectors) + "\n");
  }
  // A SCSI disk as libata or a USB bridge shows it.
  void scsiDevice(const fs::path& device, const std::string& model, const std::string& rev,
                  const std::string& serial) {
    file(device / "model", model + "\n");
    file(device / "rev", rev + "\n");
    file(device / "vendor", "ATA     \n");
    std::string vpd = std::string("\0\x80\0", 3) + static_cast<char>(serial.size()) + serial;
    file(device / "vpd_pg80", vpd);
    subsystem(device, "scsi");
  }

  DiskTree scan() { return scanDisks(paths_, probe_, identify_); }

  static const TreeNode* mediumNamed(const DiskTree& t, const std::string& bsd) {
    for (RegistryEntry h : t.wholeMedia)
      if (t.nodes[h - 1].properties.stringOr("BSD Name") == bsd) return &t.nodes[h - 1];
    return nullptr;
  }
  static const TreeNode* node(const DiskTree& t, RegistryEntry h) {
    return h >= 1 && h <= t.nodes.size() ? &t.nodes[h - 1] : nullptr;
  }

  fs::path root_;
  SysfsPaths paths_;
  FakeProbe probe_;
  FakeIdentify identify_;
};

const fs::path kSataDevice = "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";

TEST_F(SysfsTree, SataDiskGetsItsWholeNamesFromIdentifyAndItsPartitions) {
  subsystem("devices/pci0000:00/0000:00:1f.2", "pci");
  scsiDevice(kSataDevice, "ST2000DM008-2FR1", "0001", "ZFL2M7QH");
  block(kSataDevice, "sda", 3907029168);
  partition(kSataDevice, "sda", 2, 1000);
  partition(kSataDevice, "sda", 1, 409600);
  probe_.contents["sda"] = {"gpt", "", std::nullopt};
  probe_.contents["sda1"] = {"", "vfat", "EFI"};
  probe_.contents["sda2"] = {"", "ext4", "Backup"};
  identify_.sectors["sda"] = identifySector("ST2000DM008-2FR102", "ZFL2M7QH", "0001", 7200);

  DiskTree t = scan();
  ASSERT_EQ(t.wholeMedia.size(), 1u);
  const TreeNode* medium = mediumNamed(t, "sda");
  ASSERT_NE(medium, nullptr);
  const Dict& d = *medium->description;
  EXPECT_EQ(d.stringOr("DAMediaBSDName"), "sda");
  EXPECT_EQ(d.stringOr("DAMediaContent"), "GUID_partition_scheme");
  EXPECT_EQ(d.stringOr("DAMediaName"), "ST2000DM008-2FR102 Media");
  EXPECT_EQ(d.find("DAMediaSize")->toUInt(), 3907029168ull * 512);
  EXPECT_EQ(d.find("DAMediaBlockSize")->toUInt(), 4096u);
  EXPECT_EQ(d.getBool("DADeviceInternal"), true);
  EXPECT_EQ(d.getBool("DAMediaRemovable"), false);
  EXPECT_EQ(d.getBool("DAMediaWhole"), true);

  const TreeNode* drive = node(t, medium->parent);
  ASSERT_NE(drive, nullptr);
  const Dict& p = drive->properties;
  EXPECT_EQ(p.stringOr("Model"), "ST2000DM008-2FR102");
  EXPECT_EQ(p.stringOr("Serial Number"), "ZFL2M7QH");
  EXPECT_EQ(p.getBool("SMART Capable"), true);
  EXPECT_FALSE(p.contains("NVMe SMART Capable"));
  const Dict* ch = p.getDict("Device Characteristics");
  ASSERT_NE(ch, nullptr);
  EXPECT_EQ(ch->stringOr("Medium Type"), "Rotational");
  EXPECT_EQ(ch->find("Rotation Rate")->toUInt(), 7200u);
  EXPECT_EQ(ch->stringOr("Product Revision Level"), "0001");
  EXPECT_EQ(p.getDict("Protocol Characteristics")->stringOr("Physical Interconnect"), "SATA");
  const Data* location = p.find("io-device-location")->ifData();
  ASSERT_NE(location, nullptr);
  EXPECT_EQ(std::string(location->begin(), location->end()), "pci-0000:00:1f.2-ata-1");
  ASSERT_EQ(t.drives.count(medium->parent), 1u);
  EXPECT_EQ(t.drives.at(medium->parent).devNode, paths_.dev + "/sda");
  EXPECT_EQ(t.drives.at(medium->parent).access, DriveAccess::Ata);

  // The partitions in number order, with their labels as volume names.
  ASSERT_EQ(medium->children.size(), 2u);
  const TreeNode* first = node(t, medium->children[0]);
  EXPECT_EQ(first->properties.stringOr("BSD Name"), "sda1");
  EXPECT_EQ(first->description->stringOr("DAVolumeName"), "EFI");
  EXPECT_EQ(first->description->stringOr("DAMediaContent"), "GUID_partition_scheme");
  EXPECT_EQ(node(t, medium->children[1])->description->stringOr("DAVolumeName"), "Backup");

  // The device path above the drive, up to the PCI root.
  std::vector<std::string> chain;
  for (const TreeNode* n = node(t, drive->parent); n; n = node(t, n->parent))
    chain.push_back(n->name);
  EXPECT_EQ(chain, (std::vector<std::string>{"target0:0:0", "host0", "ata1", "0000:00:1f.2",
                                             "pci0000:00"}));
}

TEST_F(SysfsTree, WithoutIdentifySysfsNamesTheDrive) {
  scsiDevice(kSataDevice, "ST2000DM008-2FR1", "0001", "ZFL2M7QH");
  block(kSataDevice, "sda", 100, "0", "0");
  DiskTree t = scan();
  const TreeNode* drive = node(t, mediumNamed(t, "sda")->parent);
  EXPECT_EQ(drive->properties.stringOr("Model"), "ST2000DM008-2FR1");
  EXPECT_EQ(drive->properties.stringOr("Serial Number"), "ZFL2M7QH");
  EXPECT_EQ(drive->properties.getDict("Device Characteristics")->stringOr("Medium Type"),
            "Solid State");
  // Unreadable content: the disk is listed as blank rather than left out.
  EXPECT_EQ(mediumNamed(t, "sda")->description->stringOr("DAMediaContent"), "");
}

TEST_F(SysfsTree, UsbBridgeIsExternalAndSmartCapableThroughSat) {
  fs::path dev = "devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0";
  scsiDevice(dev, "Portable", "1.00", "");
  block(dev, "sdb", 1000, "0");
  probe_.contents["sdb"] = {"dos", "", std::nullopt};
  identify_.sectors["sdb"] =
      identifySector("WDC WD40EFRX-68N32N0", "WD-WCC7K1234567", "82.00A82", 5400);
  DiskTree t = scan();
  const TreeNode* medium = mediumNamed(t, "sdb");
  EXPECT_EQ(medium->description->getBool("DADeviceInternal"), false);
  EXPECT_EQ(medium->description->stringOr("DAMediaContent"), "FDisk_partition_scheme");
  const Dict& p = node(t, medium->parent)->properties;
  EXPECT_EQ(p.getBool("SMART Capable"), true);
  EXPECT_EQ(p.stringOr("Model"), "WDC WD40EFRX-68N32N0");
  const Dict* proto = p.getDict("Protocol Characteristics");
  EXPECT_EQ(proto->stringOr("Physical Interconnect"), "USB");
  EXPECT_EQ(proto->stringOr("Physical Interconnect Location"), "External");
}

TEST_F(SysfsTree, NvmeNamespaceCarriesItsUuidAndUsesTheControllerNode) {
  fs::path controller = "devices/pci0000:00/0000:00:04.0/nvme/nvme0";
  file(controller / "model", "Samsung SSD 970 EVO Plus 1TB            \n");
  file(controller / "serial", "S4EWNX0R812345K     \n");
  file(controller / "firmware_rev", "2B2QEXM7\n");
  block(controller, "nvme0n1", 1953525168, "0", "0");
  file(controller / "block/nvme0n1/uuid", "00000000-0000-0000-0000-000000000000\n");
  file(controller / "block/nvme0n1/nguid", "7d3f2a91-5c4e-4b8f-a6d2-0e9b1c47f358\n");
  file(controller / "block/nvme0n1/nsid", "1\n");
  probe_.contents["nvme0n1"] = {"gpt", "", std::nullopt};

  DiskTree t = scan();
  const TreeNode* medium = mediumNamed(t, "nvme0n1");
  ASSERT_NE(medium, nullptr);
  const TreeNode* ns = node(t, medium->parent);
  const Dict& p = ns->properties;
  EXPECT_EQ(p.getBool("NVMe SMART Capable"), true);
  EXPECT_FALSE(p.contains("SMART Capable"));
  EXPECT_EQ(p.stringOr("NamespaceUUID"), "7D3F2A91-5C4E-4B8F-A6D2-0E9B1C47F358");
  EXPECT_EQ(p.stringOr("Model"), "Samsung SSD 970 EVO Plus 1TB");
  EXPECT_EQ(p.stringOr("Serial Number"), "S4EWNX0R812345K");
  EXPECT_EQ(p.getDict("Device Characteristics")->stringOr("Product Revision Level"), "2B2QEXM7");
  EXPECT_EQ(p.getDict("Protocol Characteristics")->stringOr("Physical Interconnect"),
            "PCI-Express");
  EXPECT_EQ(node(t, ns->parent)->name, "nvme0");
  EXPECT_EQ(t.drives.at(medium->parent).devNode, paths_.dev + "/nvme0");
  EXPECT_EQ(t.drives.at(medium->parent).access, DriveAccess::Nvme);
  // NVMe drives are never asked for ATA IDENTIFY.
  EXPECT_TRUE(identify_.asked.empty());
}

TEST_F(SysfsTree, ThunderboltTunnelMakesTheDriveExternalThunderbolt) {
  fs::path bridge = "devices/pci0000:00/0000:00:1c.4/0000:05:00.0";
  fs::path controller = bridge / "0000:06:00.0/nvme/nvme1";
  file(bridge / "removable", "removable\n");
  file(controller / "model", "External NVMe\n");
  file(controller / "serial", "TB1\n");
  block(controller, "nvme1n1", 100, "0", "0");
  DiskTree t = scan();
  const TreeNode* medium = mediumNamed(t, "nvme1n1");
  EXPECT_EQ(medium->description->getBool("DADeviceInternal"), false);
  // Searching upwards from the drive finds the Thunderbolt controller.
  bool found = false;
  for (const TreeNode* n = node(t, medium->parent); n; n = node(t, n->parent)) {
    if (const Dict* c = n->properties.getDict("Controller Characteristics"))
      found = c->stringOr("Vendor Name") == "Thunderbolt" && n->name == "0000:05:00.0";
  }
  EXPECT_TRUE(found);
}

TEST_F(SysfsTree, ContentDecidesWhetherDiscoveryKeepsTheDisk) {
  struct Case {
    BlockContent content;
    const char* scheme;
  } cases[] = {{{"gpt", "", {}}, "GUID_partition_scheme"},
               {{"dos", "", {}}, "FDisk_partition_scheme"},
               {{"mac", "", {}}, "Apple_partition_scheme"},
               {{"", "", {}}, ""},          // blank disk
               {{"", "ext4", {}}, "ext4"},  // a file system on the whole disk
               {{"sun", "", {}}, "sun"}};   // a table we do not know
  for (const Case& c : cases) {
    fs::remove_all(root_ / "sys/block");
    fs::remove_all(root_ / "sys/devices");
    fs::create_directories(root_ / "sys/block");
    scsiDevice(kSataDevice, "Disk", "1", "S");
    block(kSataDevice, "sda", 100);
    probe_.contents["sda"] = c.content;
    DiskTree t = scan();
    EXPECT_EQ(mediumNamed(t, "sda")->description->stringOr("DAMediaContent"), c.scheme) << c.scheme;
  }
}

TEST_F(SysfsTree, RemovableAndVirtualDisks) {
  fs::path sd = "devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/host7/target7:0:0/7:0:0:0";
  scsiDevice(sd, "Card Reader", "1.00", "");
  block(sd, "sdc", 0, "1");
  fs::path vda = "devices/pci0000:00/0000:00:05.0/virtio2";
  block(vda, "vda", 2048);
  DiskTree t = scan();
  EXPECT_EQ(mediumNamed(t, "sdc")->description->getBool("DAMediaRemovable"), true);
  // A virtio disk has no SMART access: no SMART-capable entry, no drive node.
  const TreeNode* medium = mediumNamed(t, "vda");
  ASSERT_NE(medium, nullptr);
  for (const TreeNode* n = node(t, medium->parent); n; n = node(t, n->parent)) {
    EXPECT_FALSE(n->properties.contains("SMART Capable"));
    EXPECT_FALSE(n->properties.contains("NVMe SMART Capable"));
  }
  EXPECT_EQ(t.drives.size(), 1u);  // only the card reader's bridge
  // ...and its medium says why, for the message a user sees.
  EXPECT_EQ(medium->properties.stringOr("SMART Unavailable Reason"),
            "a virtio disk: the virtual machine's host passes no SMART data to it");
  EXPECT_FALSE(mediumNamed(t, "sdc")->properties.contains("SMART Unavailable Reason"));
}

TEST_F(SysfsTree, DisksOnOneControllerShareItsEntries) {
  fs::path second = "devices/pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0";
  scsiDevice(kSataDevice, "A", "1", "SA");
  scsiDevice(second, "B", "1", "SB");
  block(kSataDevice, "sda", 100);
  block(second, "sdb", 100);
  DiskTree t = scan();
  auto pciOf = [&](const std::string& bsd) {
    for (const TreeNode* n = mediumNamed(t, bsd); n; n = node(t, n->parent))
      if (n->name == "0000:00:1f.2") return n;
    return static_cast<const TreeNode*>(nullptr);
  };
  ASSERT_NE(pciOf("sda"), nullptr);
  EXPECT_EQ(pciOf("sda"), pciOf("sdb"));
  EXPECT_EQ(pciOf("sda")->children.size(), 2u);
}

TEST(IdentifyStringTest, ExchangesBytesAndTrims) {
  std::array<std::uint8_t, 8> bytes{'B', 'A', 'D', 'C', ' ', 'E', ' ', ' '};
  EXPECT_EQ(identifyString(bytes, 0, 4), "ABCDE");
  EXPECT_EQ(identifyString(bytes, 0, 10), "ABCDE");  // runs past the end: stops there
  std::array<std::uint8_t, 4> invalid{0xC3, 'A', 0x28, 'B'};
  EXPECT_EQ(identifyString(invalid, 0, 2), "");
}

}  // namespace
}  // namespace sentrel::platform
