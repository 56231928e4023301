// Searches of the mount table, in table order; the first match wins.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sentrel/platform.h"

namespace sentrel::sysutil {

using MountTable = std::vector<platform::MountEntry>;

// The device of the mount whose mount point is exactly `mountPoint`.
std::optional<std::string> deviceMountedAt(const MountTable& table, std::string_view mountPoint);

// The mount point of the first mount whose device begins with `devicePath`
// ("/dev/disk3s1") or, failing that test, contains `shortName` ("disk3s1").
std::optional<std::string> mountPointOf(const MountTable& table, std::string_view devicePath,
                                        std::string_view shortName);

// A path's tail: from its last "/" to the end, the "/" included ("/Backup"
// for "/Volumes/Backup", "/" for "/"); nothing without a "/".
std::optional<std::string_view> pathTail(std::string_view path);

// The file-system type of the first mount whose mount point has the same
// tail as `path`; nothing when none has.
std::optional<std::string> typeByTail(const MountTable& table, std::string_view path);

}  // namespace sentrel::sysutil
