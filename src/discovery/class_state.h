// Process-wide state of the device class: the drive-record cache and the
// system-version flag. It belongs to the installed platform and starts
// afresh when another platform is installed. Like the cache itself it is
// used from one thread at a time.
#pragma once

#include <cstdint>

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

}  // namespace sentrel::discovery
