// The system and volume functions a host calls for its housekeeping: the
// running system's version, the Time Machine tool, APFS containers and
// volume roles, mount points, volume sizes and their readable forms, and
// whether the host holds full disk access.
//
// Every function runs synchronously on the caller's thread and reaches the
// machine through the installed platform: tools are run as child processes
// with an empty environment, the version is cached in the host's user
// defaults, and the mount table and file-system statistics are read afresh
// on every call. Nothing throws; "nothing" is an empty optional.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sentrel/export.h"
#include "sentrel/value.h"

namespace sentrel {

// ---- System version and Time Machine ----

// User-defaults keys under which the version functions keep their answers.
inline constexpr std::string_view kCurrentSWVersKey = "KVCurrentSWVers";
inline constexpr std::string_view kCurrentSWVersDictKey = "KVCurrentSWVersDict";

// The running system's product version ("10.15.7"), from the user defaults
// once stored there, else from the version tool (and then stored). Nothing
// when the tool cannot be run or prints something that is not ASCII.
SENTREL_API std::optional<std::string> KVGetCurrentSystemString();

// The version tool's "name: value" lines as a dictionary, stored in the
// user defaults on first use like the version.
SENTREL_API Dict KVGetCurrentSystemDictionary();

// -1 when the running system is older than `version`, +1 when newer, 0 when
// the same or when no comparison can be made (no version given, none
// known, or the empty text). Letters and blanks around `version` are
// ignored ("Version 10.13", "10.13b").
SENTREL_API std::int64_t KVCompareCurrentSystemVersionWith(std::optional<std::string_view> version);

// Runs the Time Machine tool with the caller's arguments and answers its
// output parsed as a property list; nothing when it prints anything else.
SENTREL_API std::optional<Value> tmutil(const std::vector<std::string>& arguments);

// ---- APFS containers, volume roles and mounts ----

// The container dictionary of the disk utility's APFS listing that is
// named by the last path component of `name` ("disk3", "/dev/disk3") or
// whose physical store `name` ends with ("/dev/disk0s2"). Nothing on a
// system older than 10.12.
SENTREL_API std::optional<Dict> getAPFSContainer(std::string_view name);

// The "DeviceIdentifier" of the first volume with the given first role in
// the first container (in listing order) whose reference begins the BSD
// name; "/dev/" in front of the name is ignored.
SENTREL_API std::optional<std::string> getAPFSSystemVolume(std::string_view bsdName);
SENTREL_API std::optional<std::string> getAPFSDataVolume(std::string_view bsdName);
SENTREL_API std::optional<std::string> getAPFSPrebootVolume(std::string_view bsdName);
SENTREL_API std::optional<std::string> getAPFSRecoveryVolume(std::string_view bsdName);

// Volume role codes of getAPFSVolumeRole.
inline constexpr std::int32_t kAPFSRoleSystem = 0;
inline constexpr std::int32_t kAPFSRoleData = 1;
inline constexpr std::int32_t kAPFSRolePreboot = 2;
inline constexpr std::int32_t kAPFSRoleRecovery = 3;
inline constexpr std::int32_t kAPFSRoleVM = 4;
inline constexpr std::int32_t kAPFSRoleBackup = 5;
inline constexpr std::int32_t kAPFSRoleOther = 6;

// The role code of the volume with this bare BSD name ("disk3s5"; with
// "/dev/" in front no volume is found): kAPFSRoleOther for any other role,
// no roles, no such volume or no usable listing.
SENTREL_API std::int32_t getAPFSVolumeRole(std::string_view bsdName);

// The device mounted exactly at `mountPoint` ("/dev/disk3s1"), or "".
SENTREL_API std::string getVolumeMountFromName(std::string_view mountPoint);

// The mount point of the first mount whose device begins with the device
// path ("disk3s1" and "/dev/disk3s1" alike) or contains its short name; ""
// when there is none or no device is given.
SENTREL_API std::string getVolumeMountOnName(std::optional<std::string_view> device);

// Whether the first mount whose last path component equals that of `path`
// is APFS. False on a system older than 10.12.
SENTREL_API bool GetVolumeAPFS(std::string_view path);

// ---- Volume sizes and byte formatting ----

// Block size times total, free and used (total minus free) blocks of the
// file system that holds the path; 0 when its statistics cannot be read.
SENTREL_API double KVFoundationGetVolTotalSize(std::string_view path);
SENTREL_API double KVFoundationGetVolFreeSize(std::string_view path);
SENTREL_API double KVFoundationGetVolUsedSize(std::string_view path);

// The used space of the APFS container of the volume mounted at
// `mountPoint` ("CapacityCeiling" minus "CapacityFree"), or the volume's
// used size by its statistics when it has no container.
SENTREL_API double KVFoundationGetAPFSVolUsedSize(std::string_view mountPoint);

// The readable texts of the total and used sizes.
SENTREL_API std::string KVFoundationGetVolTotalSizeString(std::string_view path);
SENTREL_API std::string KVFoundationGetVolUsedSizeString(std::string_view path);

// A byte count as a short text: "1.50 KB", "2 TB", "512 bytes". Decimal
// units, or binary ones on a system older than 10.6. Nothing counts as 0.
SENTREL_API std::string KVFoundationConvertBytesToStringValue(std::optional<double> bytes);

// Rounds the count down to whole mebibytes, in place, and answers their
// number followed by "M" ("5M").
SENTREL_API std::string KVFoundationRoundByteCountToMBAndString(double& byteCount);

// A deep copy of a property-list value that its caller owns and may
// change. Nothing when the value holds something a property list cannot
// (styled text, a colour, an image) or is nothing itself.
SENTREL_API std::optional<Value> KVDeepMutableCopyPropertyListObject(const Value& object);

// `text` without `suffix` at its end; `text` unchanged when it does not end
// with it (or `suffix` is empty).
SENTREL_API std::string stringByRemovingSuffix(std::string_view text, std::string_view suffix);

// ---- Full disk access ----

// True when the system's privacy database, read through its sqlite3 tool,
// grants full disk access to the host application, its background tool and
// the companion product's background program. False on a system older than
// 10.14, and whenever the database cannot be read.
SENTREL_API bool isFullDiskAccessSetup();

}  // namespace sentrel
