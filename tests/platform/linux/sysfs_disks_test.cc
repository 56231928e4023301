// The disks of a Linux machine as the registry shows them, read from folder
// trees that stand for /sys and /dev: one per kind of disk.
#include "platform/linux/sysfs_disks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
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
const fs::path kUsbDevice =
    "devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0";
const fs::path kNvmeController = "devices/pci0000:00/0000:00:04.0/nvme/nvme0";

TEST_F(SysfsTree, SataDiskGetsItsWholeNamesFromIdentifyAndItsPartitions) {
  subsystem("devices/pci0000:00/0000:00:1f.2", "pci");
  scsiDevice(kSataDevice, "ST2000DM008-2FR1", "0001", "ZFL2M7QH");
  block(kSataDevice, "sda", 3907029168);
  partition(kSataDevice, "sda", 2, 1000);
  partition(kSataDevice, "sda", 1, 409600);
  probe_.contents["sda1"] = {"", "vfat", "EFI"};
  probe_.contents["sda2"] = {"", "ext4", "Backup"};
  identify_.sectors["sda"] = identifySector("ST2000DM008-2FR102", "ZFL2M7QH", "0001", 7200);

  DiskTree t = scan();
  const TreeNode* medium = mediumNamed(t, "sda");
  ASSERT_NE(medium, nullptr);
  EXPECT_EQ(medium->description->stringOr("DAMediaName"), "ST2000DM008-2FR102 Media");
  const TreeNode* drive = node(t, medium->parent);
  const Dict* ch = drive->properties.getDict("Device Characteristics");
  ASSERT_NE(ch, nullptr);
  EXPECT_EQ(ch->find("Rotation Rate")->toUInt(), 7200u);
  EXPECT_EQ(ch->stringOr("Product Revision Level"), "0001");
  const Data* location = drive->properties.find("io-device-location")->ifData();
  ASSERT_NE(location, nullptr);
  EXPECT_EQ(std::string(location->begin(), location->end()), "pci-0000:00:1f.2-ata-1");

  // The partitions in number order, with their labels as volume names.
  ASSERT_EQ(medium->children.size(), 2u);
  const TreeNode* first = node(t, medium->children[0]);
  EXPECT_EQ(first->properties.stringOr("BSD Name"), "sda1");
  EXPECT_EQ(first->description->stringOr("DAVolumeName"), "EFI");
  EXPECT_EQ(node(t, medium->children[1])->description->stringOr("DAVolumeName"), "Backup");

  // The device path above the drive, up to the PCI root.
  std::vector<std::string> chain;
  for (const TreeNode* n = node(t, drive->parent); n; n = node(t, n->parent))
    chain.push_back(n->name);
  EXPECT_EQ(chain, (std::vector<std::string>{"target0:0:0", "host0", "ata1", "0000:00:1f.2",
                                             "pci0000:00"}));
}

// One disk of each kind: what its medium and its drive entry say. The size
// file counts 512-byte units whatever the logical block size.
TEST_F(SysfsTree, EachKindOfDisk) {
  struct Case {
    const char* name;
    std::function<void()> build;
    std::string bsd;
    std::uint64_t bytes;
    bool internal, removable;
    std::string content;
    std::string model, serial, interconnect, medium;  // model "": no SMART entry
    std::string node;                                 // the drive's node below /dev
    std::string noSmartReason = "";
  } cases[] = {
      {"SATA with IDENTIFY",
       [&] {
         scsiDevice(kSataDevice, "ST2000DM008-2FR1", "0001", "ZFL2M7QH");
         block(kSataDevice, "sda", 3907029168);
         probe_.contents["sda"] = {"gpt", "", std::nullopt};
         identify_.sectors["sda"] = identifySector("ST2000DM008-2FR102", "ZFL2M7QH", "1", 7200);
       },
       "sda", 3907029168ull * 512, true, false, "GUID_partition_scheme", "ST2000DM008-2FR102",
       "ZFL2M7QH", "SATA", "Rotational", "sda"},
      {"SATA without IDENTIFY: sysfs names it",
       [&] {
         scsiDevice(kSataDevice, "ST2000DM008-2FR1", "0001", "ZFL2M7QH");
         block(kSataDevice, "sda", 100, "0", "0");
       },
       "sda", 100 * 512, true, false, "", "ST2000DM008-2FR1", "ZFL2M7QH", "SATA", "Solid State",
       "sda"},
      {"SATA with 4096-byte logical blocks",
       [&] {
         scsiDevice(kSataDevice, "4Kn", "1", "K");
         block(kSataDevice, "sda", 7814037168, "0", "1", "4096");
       },
       "sda", 7814037168ull * 512, true, false, "", "4Kn", "K", "SATA", "Rotational", "sda"},
      {"USB bridge: external, SMART through SAT",
       [&] {
         scsiDevice(kUsbDevice, "Portable", "1.00", "");
         block(kUsbDevice, "sdb", 1000);
         probe_.contents["sdb"] = {"dos", "", std::nullopt};
         identify_.sectors["sdb"] =
             identifySector("WDC WD40EFRX-68N32N0", "WD-WCC7K1234567", "82.00A82", 5400);
       },
       "sdb", 1000 * 512, false, false, "FDisk_partition_scheme", "WDC WD40EFRX-68N32N0",
       "WD-WCC7K1234567", "USB", "Rotational", "sdb"},
      {"card reader",
       [&] {
         scsiDevice(kUsbDevice, "Card Reader", "1.00", "");
         block(kUsbDevice, "sdc", 0, "1");
       },
       "sdc", 0, false, true, "", "Card Reader", "", "USB", "Rotational", "sdc"},
      {"NVMe with 4096-byte logical blocks, on the controller's node",
       [&] {
         file(kNvmeController / "model", "Samsung SSD 970 EVO Plus 1TB            \n");
         file(kNvmeController / "serial", "S4EWNX0R812345K     \n");
         file(kNvmeController / "firmware_rev", "2B2QEXM7\n");
         block(kNvmeController, "nvme0n1", 1953525168, "0", "0", "4096");
         probe_.contents["nvme0n1"] = {"gpt", "", std::nullopt};
       },
       "nvme0n1", 1953525168ull * 512, true, false, "GUID_partition_scheme",
       "Samsung SSD 970 EVO Plus 1TB", "S4EWNX0R812345K", "PCI-Express", "Solid State", "nvme0"},
      {"virtio: no SMART access, and why",
       [&] { block("devices/pci0000:00/0000:00:05.0/virtio2", "vda", 2048); }, "vda", 2048 * 512,
       true, false, "", "", "", "", "", "",
       "a virtio disk: the virtual machine's host passes no SMART data to it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root_ / "sys/block");
    fs::remove_all(root_ / "sys/devices");
    fs::create_directories(root_ / "sys/block");
    probe_.contents.clear();
    identify_.sectors.clear();
    c.build();
    DiskTree t = scan();
    const TreeNode* medium = mediumNamed(t, c.bsd);
    ASSERT_NE(medium, nullptr);
    const Dict& d = *medium->description;
    EXPECT_EQ(d.find("DAMediaSize")->toUInt(), c.bytes);
    EXPECT_EQ(d.find("DAMediaBlockSize")->toUInt(), 4096u);
    EXPECT_EQ(d.getBool("DADeviceInternal"), c.internal);
    EXPECT_EQ(d.getBool("DAMediaRemovable"), c.removable);
    EXPECT_EQ(d.stringOr("DAMediaContent"), c.content);
    EXPECT_EQ(medium->properties.stringOr("SMART Unavailable Reason"), c.noSmartReason);
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
  // NVMe drives are never asked for ATA IDENTIFY.
  EXPECT_EQ(std::count(identify_.asked.begin(), identify_.asked.end(), paths_.dev + "/nvme0n1"), 0);
}

TEST_F(SysfsTree, NvmeNamespaceUuidAndThunderboltTunnel) {
  const fs::path bridge = "devices/pci0000:00/0000:00:1c.4/0000:05:00.0";
  const fs::path controller = bridge / "0000:06:00.0/nvme/nvme1";
  file(bridge / "removable", "removable\n");
  file(controller / "model", "External NVMe\n");
  block(controller, "nvme1n1", 100, "0", "0");
  file(controller / "block/nvme1n1/uuid", "00000000-0000-0000-0000-000000000000\n");
  file(controller / "block/nvme1n1/nguid", "7d3f2a91-5c4e-4b8f-a6d2-0e9b1c47f358\n");
  DiskTree t = scan();
  const TreeNode* medium = mediumNamed(t, "nvme1n1");
  ASSERT_NE(medium, nullptr);
  EXPECT_EQ(medium->description->getBool("DADeviceInternal"), false);
  // The zero UUID says nothing; the NGUID is taken instead.
  EXPECT_EQ(node(t, medium->parent)->properties.stringOr("NamespaceUUID"),
            "7D3F2A91-5C4E-4B8F-A6D2-0E9B1C47F358");
  // Searching upwards from the drive finds the Thunderbolt controller.
  bool found = false;
  for (const TreeNode* n = node(t, medium->parent); n; n = node(t, n->parent)) {
    if (const Dict* c = n->properties.getDict("Controller Characteristics"))
      found = c->stringOr("Vendor Name") == "Thunderbolt" && n->name == "0000:05:00.0";
  }
  EXPECT_TRUE(found);
}

TEST_F(SysfsTree, ContentDecidesWhetherDiscoveryKeepsTheDiskAndControllersAreShared) {
  const fs::path second = "devices/pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0";
  scsiDevice(kSataDevice, "A", "1", "SA");
  scsiDevice(second, "B", "1", "SB");
  block(kSataDevice, "sda", 100);
  block(second, "sdb", 100);
  auto pciOf = [&](const DiskTree& t, const std::string& bsd) {
    for (const TreeNode* n = mediumNamed(t, bsd); n; n = node(t, n->parent))
      if (n->name == "0000:00:1f.2") return n;
    return static_cast<const TreeNode*>(nullptr);
  };
  struct Case {
    BlockContent content;
    const char* scheme;
  } cases[] = {{{"mac", "", {}}, "Apple_partition_scheme"},
               {{"", "ext4", {}}, "ext4"}};  // a file system on the whole disk
  for (const Case& c : cases) {
    probe_.contents["sda"] = c.content;
    DiskTree t = scan();
    EXPECT_EQ(mediumNamed(t, "sda")->description->stringOr("DAMediaContent"), c.scheme);
    ASSERT_NE(pciOf(t, "sda"), nullptr);
    EXPECT_EQ(pciOf(t, "sda"), pciOf(t, "sdb"));
    EXPECT_EQ(pciOf(t, "sda")->children.size(), 2u);
  }
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
