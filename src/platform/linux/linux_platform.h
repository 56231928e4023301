// The parts of the Linux backend its own files and tests reach for; the
// public face is sentrel/linux_platform.h.
#pragma once

#include <chrono>
#include <string>

#include "sentrel/linux_platform.h"
#include "sentrel/platform.h"

namespace sentrel::platform {

// Real files on this machine.
Files& linuxFiles();

// LinuxOptions::maxFileSize as configured: the limit of a file read whole
// and of a tool's output.
std::uint64_t fileSizeLimit();

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
