// The ATA health rule: which attributes need attention, and the verdict
// from them and the drive's own threshold-exceeded flag. Pure; the attribute
// table asks it about each attribute and the device keeps the verdict.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "sentrel/health.h"

namespace sentrel::ata {

// The name of an attribute the drive database has no name for.
inline constexpr std::string_view kUnknownAttributeName = "Unknown";

// What one attribute shows, as the rule reads it.
struct AttributeReading {
  std::uint8_t id = 0;
  std::uint8_t current = 0;
  std::uint8_t threshold = 0;
  std::string_view name;     // its display name
  std::string_view rawText;  // its decoded raw value
  int row = -1;              // its position in the attribute table
};

// Why the attribute needs attention, or nothing when it does not:
//   a defect count (5, 187, 197, 198) whose raw value, read as a decimal
//   integer from its start, is above 0; or
//   a non-zero threshold that the current value is at or below, unless the
//   attribute is a temperature (190, 194).
std::optional<HealthReason> attributeAttention(const AttributeReading& a);

// "Failed" when the drive reports a threshold exceeded, else "Warning" when
// any attribute needs attention, else "Passed"; the reasons say which.
HealthVerdict judgeAtaHealth(bool thresholdExceeded, std::vector<HealthReason> attention);

// The verdict of a drive whose SMART data sector is unusable: "Unknown".
HealthVerdict unusableSmartData();

}  // namespace sentrel::ata
