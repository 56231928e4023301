// The Linux backend: the machine the process runs on. It is the default
// platform, so a host that installs nothing else uses it; these settings
// say where it finds the host's resources and the machine's disks, and
// must be made before its first use.
#pragma once

#include <string>

#include "sentrel/export.h"
#include "sentrel/platform.h"

namespace sentrel::platform {

// Where the backend reads the disks from: the sysfs root, the device
// folder and udev's database. Tests point them at a folder tree.
struct LinuxDiskPaths {
  std::string sys = "/sys";
  std::string dev = "/dev";
  std::string udevData = "/run/udev/data";
};

struct LinuxOptions {
  // The host's resource folder (drive database copy, localized strings).
  std::string resourceDir;
  // The host's bundle name, which names its support folder.
  std::string bundleName = "Sentrel";
  std::string bundleIdentifier = "org.sentrel.cli";
  LinuxDiskPaths disks;
};

// Sets the options before first use of the backend.
SENTREL_API void configureLinuxPlatform(LinuxOptions options);

// The process-wide Linux backend (also defaultPlatform()).
SENTREL_API Platform& linuxPlatform();

}  // namespace sentrel::platform
