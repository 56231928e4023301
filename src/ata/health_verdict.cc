#include "ata/health_verdict.h"

#include <algorithm>
#include <array>
#include <string>

#include "core/text.h"
#include "sentrel/keys.h"

namespace sentrel::ata {

namespace {

// Attributes that count defects: any count above 0 needs attention.
constexpr std::array<std::uint8_t, 4> kDefectCounts{5, 187, 197, 198};
// Temperatures whose normalized value may sit at or below their threshold.
constexpr std::array<std::uint8_t, 2> kThresholdExempt{190, 194};

bool listed(const auto& list, std::uint8_t id) {
  return std::find(list.begin(), list.end(), id) != list.end();
}

// "Reallocated_Sector_Ct (5)", or "attribute 5" when the database has no
// name for it.
std::string label(const AttributeReading& a) {
  if (a.name.empty() || a.name == kUnknownAttributeName) return "attribute " + std::to_string(a.id);
  return std::string(a.name) + " (" + std::to_string(a.id) + ")";
}

}  // namespace

std::optional<HealthReason> attributeAttention(const AttributeReading& a) {
  using Rule = HealthReason::Rule;
  if (listed(kDefectCounts, a.id)) {
    std::int32_t count = text::leadingInteger(a.rawText);
    if (count > 0)
      return HealthReason{Rule::defectCount, a.id, a.row,
                          label(a) + ": raw value " + std::to_string(count) + " is above 0"};
  }
  if (a.threshold != 0 && !listed(kThresholdExempt, a.id) && a.current <= a.threshold)
    return HealthReason{Rule::atOrBelowThreshold, a.id, a.row,
                        label(a) + ": value " + std::to_string(a.current) +
                            " is at or below its threshold " + std::to_string(a.threshold)};
  return std::nullopt;
}

HealthVerdict judgeAtaHealth(bool thresholdExceeded, std::vector<HealthReason> attention) {
  HealthVerdict v;
  if (thresholdExceeded) {
    v.word = keys::kFailed;
    v.reasons.push_back({HealthReason::Rule::thresholdExceeded, 0, -1,
                         "the drive reports that a SMART threshold is exceeded"});
  } else {
    v.word = attention.empty() ? keys::kPassed : keys::kWarning;
  }
  for (HealthReason& r : attention) v.reasons.push_back(std::move(r));
  return v;
}

HealthVerdict unusableSmartData() {
  return {std::string(keys::kUnknown),
          {{HealthReason::Rule::dataUnusable, 0, -1,
            "the SMART data could not be read, or failed its revision or checksum test"}}};
}

}  // namespace sentrel::ata
