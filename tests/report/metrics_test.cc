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

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(MetricsTest, LinesOfBothFormats) {
  MetricsInput input;
  input.version = "1.0";
  input.drives = {ataSample()};
  const std::string prom = metricsText(input, MetricsFormat::prometheus);
  const std::string open = metricsText(input, MetricsFormat::openMetrics);
  struct Case {
    const std::string& text;
    const char* line;
    bool present;
  } cases[] = {
      // The textfile collector wants counters declared by their sample name.
      {prom, "# TYPE sentrel_device_power_on_seconds_total counter\n", true},
      {prom, "sentrel_device_power_on_seconds_total{device=\"sda\",serial=\"S\\\"1\\\\\"} 7200\n",
       true},
      {prom, "# TYPE sentrel_device_info gauge\n", true},
      {prom, "# EOF", false},
      // OpenMetrics names the family without the suffix, and ends the text.
      {open, "# TYPE sentrel_device_power_on_seconds counter\n", true},
      {open, "# TYPE sentrel_device info\n", true},
      {open, "model=\"Model\\nTwo\"", true},
      // The decoded raw value, not the six raw bytes.
      {prom,
       "sentrel_ata_attribute_raw{device=\"sda\",serial=\"S\\\"1\\\\\",id=\"194\",name="
       "\"Temperature_Celsius\"} 36\n",
       true},
      {prom, "sentrel_device_health_status{device=\"sda\",serial=\"S\\\"1\\\\\"} 1\n", true},
      {prom,
       "sentrel_device_last_read_timestamp_seconds{device=\"sda\",serial=\"S\\\"1\\\\\"} "
       "1700000000.5\n",
       true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.text.find(c.line) != std::string::npos, c.present) << c.line;
  EXPECT_TRUE(open.ends_with("# EOF\n"));
  // Each family is declared once, before its samples.
  EXPECT_EQ(count(prom, "# TYPE sentrel_ata_attribute_value "), 1u);
}

TEST(MetricsTest, DownDriveKeepsItsLastValuesAndANeverReadOneShowsNone) {
  DriveSample asleep = ataSample();
  asleep.up = false;
  asleep.powerMode = PowerMode::standby;
  DriveSample never;
  never.report.disk = "sdb";
  never.report.found = true;
  never.readErrors = 3;
  MetricsInput input;
  input.drives = {asleep, never};
  const std::string text = metricsText(input, MetricsFormat::prometheus);
  for (const char* line : {
           "sentrel_device_up{device=\"sda\",serial=\"S\\\"1\\\\\"} 0\n",
           "sentrel_device_power_on_seconds_total{device=\"sda\",serial=\"S\\\"1\\\\\"} 7200\n",
           "sentrel_device_power_mode{device=\"sda\",serial=\"S\\\"1\\\\\",mode=\"standby\"} 1\n",
           "sentrel_device_read_errors_total{device=\"sdb\",serial=\"\"} 3\n",
       })
    EXPECT_NE(text.find(line), std::string::npos) << line;
  EXPECT_EQ(text.find("sentrel_device_health_status{device=\"sdb\""), std::string::npos);
  EXPECT_EQ(text.find("sentrel_device_last_read_timestamp_seconds{device=\"sdb\""),
            std::string::npos);
}

}  // namespace
}  // namespace sentrel
