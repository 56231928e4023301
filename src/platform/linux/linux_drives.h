// The disks of the running Linux machine behind the registry, disk
// arbitration and SMART plug-in interfaces: the registry is scanned from
// sysfs on first use, ATA drives are reached with SG_IO ATA pass-through on
// their /dev/sdX node and NVMe drives with admin commands on their
// /dev/nvmeN controller node.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/sysfs_disks.h"

namespace sentrel::platform {

class LinuxDrives {
 public:
  explicit LinuxDrives(LinuxDiskPaths paths);
  ~LinuxDrives();

  Registry& registry();
  DiskArbitration& diskArbitration();
  SmartPlugIns& plugIns();

  // The tree, scanned on first use.
  const DiskTree& tree();

 private:
  struct Areas;
  LinuxDiskPaths paths_;
  std::once_flag scanned_;
  DiskTree tree_;
  std::unique_ptr<Areas> areas_;
};

}  // namespace sentrel::platform
