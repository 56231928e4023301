// Why a name does or does not lead to a drive with SMART access: what a
// host tells its user when deviceWithBSDName: answers nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sentrel/export.h"

namespace sentrel {

struct DiskLookup {
  enum class Outcome {
    found,          // a drive record has this name
    notFound,       // no disk or partition has this name
    partition,      // a partition: `wholeDisk` is its whole disk
    noSmartAccess,  // a whole disk that has no drive record: `reason` says why
    noDiskList,     // the disks cannot be listed (no disk-arbitration session)
  };
  Outcome outcome = Outcome::notFound;
  std::string name;       // the name looked up (its last path component)
  std::string wholeDisk;  // for a partition
  std::string reason;     // for a disk without SMART access
  // The names of the drives with SMART access, in the record cache's order.
  std::vector<std::string> knownDisks;
};

// Looks the name `asked` up the way deviceWithBSDName: does (the last path
// component counts, a cache miss enumerates again) and, when no drive
// record has it, finds out what the name is.
SENTREL_API DiskLookup lookUpDisk(std::string_view asked);

}  // namespace sentrel
