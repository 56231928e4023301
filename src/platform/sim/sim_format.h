// The keys of a simulated machine's description (machine.json), which the
// loader reads and a capture writes; docs/sim-machine.md describes them.
#pragma once

#include <string_view>

namespace sentrel::sim::format {

inline constexpr std::string_view kAncestors = "ancestors";
inline constexpr std::string_view kAta = "ata";
inline constexpr std::string_view kBundleIdentifier = "bundleIdentifier";
inline constexpr std::string_view kBundleName = "bundleName";
inline constexpr std::string_view kClass = "class";
inline constexpr std::string_view kDescendants = "descendants";
inline constexpr std::string_view kDescription = "description";
inline constexpr std::string_view kDisks = "disks";
inline constexpr std::string_view kEnableStatus = "enableStatus";
inline constexpr std::string_view kErrorLog = "errorLog";
inline constexpr std::string_view kExtensions = "extensions";
inline constexpr std::string_view kFirmwareLog = "firmwareLog";
inline constexpr std::string_view kFolder = "folder";
inline constexpr std::string_view kHandle = "handle";
inline constexpr std::string_view kHealth = "health";
inline constexpr std::string_view kHost = "host";
inline constexpr std::string_view kIdentify = "identify";
inline constexpr std::string_view kImages = "images";
inline constexpr std::string_view kLogs = "logs";
inline constexpr std::string_view kName = "name";
inline constexpr std::string_view kNoDisk = "noDisk";
inline constexpr std::string_view kNvme = "nvme";
inline constexpr std::string_view kOpenStatus = "openStatus";
inline constexpr std::string_view kOpenStatuses = "openStatuses";
inline constexpr std::string_view kProperties = "properties";
inline constexpr std::string_view kQueryStatus = "queryStatus";
inline constexpr std::string_view kReportStatus = "reportStatus";
inline constexpr std::string_view kResources = "resources";
inline constexpr std::string_view kRevision = "revision";
inline constexpr std::string_view kSelftestStatus = "selftestStatus";
inline constexpr std::string_view kSelftestRun = "selftestRun";
inline constexpr std::string_view kPowerMode = "powerMode";
inline constexpr std::string_view kDelayMs = "delayMs";
inline constexpr std::string_view kSelfTestLog = "selfTestLog";
inline constexpr std::string_view kSelfTestRun = "selfTestRun";
inline constexpr std::string_view kSmartData = "smartData";
inline constexpr std::string_view kStatus = "status";
inline constexpr std::string_view kSystemVersion = "systemVersion";
inline constexpr std::string_view kThresholdExceeded = "thresholdExceeded";
inline constexpr std::string_view kThresholds = "thresholds";
inline constexpr std::string_view kUserName = "userName";
inline constexpr std::string_view kVersion = "version";
inline constexpr std::string_view kVolumeName = "volumeName";

}  // namespace sentrel::sim::format
