// The backend for the machine the process runs on.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "platform/linux/linux_drives.h"
#include "sentrel/platform.h"

namespace sentrel::platform {

struct LinuxOptions {
  // The host's resource folder (drive database copy, localized strings).
  std::string resourceDir;
  // The host's bundle name, which names its support folder.
  std::string bundleName = "Sentrel";
  std::string bundleIdentifier = "org.sentrel.cli";
  // Where the disks are read from.
  SysfsPaths disks;
};

// Sets the options before first use of the backend.
void configureLinuxPlatform(LinuxOptions options);

// The process-wide Linux backend.
Platform& linuxPlatform();

// The nodes the backend was refused so far (no root, a missing capability).
std::vector<AccessProblem> linuxAccessProblems();

// Real files on this machine; the simulated machine forwards to it too.
Files& linuxFiles();

// Downloads over the network with libcurl.
Downloads& linuxDownloads();

// How long one download of linuxDownloads() may take: to connect, and in
// all. When either is spent the download fails, so a server that never
// answers, or stops in the middle of a body, ends in a failed download.
// Process-wide; downloads started afterwards use the values set last. Zero
// leaves that limit to libcurl (none in all, 300 s to connect).
struct DownloadTimeouts {
  std::chrono::milliseconds connect{10'000};
  std::chrono::milliseconds total{120'000};
};
void setDownloadTimeouts(DownloadTimeouts timeouts);
DownloadTimeouts downloadTimeouts();

}  // namespace sentrel::platform
