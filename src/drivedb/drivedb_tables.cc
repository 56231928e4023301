#include "drivedb/drivedb_tables.h"

#include <utility>

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

StyledText warningText(std::string text) {
  return StyledText{std::move(text), Color::red, Font{"system", 11}, std::nullopt, 0};
}

}  // namespace sentrel::drivedb
