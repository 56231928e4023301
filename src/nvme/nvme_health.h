// Decoding of the NVMe SMART / Health Information log: the health rule on
// the critical warning byte, the status badge, and the health summaries of
// the controller reading and of the namespace reading.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "nvme/nvme_layout.h"
#include "sentrel/health.h"
#include "sentrel/report.h"
#include "sentrel/value.h"

namespace sentrel::nvme {

// The SMART / Health Information log, field by field.
NvmeHealthLog decodeHealthLog(HealthView health);

// The health word and the name of the system image that shows it.
struct HealthBadge {
  std::string_view word;
  std::string_view iconName;
  friend bool operator==(const HealthBadge&, const HealthBadge&) = default;
};

// Reliability degraded or media read-only (bits 2, 3) fail the drive; low
// spare, temperature or a failed volatile-memory backup (bits 0, 1, 4) only
// warn; bits 5 to 7 alone leave it passed.
HealthBadge healthBadge(std::uint8_t criticalWarning);

// The same verdict with its reasons, one per warning bit that counts, the
// failing bits first.
sentrel::HealthVerdict judgeNvmeHealth(std::uint8_t criticalWarning);

inline constexpr double kStatusIconPoints = 20;
inline constexpr double kStatusBadgeBaselineOffset = -5.0;

// The status icon as the badge draws it: 20 x 20 points.
Image statusIcon(Image systemImage);

// The inline icon, lowered 5 points, followed directly by the health word.
StyledText statusBadge(const Image& icon, std::string_view word);

// The 37 health keys of the controller reading. `systemImage` is the
// system's image of the verdict's icon name, or nothing when the system has
// none; without an image no badge can be made, and both "extendedHealth"
// and "extendedHealthIcon" are "".
Dict controllerHealthSummary(HealthView health, const std::optional<Image>& systemImage);

// The 32 health keys of the namespace reading: the warning flags are the
// masked bits as signed numbers, and there is no badge, Celsius value or
// byte total.
Dict namespaceHealthSummary(HealthView health);

}  // namespace sentrel::nvme
