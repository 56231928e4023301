// Drive reports as Prometheus metrics: the text exposition format that
// Prometheus and node_exporter's textfile collector read, or OpenMetrics.
// A view of the reports, like the tables and the JSON: it judges nothing.
//
// Conventions: base units (seconds, bytes, celsius), `_total` for
// counters, `_info` for metadata, ratios from 0 to 1; every per-drive series
// carries `device` and `serial` labels; no sample timestamps. docs/metrics.md
// lists every metric and the smartctl_exporter name it stands for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sentrel/export.h"
#include "sentrel/report.h"

namespace sentrel {

// One drive as an exporter last saw it.
struct DriveSample {
  // The last reading that got the drive's data; when the last attempt did
  // not (`up` false), its values are the ones seen before.
  DriveReport report;
  // The last attempt read the drive.
  bool up = false;
  // When `report` was read, in seconds since the epoch; nothing when the
  // drive was never read.
  std::optional<double> lastReadSeconds;
  // Attempts that did not read the drive (refused, gone, timed out), so far.
  std::uint64_t readErrors = 0;
  // The power mode the last attempt found (a drive left asleep is down).
  PowerMode powerMode = PowerMode::unknown;
};

struct MetricsInput {
  std::vector<DriveSample> drives;
  std::string version;         // sentrel's version
  std::string drivedbVersion;  // the drive database's, "" when none is installed
  // How long the last collection took, in seconds.
  double collectionSeconds = 0;
};

enum class MetricsFormat {
  prometheus,   // text/plain; version=0.0.4 (counters typed by their _total name)
  openMetrics,  // application/openmetrics-text; version=1.0.0 (ends with "# EOF")
};

// The content type of each format, for an HTTP answer.
SENTREL_API std::string_view metricsContentType(MetricsFormat format);

SENTREL_API std::string metricsText(const MetricsInput& input, MetricsFormat format);

}  // namespace sentrel
