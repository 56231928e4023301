// The backend for the machine the process runs on.
#pragma once

#include <string>

#include "sentrel/platform.h"

namespace sentrel::platform {

struct LinuxOptions {
  // The host's resource folder (drive database copy, localized strings).
  std::string resourceDir;
  // The host's bundle name, which names its support folder.
  std::string bundleName = "Sentrel";
  std::string bundleIdentifier = "org.sentrel.cli";
};

// Sets the options before first use of the backend.
void configureLinuxPlatform(LinuxOptions options);

// The process-wide Linux backend.
Platform& linuxPlatform();

// Real files on this machine; the simulated machine forwards to it too.
Files& linuxFiles();

// Downloads over the network with libcurl.
Downloads& linuxDownloads();

}  // namespace sentrel::platform
