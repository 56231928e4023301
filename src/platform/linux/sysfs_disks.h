// The disks of a Linux machine as a device registry: every entry of
// /sys/block becomes a whole medium, with its partitions below it and its
// device path above it, in the shape drive discovery reads (identity and
// SMART-capable entries, disk-arbitration descriptions).
//
// What comes from where:
//   BSD name             the kernel name (sda, nvme0n1)
//   content              the partition table (gpt, dos, mac) or a file system
//                        on the whole disk, from the block probe
//   size, block size     sysfs size x 512, queue/physical_block_size
//   removable, internal  sysfs removable; internal unless USB, FireWire or
//                        Thunderbolt
//   model, serial, rev   ATA IDENTIFY when the drive answers it, else sysfs
//                        (SCSI model/rev and VPD page 80h; NVMe controller
//                        model, serial, firmware_rev)
//   SMART capable        ATA disks behind libata or a USB bridge ("SMART
//                        Capable", node /dev/sdX); NVMe namespaces ("NVMe
//                        SMART Capable" with keys::kNamespaceUUID, node /dev/nvmeN)
//   location             the persistent by-path name
//
// The folders are parameters, so a test scans a folder tree standing for
// /sys and /dev.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry_tree.h"
#include "sentrel/keys.h"
#include "sentrel/linux_platform.h"

namespace sentrel::platform {

using SysfsPaths = LinuxDiskPaths;

// What a look at the first sectors of a block device finds.
struct BlockContent {
  std::string partitionTable;  // "gpt", "dos", "mac", ... or "" for none
  std::string filesystem;      // a file system on the device itself, or ""
  std::optional<std::string> label;
};

class BlockProbe {
 public:
  virtual ~BlockProbe() = default;
  // Empty when the device cannot be read. `majorMinor` is "8:0".
  virtual std::optional<BlockContent> probe(const std::string& devNode,
                                            const std::string& majorMinor) = 0;
};

class IdentifyReader {
 public:
  virtual ~IdentifyReader() = default;
  // IDENTIFY DEVICE of the ATA drive at the node; empty when it does not answer.
  virtual std::optional<std::array<std::uint8_t, kSectorSize>> identify(
      const std::string& devNode) = 0;
};

enum class DriveAccess { Ata, Nvme };

struct DriveNode {
  std::string devNode;  // /dev/sda, /dev/nvme0
  DriveAccess access = DriveAccess::Ata;
};

struct DiskTree {
  std::vector<TreeNode> nodes;  // handle h is nodes[h - 1]
  std::vector<RegistryEntry> wholeMedia;
  std::map<RegistryEntry, DriveNode> drives;  // the SMART-capable entries
};

DiskTree scanDisks(const SysfsPaths& paths, BlockProbe& probe, IdentifyReader& identify);

// The text of an IDENTIFY DEVICE string field: `words` 16-bit words from
// `firstWord`, each word's two bytes exchanged, trimmed.
std::string identifyString(std::span<const std::uint8_t> identify, std::size_t firstWord,
                           std::size_t words);

}  // namespace sentrel::platform
