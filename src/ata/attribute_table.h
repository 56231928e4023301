// The SMART attribute table: the data and thresholds sectors turned into one
// display entry (styled text) and one plain entry (strings) per attribute,
// named and formatted by the drive's database presets. Pure.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sentrel/drive_database.h"
#include "sentrel/health.h"
#include "sentrel/report.h"
#include "sentrel/value.h"

namespace sentrel::ata {

using SectorView = std::span<const std::uint8_t, 512>;

struct AttributeTable {
  std::vector<AtaAttribute> rows;  // the attributes in slot order, repeats included
  Array display;                   // display entries in slot order, repeats included
  Dict plain;  // plain entries by decimal id; a later slot replaces an earlier one
  // The attributes that need attention (shown red), in slot order.
  std::vector<HealthReason> attention;
  std::optional<std::uint8_t> temperature;  // attribute 194's first raw byte
  std::optional<std::string> powerOnHours;  // attribute 9's raw text
};

// The SMART data structure revision is accepted from 1 to 99.
bool smartDataRevisionAccepted(SectorView data);

// The attributes of the data sector's used slots, in slot order, each with
// the threshold at its position in the thresholds sector. `entry` is the
// drive's database entry and `defaults` the first entry of the installed
// database; either may be null. A preset missing in `entry` is taken from
// `defaults`; with none, the name is "Unknown" and the format "raw48".
std::vector<AtaAttribute> decodeAttributes(SectorView data, SectorView thresholds,
                                           const DriveDatabaseEntry* entry,
                                           const DriveDatabaseEntry* defaults);

// The table of those attributes: their typed rows, display and plain
// entries, the attributes that need attention, temperature and power-on time.
AttributeTable buildAttributeTable(SectorView data, SectorView thresholds,
                                   const DriveDatabaseEntry* entry,
                                   const DriveDatabaseEntry* defaults);

// `length` (0 to 32, larger is taken as 32) binary digits of `value`, most
// significant first.
std::string binaryString(std::uint64_t value, std::uint32_t length);

}  // namespace sentrel::ata
