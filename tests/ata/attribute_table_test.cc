#include "ata/attribute_table.h"

#include <gtest/gtest.h>

#include "sentrel/smart_device.h"
#include "support/machines.h"

namespace sentrel::ata {
namespace {

using testing::AttributeSlot;

struct Built {
  Data data, thresholds;
  AttributeTable table;
};

Built build(const std::vector<AttributeSlot>& slots, const DriveDatabaseEntry* entry = nullptr,
            const DriveDatabaseEntry* defaults = nullptr) {
  Built b{testing::smartDataSector(slots), testing::thresholdsSector(slots), {}};
  b.table = buildAttributeTable(std::span<const std::uint8_t, 512>(b.data.data(), 512),
                                std::span<const std::uint8_t, 512>(b.thresholds.data(), 512), entry,
                                defaults);
  return b;
}

std::string text(const Value& entry, const char* key) {
  return *entry.ifDict()->find(key)->plainText();
}

TEST(AttributeTableTest, ConditionsFlagsAndTheRedMark) {
  struct Case {
    const char* name;
    AttributeSlot slot;
    const char* rawFmt;
    bool red;
    const char* condition;
    const char* plainCondition;
  } cases[] = {
      {"critical count above 0",
       {.id = 5, .current = 100, .worst = 100, .raw = 8, .threshold = 10},
       "raw48",
       true,
       "Normal",
       "Never"},
      {"critical count 0",
       {.id = 197, .raw = 0, .threshold = 0},
       "raw48",
       false,
       "Normal",
       "Never"},
      {"critical count read from the text start",
       {.id = 187, .raw = 0x000100000000},
       "raw16",
       true,
       "Normal",
       "Never"},
      {"temperature at its threshold is exempt",
       {.id = 194, .current = 30, .worst = 30, .threshold = 40},
       "raw48",
       false,
       "Failing",
       "FAILING NOW"},
      {"airflow temperature is exempt",
       {.id = 190, .current = 40, .threshold = 45},
       "raw48",
       false,
       "Failing",
       "FAILING NOW"},
      {"recovered",
       {.id = 1, .current = 50, .worst = 30, .threshold = 40},
       "raw48",
       false,
       "Recovered",
       "In the past"},
      {"failing now",
       {.id = 1, .current = 40, .worst = 30, .threshold = 40},
       "raw48",
       true,
       "Failing",
       "FAILING NOW"},
      {"threshold 0",
       {.id = 3, .current = 0, .worst = 0, .threshold = 0},
       "raw48",
       false,
       "Normal",
       "Never"},
      {"worst above threshold",
       {.id = 3, .current = 90, .worst = 41, .threshold = 40},
       "raw48",
       false,
       "Normal",
       "Never"},
  };
  for (const Case& c : cases) {
    DriveDatabaseEntry entry;
    entry.attribDict.push_back({std::to_string(c.slot.id), c.rawFmt, "Name"});
    Built b = build({c.slot}, &entry);
    ASSERT_EQ(b.table.display.size(), 1u) << c.name;
    const Value& display = b.table.display[0];
    EXPECT_EQ(!b.table.attention.empty(), c.red) << c.name;
    EXPECT_EQ(display.ifDict()->find("ID")->ifStyledText()->color,
              c.red ? Color::red : Color::controlText)
        << c.name;
    EXPECT_EQ(text(display, "condition"), c.condition) << c.name;
    const Dict* plain = b.table.plain.getDict(std::to_string(c.slot.id));
    ASSERT_TRUE(plain) << c.name;
    EXPECT_EQ(plain->stringOr("condition"), c.plainCondition) << c.name;
  }
}

TEST(AttributeTableTest, EntriesHoldElevenTextsInOrder) {
  DriveDatabaseEntry entry;
  entry.attribDict.push_back({"9", "min2hour", "Power On Minutes"});
  Built b =
      build({{.id = 9, .flags = 0x0033, .current = 98, .worst = 97, .raw = 1235, .threshold = 0}},
            &entry);
  const Dict& d = *b.table.display[0].ifDict();
  std::vector<std::string> keys, texts;
  for (const auto& e : d) {
    keys.push_back(e.key);
    texts.push_back(*e.value.plainText());
    EXPECT_TRUE(e.value.ifStyledText()) << e.key;
  }
  EXPECT_EQ(keys,
            (std::vector<std::string>{"ID", "attributeName", "flags", "value", "worst", "threshold",
                                      "type", "updated", "condition", "rawValue", "fmt"}));
  EXPECT_EQ(texts,
            (std::vector<std::string>{"9", "Power On Minutes", "00110011", "98", "97", "0",
                                      "Pre-Fail", "Always", "Normal", "20:35 (0)", "min2hour"}));
  const Dict& p = *b.table.plain.getDict("9");
  EXPECT_EQ(p.stringOr("flags"), "0033");
  EXPECT_EQ(p.stringOr("type"), "Pre-fail");
  EXPECT_EQ(p.stringOr("updated"), "Always");
  EXPECT_EQ(b.table.powerOnHours, "20:35 (0)");

  Built advisory = build({{.id = 12, .flags = 0x0000}});
  EXPECT_EQ(text(advisory.table.display[0], "type"), "Advisory");
  EXPECT_EQ(text(advisory.table.display[0], "updated"), "Offline");
  EXPECT_EQ(advisory.table.plain.getDict("12")->stringOr("type"), "Old age");
}

TEST(AttributeTableTest, PresetsComeFromTheEntryThenTheDefaults) {
  DriveDatabaseEntry entry, defaults;
  entry.attribDict.push_back({"1", "raw16", "Entry Name"});
  entry.attribDict.push_back({"2", "raw48", std::nullopt});
  defaults.attribDict.push_back({"3", "hex48", "Default Name"});
  defaults.attribDict.push_back({"1", "raw8", "Overridden"});
  defaults.attribDict.push_back({"4", "raw48", ""});
  Built b = build({{.id = 1}, {.id = 2}, {.id = 3}, {.id = 4}, {.id = 5}}, &entry, &defaults);
  struct Want {
    const char* name;
    const char* fmt;
  } want[] = {{"Entry Name", "raw16"},
              {"Unknown", "raw48"},
              {"Default Name", "hex48"},
              {"", "raw48"},
              {"Unknown", "raw48"}};
  ASSERT_EQ(b.table.display.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(text(b.table.display[i], "attributeName"), want[i].name) << i;
    EXPECT_EQ(text(b.table.display[i], "fmt"), want[i].fmt) << i;
  }
  Built none = build({{.id = 1}});
  EXPECT_EQ(text(none.table.display[0], "attributeName"), "Unknown");
  EXPECT_EQ(text(none.table.display[0], "fmt"), "raw48");
}

TEST(AttributeTableTest, RepeatedIdsEmptySlotsTemperature) {
  Built b = build({{.id = 194, .raw = 0x2E002A0018ull},
                   {.id = 0, .raw = 7},
                   {.id = 194, .raw = 41},
                   {.id = 9, .raw = 12345}});
  EXPECT_EQ(b.table.display.size(), 3u);
  EXPECT_EQ(b.table.plain.size(), 2u);
  EXPECT_EQ(b.table.plain.getDict("194")->stringOr("rawValue"), "41");
  EXPECT_EQ(b.table.temperature, 41);
  EXPECT_EQ(b.table.powerOnHours, "12345");
}

TEST(AttributeTableTest, RevisionLimits) {
  for (auto [revision, ok] :
       {std::pair{0, false}, {1, true}, {99, true}, {100, false}, {0x0110, false}}) {
    Data d = testing::smartDataSector({}, static_cast<std::uint16_t>(revision));
    EXPECT_EQ(smartDataRevisionAccepted(std::span<const std::uint8_t, 512>(d.data(), 512)), ok)
        << revision;
  }
}

TEST(AttributeTableTest, BinaryString) {
  EXPECT_EQ(binaryString(0x33, 8), "00110011");
  EXPECT_EQ(binaryString(0x1FF, 8), "11111111");
  EXPECT_EQ(binaryString(5, 0), "");
  EXPECT_EQ(binaryString(0x80000001, 32), "10000000000000000000000000000001");
  EXPECT_EQ(binaryString(~0ull, 40), std::string(32, '1'));
  EXPECT_EQ(KVSMARTDevice::binaryString(2, 3), "010");
}

}  // namespace
}  // namespace sentrel::ata
