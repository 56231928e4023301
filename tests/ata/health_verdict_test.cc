// The health rule and the verdict with its reasons, for ATA and NVMe drives.
#include "ata/health_verdict.h"

#include <gtest/gtest.h>

#include "nvme/nvme_health.h"

namespace sentrel {
namespace {

using Rule = HealthReason::Rule;

TEST(HealthVerdictTest, WhichAttributeNeedsAttentionAndWhy) {
  struct Case {
    ata::AttributeReading reading;
    std::optional<Rule> rule;
    const char* text;
  } cases[] = {
      // Each defect count, and counts read from the start of the raw text.
      {{5, 100, 10, "Reallocated_Sector_Ct", "8", 3},
       Rule::defectCount,
       "Reallocated_Sector_Ct (5): raw value 8 is above 0"},
      {{187, 100, 0, "Reported_Uncorrect", "2", 0}, Rule::defectCount, nullptr},
      {{197, 100, 0, "Current_Pending_Sector", "1", 0}, Rule::defectCount, nullptr},
      {{198, 100, 0, "Offline_Uncorrectable", "3 (0 0)", 0}, Rule::defectCount, nullptr},
      {{198, 100, 0, "Offline_Uncorrectable", "0", 0}, std::nullopt, nullptr},
      {{9, 100, 0, "Power_On_Hours", "30000", 0}, std::nullopt, nullptr},  // not a defect count
      // The threshold rule, at and around its boundary.
      {{7, 45, 45, "Seek_Error_Rate", "0", 1},
       Rule::atOrBelowThreshold,
       "Seek_Error_Rate (7): value 45 is at or below its threshold 45"},
      {{7, 46, 45, "Seek_Error_Rate", "0", 1}, std::nullopt, nullptr},
      {{1, 0, 0, "Raw_Read_Error_Rate", "0", 1}, std::nullopt, nullptr},  // no threshold
      {{190, 30, 40, "Airflow_Temperature_Cel", "30", 1}, std::nullopt, nullptr},
      {{194, 30, 40, "Temperature_Celsius", "30", 1}, std::nullopt, nullptr},
      // A name the database does not know is not shown as "Unknown".
      {{5, 100, 10, "Unknown", "1", 0}, Rule::defectCount, "attribute 5: raw value 1 is above 0"},
  };
  for (const Case& c : cases) {
    auto reason = ata::attributeAttention(c.reading);
    SCOPED_TRACE(std::to_string(c.reading.id) + " " + std::string(c.reading.rawText));
    ASSERT_EQ(reason.has_value(), c.rule.has_value());
    if (!reason) continue;
    EXPECT_EQ(reason->rule, *c.rule);
    EXPECT_EQ(reason->code, c.reading.id);
    EXPECT_EQ(reason->row, c.reading.row);
    if (c.text) {
      EXPECT_EQ(reason->text, c.text);
    }
  }
}

TEST(HealthVerdictTest, TheDrivesOwnFlagFailsItAndComesFirst) {
  HealthReason pending{Rule::defectCount, 197, 4, "pending"};
  HealthVerdict failed = ata::judgeAtaHealth(true, {pending});
  EXPECT_EQ(failed.word, "Failed");
  ASSERT_EQ(failed.reasons.size(), 2u);
  EXPECT_EQ(failed.reasons[0].rule, Rule::thresholdExceeded);
  EXPECT_TRUE(failed.marksRow(4));
  EXPECT_FALSE(failed.marksRow(3));

  EXPECT_EQ(ata::judgeAtaHealth(false, {pending}).word, "Warning");
  HealthVerdict passed = ata::judgeAtaHealth(false, {});
  EXPECT_EQ(passed.word, "Passed");
  EXPECT_TRUE(passed.reasons.empty());
  EXPECT_EQ(ata::unusableSmartData().word, "Unknown");
}

TEST(HealthVerdictTest, NvmeCriticalWarningBits) {
  struct Case {
    std::uint8_t criticalWarning;
    const char* word;
    std::vector<std::uint32_t> codes;  // failing bits first, then warnings
  } cases[] = {
      {0x00, "Passed", {}},
      {0x20, "Passed", {}},  // persistent memory read-only alone does not count
      {0x01, "Warning", {0x01}},
      {0x12, "Warning", {0x02, 0x10}},
      {0x04, "Failed", {0x04}},
      {0x0B, "Failed", {0x08, 0x01, 0x02}},
  };
  for (const Case& c : cases) {
    HealthVerdict v = nvme::judgeNvmeHealth(c.criticalWarning);
    EXPECT_EQ(v.word, c.word) << int{c.criticalWarning};
    std::vector<std::uint32_t> codes;
    for (const HealthReason& r : v.reasons) codes.push_back(r.code);
    EXPECT_EQ(codes, c.codes) << int{c.criticalWarning};
  }
}

}  // namespace
}  // namespace sentrel
