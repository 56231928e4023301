// APFS containers and volume roles from the disk utility's listing, and
// mount points from the mount table. Both are read afresh on every call.
#include "sentrel/platform.h"
#include "sentrel/sysutil.h"
#include "sysutil/apfs_listing.h"
#include "sysutil/mount_search.h"
#include "sysutil/tools.h"

namespace sentrel {

namespace {

constexpr std::string_view kDevPrefix = "/dev/";

bool olderThan(std::string_view version) {
  return KVCompareCurrentSystemVersionWith(version) == -1;
}

std::string_view withoutDevPrefix(std::string_view name) {
  if (name.substr(0, kDevPrefix.size()) == kDevPrefix) name.remove_prefix(kDevPrefix.size());
  return name;
}

std::optional<std::string> roleVolume(std::string_view bsdName, std::string_view role) {
  auto listing = sysutil::apfsListing();
  const Array* containers = listing ? sysutil::listingContainers(*listing) : nullptr;
  if (!containers) return std::nullopt;
  return sysutil::findRoleVolume(*containers, withoutDevPrefix(bsdName), role);
}

}  // namespace

std::optional<Dict> getAPFSContainer(std::string_view name) {
  if (olderThan("10.12")) return std::nullopt;
  auto listing = sysutil::apfsListing();
  const Array* containers = listing ? sysutil::listingContainers(*listing) : nullptr;
  if (!containers) return std::nullopt;
  return sysutil::findContainer(*containers, name, olderThan("10.13"));
}

std::optional<std::string> getAPFSSystemVolume(std::string_view bsdName) {
  return roleVolume(bsdName, "System");
}

std::optional<std::string> getAPFSDataVolume(std::string_view bsdName) {
  return roleVolume(bsdName, "Data");
}

std::optional<std::string> getAPFSPrebootVolume(std::string_view bsdName) {
  return roleVolume(bsdName, "Preboot");
}

std::optional<std::string> getAPFSRecoveryVolume(std::string_view bsdName) {
  return roleVolume(bsdName, "Recovery");
}

std::int32_t getAPFSVolumeRole(std::string_view bsdName) {
  auto listing = sysutil::apfsListing();
  const Array* containers = listing ? sysutil::listingContainers(*listing) : nullptr;
  if (!containers) return kAPFSRoleOther;
  return sysutil::volumeRoleCode(*containers, bsdName);
}

std::string getVolumeMountFromName(std::string_view mountPoint) {
  return sysutil::deviceMountedAt(platform::current().mounts->mountTable(), mountPoint)
      .value_or("");
}

std::string getVolumeMountOnName(std::optional<std::string_view> device) {
  if (!device) return "";
  std::string devicePath(*device);
  if (devicePath.substr(0, kDevPrefix.size()) != kDevPrefix)
    devicePath = std::string(kDevPrefix) + devicePath;
  std::string_view shortName = withoutDevPrefix(devicePath);
  return sysutil::mountPointOf(platform::current().mounts->mountTable(), devicePath, shortName)
      .value_or("");
}

bool GetVolumeAPFS(std::string_view path) {
  if (olderThan("10.12")) return false;
  auto type = sysutil::typeByTail(platform::current().mounts->mountTable(), path);
  return type && *type == "apfs";
}

}  // namespace sentrel
