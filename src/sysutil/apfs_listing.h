// Searches of the disk utility's APFS container listing ("diskutil apfs
// list -plist"). They read only "Containers" and, in each container,
// "ContainerReference", "DesignatedPhysicalStore", "PhysicalStores" and
// "Volumes" ("DeviceIdentifier", "Roles"); an entry of another kind than
// expected counts as missing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sentrel/value.h"

namespace sentrel::sysutil {

// The listing's containers; null when the listing is not a dictionary or
// has no non-empty "Containers" array.
const Array* listingContainers(const Value& listing);

// The container named by the last path component of `name`, or, failing
// that, the first whose physical store `name` ends with. The store is the
// first "PhysicalStores" element's "DeviceIdentifier" when
// `olderThan1013`, else "DesignatedPhysicalStore".
std::optional<Dict> findContainer(const Array& containers, std::string_view name,
                                  bool olderThan1013);

// The "DeviceIdentifier" of the first volume whose first role is `role`,
// in the first container in listing order whose "ContainerReference" is a
// prefix of `shortName` and that has such a volume.
std::optional<std::string> findRoleVolume(const Array& containers, std::string_view shortName,
                                          std::string_view role);

// The role code of the volume named exactly `bsdName` in a container whose
// reference is a prefix of it (0 System, 1 Data, 2 Preboot, 3 Recovery,
// 4 VM, 5 Backup, 6 anything else or not found).
std::int32_t volumeRoleCode(const Array& containers, std::string_view bsdName);

}  // namespace sentrel::sysutil
