// The Linux backend: the machine the process runs on. It is the default
// platform, so a host that installs nothing else uses it with the system's
// paths: the installed resource folder, the system's drive database and
// the user's data folder. These settings change that, and must be made
// before the backend's first use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// The resource folder of an installed Sentrel (PREFIX/share/sentrel): the
// localized string tables, and the drive database copy of last resort.
SENTREL_API std::string installedResourceDir();

struct LinuxOptions {
  // The host's resource folder: its .strings tables and
  // driveDatabase/drivedb.h.
  std::string resourceDir = installedResourceDir();
  // The system's own drive database files, tried in order before the
  // resource folder's copy: the one smartmontools' update-smart-drivedb
  // keeps current, then the one its package installed.
  std::vector<std::string> systemDriveDatabases = {"/var/lib/smartmontools/drivedb/drivedb.h",
                                                   "/usr/share/smartmontools/drivedb.h"};
  // The host's name, which names its folder: updates of the drive database
  // are stored in DATAHOME/BUNDLENAME/driveDatabase/drivedb.h.
  std::string bundleName = "sentrel";
  std::string bundleIdentifier = "org.sentrel.cli";
  // The folder a host keeps its data under; "" for the system's rule:
  // /var/lib when run as root, else $XDG_DATA_HOME (when absolute) or
  // HOME/.local/share.
  std::string dataHome;
  LinuxDiskPaths disks;
  // The most bytes a file read whole (a drive database, a machine
  // description, a resource) or a tool's output may hold; anything longer is
  // refused rather than read until memory runs out.
  std::uint64_t maxFileSize = std::uint64_t{64} << 20;
};

// Sets the options before first use of the backend.
SENTREL_API void configureLinuxPlatform(LinuxOptions options);

// The process-wide Linux backend (also defaultPlatform()).
SENTREL_API Platform& linuxPlatform();

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute
// path, else HOME/.config. A host keeps its configuration files in a folder
// of its name there (the backend keeps the user defaults there too).
SENTREL_API std::string userConfigHome();

}  // namespace sentrel::platform
