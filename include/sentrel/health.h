// A drive's health verdict with its reasons: the word the device properties
// carry under "attributeHealth" and what made it so. The library judges a
// drive once, in its refresh; the reply, the command line's marks and any
// exporter read this result and never judge again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sentrel {

struct HealthReason {
  enum class Rule {
    // ATA: the drive itself reports a threshold exceeded (SMART RETURN STATUS).
    thresholdExceeded,
    // ATA: the raw count of a defect attribute (5, 187, 197, 198) is above 0.
    defectCount,
    // ATA: the normalized value is at or below its non-zero threshold (the
    // temperatures 190 and 194 excepted).
    atOrBelowThreshold,
    // ATA: the SMART data sector could not be read or failed validation.
    dataUnusable,
    // NVMe: a bit of the critical warning byte is set.
    criticalWarning,
  };
  Rule rule = Rule::dataUnusable;
  // The ATA attribute number, or the NVMe critical warning bit's value;
  // 0 when the reason has none.
  std::uint32_t code = 0;
  // The attribute's position in the device properties'
  // "vendorspecificAttributes" (reply row `row + 1`); -1 when none.
  int row = -1;
  // One line a person reads: "Reallocated Sectors Count (5): raw value 8 is above 0".
  std::string text;

  friend bool operator==(const HealthReason&, const HealthReason&) = default;
};

struct HealthVerdict {
  // "Passed", "Warning", "Failed" or "Unknown"; "" when the drive was not judged
  // (it could not be read at all).
  std::string word;
  // Why the word is not "Passed", most serious first; empty for "Passed".
  std::vector<HealthReason> reasons;

  // True when a reason names the attribute at this position of "vendorspecificAttributes".
  bool marksRow(std::size_t row) const {
    for (const HealthReason& r : reasons)
      if (r.row == static_cast<int>(row)) return true;
    return false;
  }
  // The reasons joined by "; ", or "" when there are none.
  std::string because() const {
    std::string out;
    for (const HealthReason& r : reasons) out += (out.empty() ? "" : "; ") + r.text;
    return out;
  }

  friend bool operator==(const HealthVerdict&, const HealthVerdict&) = default;
};

}  // namespace sentrel
