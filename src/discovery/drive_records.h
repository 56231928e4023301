// Drive discovery's plain functions: the enumeration of whole disks into
// drive records, the record of one name, and the process-wide state of the
// device class they keep (the drive-record cache and the system-version
// flag). The state belongs to the installed platform and starts afresh
// when another platform is installed. Like the cache itself it is used
// from one thread at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "sentrel/value.h"

namespace sentrel::discovery {

struct DeviceClassState {
  std::uint64_t generation = UINT64_MAX;
  bool isOSX1013 = false;
  Dict driveInformation;  // BSD name to drive record
};

DeviceClassState& deviceClassState();

// Reads the system version and answers whether it is 10.13 or later.
bool readIsOSX1013();

// Reads the system version again into the class state.
void refreshSystemVersion();
// Whether the system is 10.13 or later, as the class state holds it.
bool isOSX1013();

// Enumerates every whole disk again: BSD name to drive record; nothing when
// no disk-arbitration session can be had.
std::optional<Dict> enumerateDriveRecords();
// The drive record of a BSD name or of a path ending in one; a cache miss
// enumerates again. Nothing when no record matches.
std::optional<Dict> driveRecord(std::optional<std::string_view> bsdName);

// True for the disk-arbitration content of a disk that discovery keeps: a
// partition scheme it knows, or none (a blank disk).
bool isKeptContent(std::string_view content);

}  // namespace sentrel::discovery
