// SMART attributes: raw values in every format, the attribute table's
// conditions and presets, and the health rule that turns them into a verdict.
#include <gtest/gtest.h>

#include <map>

#include "ata/attribute_table.h"
#include "ata/health_verdict.h"
#include "ata/raw_value.h"
#include "support/machines.h"

namespace sentrel::ata {
namespace {

using Slot = std::array<std::uint8_t, 12>;

// A slot as a drive writes it: id, flags, current, worst, six raw bytes
// (least significant first) and the reserved byte.
Slot slot(std::uint64_t raw, std::uint8_t reserved = 0, std::uint8_t current = 100,
          std::uint8_t worst = 100) {
  Slot s{9, 0x32, 0, current, worst};
  for (std::size_t i = 0; i < 6; ++i) s[5 + i] = static_cast<std::uint8_t>(raw >> (8 * i));
  s[11] = reserved;
  return s;
}

// Each row sits where a narrower integer would cut it: just above 2^16,
// 2^24 and 2^32.
TEST(RawValueTest, EveryFormatAtItsFieldLimits) {
  struct Case {
    const char* fmt;
    Slot slot;
    const char* text;
  } cases[] = {
      // A Fujitsu power-on-hours slot: 0x01FA9B hours.
      {"raw24(raw8)", slot(0x03020001FA9Bull), "129691 (3 2 0)"},
      {"raw24(raw8)", slot(0xFFFFFFFFFFFFull), "16777215 (255 255 255)"},
      {"default", slot(0x060504030201ull), "6 5 4 3 2 1"},
      {"raw8", slot(0x8000000000FFull), "128 0 0 0 0 255"},
      {"raw16", slot(0x000300020001ull), "3 2 1"},
      {"raw48", slot(0x000100000001ull), "4294967297"},
      {"hex48", slot(0x060504030201ull), "0x060504030201"},
      {"raw56", slot(0, 1), "281474976710656"},
      {"hex56", slot(0x060504030201ull, 7), "0x07060504030201"},
      {"raw64", slot(1, 0, 100, 99), "90980"},
      {"hex64", slot(1, 0, 100, 99), "0x0000000000016364"},
      {"raw16(raw16)", slot(0x090909091234ull), "4660"},
      {"raw16(avg16)", slot(0x09090014000Aull), "10 (20)"},
      {"raw24/raw24", slot(0x010001010002ull), "65537/65538"},
      {"raw24/raw32", slot(0x000200010001ull, 1), "65538/65537"},
      {"raw24/raw32", slot(0xFFFFFFFFFFFFull, 255), "16777215/4294967295"},
      {"sec2hour", slot(3725), "01:02:05s"},
      {"sec2hour", slot(0x100000000ull), "1193046:28:16s"},
      {"min2hour", slot(0x000100010000ull), "1092:16 (1)"},
      {"min2hour", slot(0x0001FFFFFFFFull), "71582788:15 (1)"},
      {"halfmin2hour", slot(245), "02:02"},
      {"halfmin2hour", slot(0x10000), "546:08"},
      {"msec24hour32", slot(100ull | (1234567ull & 0xFFFF) << 32, 1234567 >> 16, 0, 0),
       "100:20:34.567"},
      {"msec24hour32", slot(0x000000010001ull), "65537:00:00.000"},
      {"temp10x", slot(345), "34.5"},
      {"tempminmax", slot(0x00002D140023ull), "35 (20, 45, 0)"},
      {"tempminmax", slot(0x0000142D001Eull), "30 (20, 45, 0)"},  // reversed limits
      {"tempminmax", slot(0x003700190028ull), "40 (25, 55, 0)"},
      {"tempminmax", slot(0x000332140028ull), "40 (20, 50, 3)"},
      {"tempminmax", slot(0x00002D1400C8ull), "200 (20, 45, 0)"},
      {"Raw48", slot(0x060504030201ull), "6 5 4 3 2 1"},  // names are case-sensitive
  };
  for (const Case& c : cases)
    EXPECT_EQ(decodeRawAttribute(c.slot, c.fmt), c.text) << c.fmt << " " << c.text;
}

struct Built {
  Data data, thresholds;
  AttributeTable table;
};

Built build(const std::vector<testing::AttributeSlot>& slots,
            const DriveDatabaseEntry* entry = nullptr,
            const DriveDatabaseEntry* defaults = nullptr) {
  Built b{testing::smartDataSector(slots), testing::thresholdsSector(slots), {}};
  b.table = buildAttributeTable(SectorView(b.data.data(), 512),
                                SectorView(b.thresholds.data(), 512), entry, defaults);
  return b;
}

std::string text(const Value& entry, const char* key) {
  return *entry.ifDict()->find(key)->plainText();
}

// One attribute on its own: its condition, whether it is marked, and the
// verdict word it gives a drive that does not report a threshold exceeded.
TEST(AttributeTableTest, ConditionMarkAndVerdictOfOneAttribute) {
  struct Case {
    const char* name;
    testing::AttributeSlot slot;
    const char* condition;  // display; the plain entry's word follows it
    const char* verdict;
    const char* rawFmt = "raw48";
  } cases[] = {
      {"reallocated 1", {.id = 5, .raw = 1, .threshold = 10}, "Normal", "Warning"},
      {"reported uncorrectable 1", {.id = 187, .raw = 1}, "Normal", "Warning"},
      {"pending 1", {.id = 197, .raw = 1}, "Normal", "Warning"},
      {"offline uncorrectable 1", {.id = 198, .raw = 1}, "Normal", "Warning"},
      {"offline uncorrectable 0", {.id = 198, .raw = 0}, "Normal", "Passed"},
      // The count is read from the start of the raw text ("1 0 0").
      {"raw16 count", {.id = 187, .raw = 0x000100000000}, "Normal", "Warning", "raw16"},
      {"another attribute's count", {.id = 9, .raw = 30000}, "Normal", "Passed"},
      {"value at", {.id = 7, .current = 45, .worst = 45, .threshold = 45}, "Failing", "Warning"},
      {"worst at", {.id = 7, .current = 46, .worst = 45, .threshold = 45}, "Recovered", "Passed"},
      {"worst above", {.id = 3, .current = 90, .worst = 41, .threshold = 40}, "Normal", "Passed"},
      {"threshold 0", {.id = 3, .current = 0, .worst = 0}, "Normal", "Passed"},
      {"temp", {.id = 194, .current = 30, .worst = 30, .threshold = 40}, "Failing", "Passed"},
      {"airflow temperature", {.id = 190, .current = 40, .threshold = 45}, "Failing", "Passed"},
  };
  const std::map<std::string, std::string> plainWord{
      {"Normal", "Never"}, {"Failing", "FAILING NOW"}, {"Recovered", "In the past"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DriveDatabaseEntry entry;
    entry.attribDict.push_back({std::to_string(c.slot.id), c.rawFmt, "Name"});
    Built b = build({c.slot}, &entry);
    ASSERT_EQ(b.table.display.size(), 1u);
    const bool marked = std::string(c.verdict) == "Warning";
    EXPECT_EQ(b.table.attention.size(), marked ? 1u : 0u);
    EXPECT_EQ(b.table.display[0].ifDict()->find("ID")->ifStyledText()->color,
              marked ? Color::red : Color::controlText);
    EXPECT_EQ(text(b.table.display[0], "condition"), c.condition);
    EXPECT_EQ(b.table.plain.getDict(std::to_string(c.slot.id))->stringOr("condition"),
              plainWord.at(c.condition));
    EXPECT_EQ(judgeAtaHealth(false, b.table.attention).word, c.verdict);
    EXPECT_EQ(judgeAtaHealth(true, b.table.attention).word, "Failed");
  }
}

TEST(AttributeTableTest, ReasonsNameTheAttributeAndComeAfterTheDrivesOwnFlag) {
  Built b = build({{.id = 5, .raw = 8, .threshold = 10},
                   {.id = 9, .raw = 1},
                   {.id = 7, .current = 45, .worst = 45, .threshold = 45},
                   {.id = 197, .raw = 2}});
  HealthVerdict v = judgeAtaHealth(true, b.table.attention);
  std::vector<std::string> reasons;
  for (const HealthReason& r : v.reasons) reasons.push_back(r.text);
  EXPECT_EQ(reasons,
            (std::vector<std::string>{"the drive reports that a SMART threshold is exceeded",
                                      "attribute 5: raw value 8 is above 0",
                                      "attribute 7: value 45 is at or below its threshold 45",
                                      "attribute 197: raw value 2 is above 0"}));
  EXPECT_TRUE(v.marksRow(0) && v.marksRow(2) && v.marksRow(3));
  EXPECT_FALSE(v.marksRow(1));
  AttributeReading named{5, 100, 10, "Reallocated_Sector_Ct", "8", 0};
  EXPECT_EQ(attributeAttention(named)->text, "Reallocated_Sector_Ct (5): raw value 8 is above 0");
}

TEST(AttributeTableTest, PresetsComeFromTheEntryThenTheDefaults) {
  DriveDatabaseEntry entry, defaults;
  entry.attribDict = {{"1", "raw16", "Entry Name"}, {"2", "raw48", std::nullopt}};
  defaults.attribDict = {
      {"3", "hex48", "Default Name"}, {"1", "raw8", "Overridden"}, {"4", "raw48", ""}};
  Built b = build({{.id = 1}, {.id = 2}, {.id = 3}, {.id = 4}, {.id = 5}}, &entry, &defaults);
  std::vector<std::string> got;
  for (const Value& d : b.table.display)
    got.push_back(text(d, "attributeName") + "/" + text(d, "fmt"));
  EXPECT_EQ(got, (std::vector<std::string>{"Entry Name/raw16", "Unknown/raw48",
                                           "Default Name/hex48", "/raw48", "Unknown/raw48"}));
}

TEST(AttributeTableTest, RepeatedIdsEmptySlotsAndRevisions) {
  Built b = build({{.id = 194, .raw = 0x2E002A0018ull},
                   {.id = 0, .raw = 7},
                   {.id = 194, .raw = 41},
                   {.id = 9, .raw = 12345}});
  EXPECT_EQ(b.table.display.size(), 3u);
  EXPECT_EQ(b.table.plain.size(), 2u);
  EXPECT_EQ(b.table.plain.getDict("194")->stringOr("rawValue"), "41");
  EXPECT_EQ(b.table.temperature, 41);
  EXPECT_EQ(b.table.powerOnHours, "12345");
  for (auto [revision, ok] : {std::pair{0, false}, {1, true}, {99, true}, {100, false}}) {
    Data d = testing::smartDataSector({}, static_cast<std::uint16_t>(revision));
    EXPECT_EQ(smartDataRevisionAccepted(SectorView(d.data(), 512)), ok) << revision;
  }
}

}  // namespace
}  // namespace sentrel::ata
