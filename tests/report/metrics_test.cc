// The metrics text: labels escaped, raw values decoded, and a drive that is
// down keeping its last values. (tests/cli/parse_metrics.py reads the whole
// text with the Prometheus client's parsers, types and all.)
#include "sentrel/metrics.h"

#include <gtest/gtest.h>

namespace sentrel {
namespace {

DriveSample ataSample() {
  DriveSample s;
  s.up = true;
  DriveReport& r = s.report;
  r.disk = "sda";
  r.serial = "S\"1\\";
  r.model = "Model\nTwo";
  r.protocol = "ATA";
  r.found = r.read = true;
  r.powerOnHours = 2;
  r.attributes.push_back({.id = 194,
                          .name = "Temperature_Celsius",
                          .label = "",
                          .value = 64,
                          .worst = 50,
                          .format = "tempminmax",
                          .rawText = "36 (Min/Max 20/45)"});
  return s;
}

// The lines of both formats for a drive that was read, one asleep that
// keeps its last values, and one never read that shows none.
TEST(MetricsTest, LinesOfBothFormats) {
  DriveSample asleep = ataSample();
  asleep.up = false;
  asleep.powerMode = PowerMode::standby;
  asleep.report.disk = "sdc";
  DriveSample never;
  never.report.disk = "sdb";
  never.report.found = true;
  never.readErrors = 3;
  MetricsInput input;
  input.drives = {ataSample(), never, asleep};
  const std::string prom = metricsText(input, MetricsFormat::prometheus);
  const std::string open = metricsText(input, MetricsFormat::openMetrics);
  const std::string sda = "{device=\"sda\",serial=\"S\\\"1\\\\\"}";
  const std::string sdc = "{device=\"sdc\",serial=\"S\\\"1\\\\\"";
  struct Case {
    const std::string& text;
    std::string line;
    bool present;
  } cases[] = {
      {prom, "sentrel_device_power_on_seconds_total" + sda + " 7200\n", true},
      {open, "model=\"Model\\nTwo\"", true},
      // The decoded raw value, not the six raw bytes.
      {prom,
       "sentrel_ata_attribute_raw{device=\"sda\",serial=\"S\\\"1\\\\\",id=\"194\",name="
       "\"Temperature_Celsius\"} 36\n",
       true},
      {prom, "sentrel_device_power_on_seconds_total" + sdc + "} 7200\n", true},
      {prom, "sentrel_device_power_mode" + sdc + ",mode=\"standby\"} 1\n", true},
      {prom, "sentrel_device_read_errors_total{device=\"sdb\",serial=\"\"} 3\n", true},
      {prom, "sentrel_device_health_status{device=\"sdb\"", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.text.find(c.line) != std::string::npos, c.present) << c.line;
  // Each family is declared once, before its samples.
  EXPECT_EQ(prom.find("# TYPE sentrel_ata_attribute_value "),
            prom.rfind("# TYPE sentrel_ata_attribute_value "));
}

}  // namespace
}  // namespace sentrel
