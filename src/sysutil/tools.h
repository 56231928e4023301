// The system's command-line tools the utilities run, and the one way their
// property-list output is read.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sentrel/value.h"

namespace sentrel::sysutil {

inline constexpr std::string_view kVersionTool = "/usr/bin/sw_vers";
inline constexpr std::string_view kTimeMachineTool = "/usr/bin/tmutil";
inline constexpr std::string_view kDiskTool = "/usr/sbin/diskutil";
inline constexpr std::string_view kSqliteTool = "/usr/bin/sqlite3";

// The tool's whole output parsed as a property list; nothing when the tool
// cannot be started or prints anything else. Why it failed is not kept:
// callers answer nothing either way.
std::optional<Value> runPropertyListTool(std::string_view tool,
                                         const std::vector<std::string>& arguments);

// The disk utility's APFS container listing, read afresh.
std::optional<Value> apfsListing();

}  // namespace sentrel::sysutil
