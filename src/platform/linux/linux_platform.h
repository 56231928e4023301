// The parts of the Linux backend its own files and tests reach for; the
// public face is sentrel/linux_platform.h.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

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

// A folder of the XDG base-directory rules: `value` (the variable's) when
// it is an absolute path, else HOME/`underHome`. The rules ignore a relative
// value, which would depend on the working folder.
std::string xdgFolder(const char* value, std::string_view home, std::string_view underHome);

// The folder a host keeps its data under (the user's "application support"
// folder): `configured` when set; /var/lib for root, whose data is the
// system's; else the XDG data folder.
std::string dataHomeFor(std::string_view configured, unsigned uid, const char* xdgDataHome,
                        std::string_view home);

// The path of a host resource (`folder` relative to the resource folder,
// "" for its top), or nothing when no file is there. The drive database
// (driveDatabase/drivedb.h) is the system's own when it has one.
std::optional<std::string> hostResourceFile(const LinuxOptions& options, std::string_view name,
                                            std::string_view folder);

}  // namespace sentrel::platform
