// The text views of drive reports.
#pragma once

#include <string>

#include "cli.h"
#include "sentrel/report.h"

namespace sentrel::cli {

// The health check of one drive: its identity, the verdict with each
// reason, then its attributes (ATA) or health log (NVMe), the rows behind
// the verdict marked.
std::string healthText(const Context& ctx, const DriveReport& report);

// Everything known of one drive, in sections: identity, health, attributes
// or health log, capabilities and self-tests, self-test log, log directory,
// NVMe identify, power states and firmware slots, error log.
std::string deviceText(const Context& ctx, const DriveReport& report);

}  // namespace sentrel::cli
