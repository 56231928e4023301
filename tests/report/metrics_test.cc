// The metrics text: names and types as Prometheus's text parser and
// node_exporter's textfile collector expect, and a drive that is down
// keeping its last values.
#include "sentrel/metrics.h"

#include <gtest/gtest.h>

namespace sentrel {
namespace {

DriveSample ataSample() {
  DriveSample s;
  s.up = true;
  s.lastReadSeconds = 1700000000.5;
  DriveReport& r = s.report;
  r.disk = "sda";
  r.serial = "S\"1\\";
  r.model = "Model\nTwo";
  r.protocol = "ATA";
  r.found = r.read = true;
  r.verdict.word = "Warning";
  r.powerOnHours = 2;
  AtaAttribute a;
  a.id = 194;
  a.name = "Temperature_Celsius";
  a.value = 64;
  a.worst = 50;
  a.threshold = 0;
  a.rawText = "36 (Min/Max 20/45)";
  r.attributes.push_back(a);
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
      // The textfile collector wants counters declared by their sample name.
      {prom, "# TYPE sentrel_device_power_on_seconds_total counter\n", true},
      {prom, "sentrel_device_power_on_seconds_total" + sda + " 7200\n", true},
      {prom, "# EOF", false},
      // OpenMetrics names the family without the suffix, and ends the text.
      {open, "# TYPE sentrel_device_power_on_seconds counter\n", true},
      {open, "model=\"Model\\nTwo\"", true},
      // The decoded raw value, not the six raw bytes.
      {prom,
       "sentrel_ata_attribute_raw{device=\"sda\",serial=\"S\\\"1\\\\\",id=\"194\",name="
       "\"Temperature_Celsius\"} 36\n",
       true},
      {prom, "sentrel_device_health_status" + sda + " 1\n", true},
      {prom, "sentrel_device_last_read_timestamp_seconds" + sda + " 1700000000.5\n", true},
      {prom, "sentrel_device_up" + sdc + "} 0\n", true},
      {prom, "sentrel_device_power_on_seconds_total" + sdc + "} 7200\n", true},
      {prom, "sentrel_device_power_mode" + sdc + ",mode=\"standby\"} 1\n", true},
      {prom, "sentrel_device_read_errors_total{device=\"sdb\",serial=\"\"} 3\n", true},
      {prom, "sentrel_device_health_status{device=\"sdb\"", false},
      {prom, "sentrel_device_last_read_timestamp_seconds{device=\"sdb\"", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.text.find(c.line) != std::string::npos, c.present) << c.line;
  EXPECT_TRUE(open.ends_with("# EOF\n"));
  // Each family is declared once, before its samples.
  EXPECT_EQ(prom.find("# TYPE sentrel_ata_attribute_value "),
            prom.rfind("# TYPE sentrel_ata_attribute_value "));
}

}  // namespace
}  // namespace sentrel
