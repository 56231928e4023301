#include "platform/linux/sysfs_disks.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "core/bytes.h"
#include "core/text.h"
#include "sentrel/keys.h"

namespace sentrel::platform {

namespace fs = std::filesystem;

namespace {

// IDENTIFY DEVICE words.
constexpr std::size_t kSerialWord = 10, kSerialWords = 10;
constexpr std::size_t kFirmwareWord = 23, kFirmwareWords = 4;
constexpr std::size_t kModelWord = 27, kModelWords = 20;
constexpr std::size_t kRotationWord = 217;

std::optional<std::string> readText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string attribute(const fs::path& file) {
  auto text = readText(file);
  return text ? std::string(text::trimWhitespace(*text)) : std::string();
}

std::optional<std::uint64_t> number(const fs::path& file) {
  std::string s = attribute(file);
  if (s.empty() || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  try {
    return std::stoull(s);
  } catch (...) {
    return std::nullopt;
  }
}

fs::path resolved(const fs::path& p) {
  std::error_code ec;
  fs::path r = fs::canonical(p, ec);
  return ec ? fs::path() : r;
}

std::string subsystemOf(const fs::path& dir) {
  std::error_code ec;
  fs::path target = fs::read_symlink(dir / "subsystem", ec);
  return ec ? std::string() : target.filename().string();
}

bool matches(const std::string& s, const char* pattern) {
  return std::regex_match(s, std::regex(pattern));
}

bool isPciAddress(const std::string& s) {
  return matches(s, "[0-9a-f]{4}:[0-9a-f]{2}:[0-9a-f]{2}\\.[0-7]");
}

// The bus a disk hangs on, read off the folders of its device path.
enum class Transport { Sata, Usb, Sas, FireWire, Nvme, Virtio, Other };

struct PathFacts {
  Transport transport = Transport::Other;
  std::string ataPort;     // "1" of ata1
  std::string pciAddress;  // the nearest PCI function
  std::string usbPort;     // "2-1:1.0"
  fs::path thunderbolt;    // the PCI device a Thunderbolt tunnel brings in
};

PathFacts factsOf(const fs::path& device, const fs::path& devicesRoot, bool nvme) {
  PathFacts f;
  f.transport = nvme ? Transport::Nvme : Transport::Other;
  for (fs::path at = device; !at.empty() && at != devicesRoot && at != at.root_path();
       at = at.parent_path()) {
    std::string name = at.filename().string();
    if (f.transport == Transport::Other) {
      if (matches(name, "ata[0-9]+")) {
        f.transport = Transport::Sata;
        f.ataPort = name.substr(3);
      } else if (matches(name, "[0-9]+-[0-9.]+:[0-9]+\\.[0-9]+")) {
        f.transport = Transport::Usb;
        f.usbPort = name;
      } else if (name.rfind("end_device-", 0) == 0) {
        f.transport = Transport::Sas;
      } else if (matches(name, "fw[0-9]+")) {
        f.transport = Transport::FireWire;
      } else if (matches(name, "virtio[0-9]+")) {
        f.transport = Transport::Virtio;
      }
    }
    if (isPciAddress(name)) {
      if (f.pciAddress.empty()) f.pciAddress = name;
      // PCI devices behind an external port (a Thunderbolt tunnel) are
      // marked removable by the kernel.
      if (attribute(at / "removable") == "removable") f.thunderbolt = at;
    }
    if (subsystemOf(at) == "thunderbolt" && f.thunderbolt.empty()) f.thunderbolt = at;
  }
  return f;
}

const char* interconnectName(Transport t) {
  switch (t) {
    case Transport::Sata:
      return "SATA";
    case Transport::Usb:
      return "USB";
    case Transport::Sas:
      return "SAS";
    case Transport::FireWire:
      return "FireWire";
    case Transport::Nvme:
      return "PCI-Express";
    case Transport::Virtio:
      return "Virtio";
    case Transport::Other:
      return "SCSI";
  }
  return "SCSI";
}

// Why a disk of this kind has no SMART access; "" for one that has it.
std::string noSmartReason(bool hasDevice, Transport t) {
  if (!hasDevice)
    return "a virtual block device (loop, device mapper, RAID, zram) has no drive of its own";
  switch (t) {
    case Transport::Sata:
    case Transport::Usb:
    case Transport::Nvme:
      return "";
    case Transport::Virtio:
      return "a virtio disk: the virtual machine's host passes no SMART data to it";
    case Transport::Sas:
      return "a SAS disk: SMART data is read from ATA and NVMe drives only";
    case Transport::FireWire:
      return "a FireWire disk: its bridge passes no ATA commands";
    case Transport::Other:
      break;
  }
  return "a SCSI disk or card reader: SMART data is read from ATA and NVMe drives only";
}

std::string schemeOf(const std::optional<BlockContent>& c) {
  if (!c) return "";
  if (c->partitionTable == "gpt") return std::string(keys::kGuidScheme);
  if (c->partitionTable == "dos") return std::string(keys::kMbrScheme);
  if (c->partitionTable == "mac") return std::string(keys::kApmScheme);
  if (!c->partitionTable.empty()) return c->partitionTable;
  return c->filesystem;
}

// The persistent by-path name of a disk: the link in /dev/disk/by-path that
// leads to it, or one made the same way from the device path.
std::string byPathName(const SysfsPaths& paths, const std::string& kernelName, const PathFacts& f,
                       const std::string& nsid) {
  std::error_code ec;
  std::vector<std::string> links;
  for (const auto& e : fs::directory_iterator(fs::path(paths.dev) / "disk" / "by-path", ec)) {
    fs::path target = fs::read_symlink(e.path(), ec);
    if (!ec && target.filename() == kernelName) links.push_back(e.path().filename().string());
  }
  if (!links.empty()) return *std::min_element(links.begin(), links.end());
  std::string name = f.pciAddress.empty() ? "" : "pci-" + f.pciAddress;
  auto add = [&](const std::string& part) { name += (name.empty() ? "" : "-") + part; };
  switch (f.transport) {
    case Transport::Sata:
      add("ata-" + f.ataPort);
      break;
    case Transport::Usb:
      add("usb-" + f.usbPort);
      break;
    case Transport::Nvme:
      add("nvme-" + (nsid.empty() ? std::string("1") : nsid));
      break;
    default:
      if (name.empty()) add(kernelName);
      break;
  }
  return name;
}

Data dataOf(const std::string& s) {
  return Data(s.begin(), s.end());
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The namespace's identifier: its UUID, else its NGUID (both written as a
// UUID), else its world-wide name. An all-zero identifier is no identifier.
std::string namespaceUuid(const fs::path& block) {
  for (const char* file : {"uuid", "nguid"}) {
    std::string v = attribute(block / file);
    if (!v.empty() && v.find_first_not_of("0-") != std::string::npos) return upper(v);
  }
  return attribute(block / "wwid");
}

// The serial number in VPD page 80h: a 4-byte header, then the text.
std::string vpdSerial(const fs::path& device) {
  auto page = readText(device / "vpd_pg80");
  if (!page || page->size() < 4) return "";
  std::size_t length = static_cast<unsigned char>((*page)[3]);
  return std::string(text::trimWhitespace(page->substr(4, length)));
}

struct DriveFacts {
  std::string model, serial, firmware;
  std::optional<bool> solidState;
  std::optional<std::uint64_t> rotationRate;
};

class Scanner {
 public:
  Scanner(const SysfsPaths& paths, BlockProbe& probe, IdentifyReader& identify)
      : paths_(paths),
        probe_(probe),
        identify_(identify),
        devicesRoot_(resolved(fs::path(paths.sys) / "devices")) {}

  DiskTree run() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fs::path(paths_.sys) / "block", ec))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return text::compareNumeric(a, b, false) < 0;
    });
    for (const std::string& name : names) disk(name);
    return std::move(tree_);
  }

 private:
  RegistryEntry add(TreeNode node) {
    tree_.nodes.push_back(std::move(node));
    return static_cast<RegistryEntry>(tree_.nodes.size());
  }
  void link(RegistryEntry child, RegistryEntry parent) {
    tree_.nodes[child - 1].parent = parent;
    tree_.nodes[parent - 1].children.push_back(child);
  }

  // The entries of the device path above `from`, shared between disks,
  // nearest first; answers the nearest.
  void chainAbove(RegistryEntry child, fs::path at, const PathFacts& facts) {
    for (; !at.empty() && at != devicesRoot_ && at != at.root_path(); at = at.parent_path()) {
      auto known = byPath_.find(at.string());
      if (known != byPath_.end()) {
        link(child, known->second);
        return;
      }
      TreeNode node;
      node.name = at.filename().string();
      node.className = subsystemOf(at);
      if (!facts.thunderbolt.empty() && at == facts.thunderbolt)
        node.properties.set(keys::kControllerCharacteristics,
                            Dict{{keys::kVendorName, "Thunderbolt"}});
      RegistryEntry h = add(std::move(node));
      byPath_[at.string()] = h;
      link(child, h);
      child = h;
    }
  }

  DriveFacts scsiFacts(const fs::path& device, const std::string& devNode, bool ata,
                       const fs::path& block) {
    DriveFacts d;
    d.model = attribute(device / "model");
    d.firmware = attribute(device / "rev");
    d.serial = vpdSerial(device);
    std::string rotational = attribute(block / "queue" / "rotational");
    if (!rotational.empty()) d.solidState = rotational == "0";
    if (!ata) return d;
    // The SCSI view of an ATA disk cuts the model to 16 characters and the
    // firmware to 4: the drive's own IDENTIFY data has them whole.
    if (auto id = identify_.identify(devNode)) {
      std::span<const std::uint8_t> words(*id);
      if (auto m = identifyString(words, kModelWord, kModelWords); !m.empty()) d.model = m;
      if (auto s = identifyString(words, kSerialWord, kSerialWords); !s.empty()) d.serial = s;
      if (auto f = identifyString(words, kFirmwareWord, kFirmwareWords); !f.empty()) d.firmware = f;
      std::uint16_t rate = bytes::load16(words, kRotationWord * 2);
      if (rate == 1) d.solidState = true;
      if (rate >= 0x0401 && rate <= 0xFFFE) {
        d.solidState = false;
        d.rotationRate = rate;
      }
    }
    return d;
  }

  void disk(const std::string& name) {
    fs::path block = resolved(fs::path(paths_.sys) / "block" / name);
    if (block.empty()) return;
    bool nvme = matches(name, "nvme[0-9]+n[0-9]+");
    fs::path device = resolved(block / "device");
    std::string majorMinor = attribute(block / "dev");
    std::string devNode = (fs::path(paths_.dev) / name).string();

    // An NVMe namespace's device is its controller; a multipath namespace
    // hangs below its subsystem, whose controllers are listed inside it.
    fs::path controller = nvme ? device : fs::path();
    if (nvme && controller.filename().string().rfind("nvme-subsys", 0) == 0) {
      std::error_code ec;
      fs::path found;
      for (const auto& e : fs::directory_iterator(controller, ec)) {
        if (matches(e.path().filename().string(), "nvme[0-9]+")) found = resolved(e.path());
        if (!found.empty()) break;
      }
      controller = found;
    }
    fs::path pathStart = nvme ? controller : device;
    PathFacts facts = pathStart.empty() ? PathFacts{} : factsOf(pathStart, devicesRoot_, nvme);
    bool ata = facts.transport == Transport::Sata || facts.transport == Transport::Usb;

    DriveFacts drive;
    std::string nodeOfDrive;
    if (nvme && !controller.empty()) {
      drive.model = attribute(controller / "model");
      drive.serial = attribute(controller / "serial");
      drive.firmware = attribute(controller / "firmware_rev");
      drive.solidState = true;
      nodeOfDrive = (fs::path(paths_.dev) / controller.filename()).string();
    } else if (!device.empty()) {
      drive = scsiFacts(device, devNode, ata, block);
      nodeOfDrive = devNode;
    }

    std::uint64_t sectors = number(block / "size").value_or(0);
    std::uint64_t blockSize =
        number(block / "queue" / "physical_block_size")
            .value_or(number(block / "queue" / "logical_block_size").value_or(512));
    std::uint64_t logicalSize = number(block / "queue" / "logical_block_size").value_or(512);
    bool removable = attribute(block / "removable") == "1";
    bool external = facts.transport == Transport::Usb || facts.transport == Transport::FireWire ||
                    !facts.thunderbolt.empty();
    auto content = probe_.probe(devNode, majorMinor);
    std::string scheme = schemeOf(content);
    std::string mediaName = (drive.model.empty() ? name : drive.model) + " Media";

    TreeNode medium;
    medium.className = "IOMedia";
    medium.name = mediaName;
    medium.properties = Dict{{keys::kBSDName, name},       {keys::kWhole, true},
                             {keys::kSize, sectors * 512}, {"Preferred Block Size", blockSize},
                             {keys::kContent, scheme},     {keys::kRemovable, removable}};
    medium.description = Dict{{keys::kDAMediaBSDName, name},
                              {keys::kDAMediaContent, scheme},
                              {keys::kDAMediaWhole, true},
                              {keys::kDAMediaName, mediaName},
                              {keys::kDAMediaSize, sectors * 512},
                              {keys::kDAMediaBlockSize, blockSize},
                              {keys::kDAMediaRemovable, removable},
                              {keys::kDADeviceInternal, !external},
                              {"DADeviceModel", drive.model},
                              {"DADeviceRevision", drive.firmware},
                              {"DADeviceProtocol", interconnectName(facts.transport)}};
    if (std::string why = noSmartReason(!device.empty(), facts.transport); !why.empty())
      medium.properties.set(keys::kNoSmartReason, why);
    RegistryEntry mediumHandle = add(std::move(medium));
    tree_.wholeMedia.push_back(mediumHandle);

    if (!device.empty()) {
      TreeNode drv;
      drv.className = nvme ? "nvme_namespace" : subsystemOf(device);
      drv.name = nvme ? name : device.filename().string();
      Dict characteristics{{keys::kProductName, drive.model},
                           {keys::kProductRevisionLevel, drive.firmware},
                           {keys::kSerialNumber, drive.serial}};
      if (drive.solidState)
        characteristics.set(keys::kMediumType, *drive.solidState ? "Solid State" : "Rotational");
      if (drive.rotationRate) characteristics.set(keys::kRotationRate, *drive.rotationRate);
      characteristics.set(keys::kLogicalBlockSize, logicalSize);
      characteristics.set(keys::kPhysicalBlockSize, blockSize);
      Dict& p = drv.properties;
      if (!drive.serial.empty() || ata || nvme) p.set(keys::kSerialNumber, drive.serial);
      p.set(keys::kModel, drive.model);
      if (nvme) p.set(keys::kNamespaceUUID, namespaceUuid(block));
      p.set(keys::kDeviceCharacteristics, std::move(characteristics));
      p.set(keys::kProtocolCharacteristics,
            Dict{{keys::kPhysicalInterconnect, interconnectName(facts.transport)},
                 {keys::kPhysicalInterconnectLocation, external ? "External" : "Internal"}});
      if (ata) p.set(keys::kSmartCapable, true);
      if (nvme) p.set(keys::kNvmeSmartCapable, true);
      p.set(keys::kDeviceLocationProperty,
            dataOf(byPathName(paths_, name, facts, nvme ? attribute(block / "nsid") : "")));
      p.set("Device Node", nodeOfDrive);
      // A namespace has an entry of its own below its controller's; a SCSI
      // disk's device folder is shared by nothing else.
      fs::path above = nvme ? controller : device.parent_path();
      RegistryEntry drvHandle = add(std::move(drv));
      link(mediumHandle, drvHandle);
      if (ata || nvme)
        tree_.drives[drvHandle] = {nodeOfDrive, nvme ? DriveAccess::Nvme : DriveAccess::Ata};
      chainAbove(drvHandle, above, facts);
    }

    partitions(name, block, mediumHandle, scheme);
  }

  void partitions(const std::string& diskName, const fs::path& block, RegistryEntry medium,
                  const std::string& scheme) {
    std::vector<std::pair<std::uint64_t, std::string>> found;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(block, ec)) {
      if (auto n = number(e.path() / "partition"))
        found.emplace_back(*n, e.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    for (const auto& [number_, part] : found) {
      fs::path dir = block / part;
      TreeNode node;
      node.className = "IOMedia";
      node.name = part;
      node.properties = Dict{{keys::kBSDName, part},
                             {"Partition ID", number_},
                             {keys::kSize, number(dir / "size").value_or(0) * 512},
                             {keys::kWhole, false},
                             {"Leaf", true}};
      Dict description{{keys::kDAMediaBSDName, part},
                       {keys::kDAMediaWhole, false},
                       {keys::kDAMediaContent, scheme}};
      auto content = probe_.probe((fs::path(paths_.dev) / part).string(), attribute(dir / "dev"));
      if (content && content->label) description.set(keys::kDAVolumeName, *content->label);
      node.description = std::move(description);
      link(add(std::move(node)), medium);
    }
    (void)diskName;
  }

  const SysfsPaths& paths_;
  BlockProbe& probe_;
  IdentifyReader& identify_;
  fs::path devicesRoot_;
  DiskTree tree_;
  std::map<std::string, RegistryEntry> byPath_;
};

}  // namespace

std::string identifyString(std::span<const std::uint8_t> identify, std::size_t firstWord,
                           std::size_t words) {
  std::string s;
  for (std::size_t w = firstWord; w < firstWord + words && 2 * w + 1 < identify.size(); ++w) {
    s += static_cast<char>(identify[2 * w + 1]);
    s += static_cast<char>(identify[2 * w]);
  }
  if (auto end = s.find('\0'); end != std::string::npos) s.resize(end);
  if (!text::isValidUtf8(s)) return "";
  return std::string(text::trimWhitespace(s));
}

DiskTree scanDisks(const SysfsPaths& paths, BlockProbe& probe, IdentifyReader& identify) {
  return Scanner(paths, probe, identify).run();
}

}  // namespace sentrel::platform
