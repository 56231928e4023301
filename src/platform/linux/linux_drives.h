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

// Opening a node or sending it a command was refused for want of
// privileges. The host tells its user which node and what is needed.
struct AccessProblem {
  std::string node;
  std::string what;    // "root or CAP_SYS_RAWIO (ATA pass-through)"
  std::string reason;  // the system's text for the error
  std::string message() const;
};

class LinuxDrives {
 public:
  explicit LinuxDrives(SysfsPaths paths);
  ~LinuxDrives();

  Registry& registry();
  DiskArbitration& diskArbitration();
  SmartPlugIns& plugIns();

  // Every refusal so far, each node once.
  std::vector<AccessProblem> accessProblems() const;
  void noteAccessProblem(AccessProblem problem);

  // The tree, scanned on first use.
  const DiskTree& tree();

 private:
  struct Areas;
  SysfsPaths paths_;
  std::once_flag scanned_;
  DiskTree tree_;
  mutable std::mutex problemsMutex_;
  std::vector<AccessProblem> problems_;
  std::unique_ptr<Areas> areas_;
};

}  // namespace sentrel::platform
