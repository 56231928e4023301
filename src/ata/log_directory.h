// The SMART log directory (log address 0): the page count of every log
// address, listed for the logs known by name.
#pragma once

#include <cstdint>
#include <string_view>

#include "ata/sector_fields.h"
#include "sentrel/value.h"

namespace sentrel::ata {

// The name of a log address, or "reserved" for one not known by name.
std::string_view logName(std::uint8_t address);

struct LogDirectory {
  Array logs = {};   // {"logAddress", "pages", "name"} in address order
  Dict logDir = {};  // the same entries keyed by the decimal address
};

// Every named log with the page count the drive reports (0 included), so a
// directory of version 1 always lists the same thirteen logs; any other
// version lists none.
LogDirectory decodeLogDirectory(SectorView sector);

}  // namespace sentrel::ata
