// The Linux backend: the machine the process runs on. It is the default
// platform, so a host that installs nothing else uses it; these settings
// say where it finds the host's resources and the machine's disks, and
// must be made before its first use.
#pragma once

#include <cstdint>
#include <string>

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
  // The most bytes a file read whole (a drive database, a machine
  // description, a resource) or a tool's output may hold; anything longer is
  // refused rather than read until memory runs out.
  std::uint64_t maxFileSize = std::uint64_t{64} << 20;
};

// Sets the options before first use of the backend.
void configureLinuxPlatform(LinuxOptions options);

// The process-wide Linux backend (also defaultPlatform()).
Platform& linuxPlatform();

}  // namespace sentrel::platform
