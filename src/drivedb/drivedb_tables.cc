#include "drivedb/drivedb_tables.h"

namespace sentrel::drivedb {

const PresetRow* findPresetRow(std::string_view key) {
  for (const PresetRow& row : kAttributePresets) {
    if (row.key == key) return &row;
  }
  return nullptr;
}

std::optional<std::string_view> firmwareBugDescription(std::string_view name) {
  for (const FirmwareBugRow& row : kFirmwareBugs) {
    if (row.name == name) return row.description;
  }
  return std::nullopt;
}

}  // namespace sentrel::drivedb
