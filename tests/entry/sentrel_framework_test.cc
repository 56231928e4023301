#include "sentrel/sentrel_framework.h"

#include <gtest/gtest.h>

#include "support/machines.h"

namespace sentrel {
namespace {

using testing::ataBlock;
using testing::AttributeSlot;
using testing::sataDisk;
using testing::sector;
using testing::TestMachine;

Dict styledEntry(int id, int value, int worst, int threshold) {
  auto t = [](std::string s) { return Value(StyledText{.text = std::move(s), .color = Color::red}); };
  return Dict{{"ID", t(std::to_string(id))},
              {"value", t(" " + std::to_string(value))},
              {"worst", t(std::to_string(worst) + "x")},
              {"threshold", t(std::to_string(threshold))}};
}

std::vector<std::int64_t> sleeps(const sim::Machine& m) {
  std::vector<std::int64_t> out;
  for (const Dict& d : m.calls("sleep")) out.push_back(*d.getInt("ms"));
  return out;
}

TEST(ReplyTest, ThirtyAttributesGiveThirtyOneRowsPacedAt40Ms) {
  Dict tables{{"", Dict{{"Extended Health", "Gesundheit"}}},
              {"SMART", Dict{{"SMART_194", "Temperature"}}}};
  TestMachine m(Dict{{"host", Dict{{"localizedStrings", tables}}}});
  Array attributes;
  for (int i = 0; i < 30; ++i) attributes.push_back(Value(styledEntry(i == 0 ? 194 : i, 90, 80, 10)));
  Dict props{{"attributeHealth", "Warning"}, {"vendorspecificAttributes", attributes}};
  Dict reply = replyForDeviceProperties(&props);

  const Array& rows = *reply.getArray("properties");
  ASSERT_EQ(rows.size(), 31u);
  EXPECT_EQ(sleeps(m.machine()), std::vector<std::int64_t>(31, 40));
  EXPECT_EQ(rows[0], Value(Dict{{"attributeID", 0},
                                {"attributeName", "Gesundheit"},
                                {"worseValue", 0},
                                {"normalValue", 1},
                                {"thresholdValue", 0}}));
  EXPECT_EQ(rows[1], Value(Dict{{"attributeID", 1},
                                {"attributeName", "Temperature (194)"},
                                {"worseValue", 80},
                                {"normalValue", 90},
                                {"thresholdValue", 10}}));
  EXPECT_EQ(rows[2].ifDict()->stringOr("attributeName"), "SMART_1 (1)");
  EXPECT_EQ(rows[30].ifDict()->getInt("attributeID"), 30);
}

TEST(ReplyTest, PacingIs1200MsDividedByTheRowCount) {
  for (auto [n, ms] : {std::pair{3, 400}, {7, 171}, {1, 1200}, {1300, 0}}) {
    TestMachine m(Dict{});
    Array attributes(static_cast<std::size_t>(n), Value(styledEntry(1, 1, 1, 1)));
    Dict props{{"vendorspecificAttributes", attributes}};
    replyForDeviceProperties(&props);
    EXPECT_EQ(sleeps(m.machine()), std::vector<std::int64_t>(static_cast<std::size_t>(n) + 1, ms));
  }
}

TEST(ReplyTest, StatusDefaultsAndTheExtendedHealthValue) {
  struct Case {
    std::optional<const char*> health;
    const char* status;
    int normal;
  } cases[] = {{"Passed", "Passed", 2}, {"Warning", "Warning", 1}, {"Failed", "Failed", 0},
               {"Unknown", "Unknown", 0}, {std::nullopt, "No Data", 0}};
  for (const Case& c : cases) {
    TestMachine m(Dict{});
    Dict props{{"vendorspecificAttributes", Array{Value(styledEntry(5, 100, 100, 10))}}};
    if (c.health) props.set("attributeHealth", *c.health);
    Dict reply = replyForDeviceProperties(&props);
    EXPECT_EQ(reply.stringOr("status"), c.status);
    EXPECT_EQ(reply.getArray("properties")->at(0).ifDict()->getInt("normalValue"), c.normal);
  }
}

TEST(ReplyTest, EmptyTableNoRowsNoWaitButTheRestFilled) {
  TestMachine m(Dict{});
  Dict props{{"attributeHealth", "Unknown"},
             {"Device Model", "M"},
             {"Serial Number", "S"},
             {"volumes", Array{Value(Dict{{"name", "A"}}), Value(Dict{{"name", "B"}}),
                               Value(Dict{{"name", "A"}}), Value(Dict{{"content", "x"}})}}};
  Dict reply = replyForDeviceProperties(&props);
  EXPECT_EQ(reply, (Dict{{"status", "Unknown"},
                         {"isNVMe", false},
                         {"properties", Array{}},
                         {"deviceName", "M"},
                         {"deviceSerialNumber", "S"},
                         {"volumes", Array{"A", "B"}}}));
  EXPECT_TRUE(m->calls("sleep").empty());
  std::vector<std::string> keys;
  for (const auto& e : reply) keys.push_back(e.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"status", "isNVMe", "properties", "deviceName",
                                            "deviceSerialNumber", "volumes"}));
}

TEST(ReplyTest, NvmeGivesNineRowsInOrderWithoutPacing) {
  TestMachine m(Dict{});
  Dict props{{"isNVMe", true}, {"percentUsed", 3u}, {"lowSpare", "No"}, {"attributeHealth", "Passed"}};
  Dict reply = replyForDeviceProperties(&props);
  const Array& rows = *reply.getArray("properties");
  ASSERT_EQ(rows.size(), 9u);
  const char* names[] = {"lowSpare",       "overTemp",       "lowReliability",
                         "readOnly",       "failedVMBkup",   "availableSpare",
                         "spareThreshold", "percentUsed",    "percentRemaining"};
  for (std::size_t i = 0; i < 9; ++i)
    EXPECT_EQ(rows[i].ifDict()->stringOr("attributeName"), names[i]);
  EXPECT_EQ(*rows[7].ifDict()->find("rawAttributeValue"), Value(3u));
  EXPECT_EQ(*rows[0].ifDict()->find("rawAttributeValue"), Value("No"));
  EXPECT_EQ(*rows[1].ifDict()->find("rawAttributeValue"), Value(""));
  EXPECT_EQ(reply.getBool("isNVMe"), true);
  EXPECT_TRUE(m->calls("sleep").empty());
}

TEST(ReplyTest, RunWithAnswersOnceEvenWithoutADisk) {
  Dict disk = sataDisk("disk0");
  ataBlock(disk).set("smartData", sector(testing::smartDataSector({{.id = 9, .raw = 5}})));
  TestMachine m{disk};
  SentrelFramework framework;
  for (const Dict& request : {Dict{}, Dict{{"selectedBSD", "disk7"}}, Dict{{"selectedBSD", 3}}}) {
    int calls = 0;
    framework.runWith(request, [&](const Dict& reply) {
      ++calls;
      EXPECT_EQ(reply.stringOr("status"), "No Data");
      EXPECT_EQ(reply.stringOr("deviceName"), "-");
    });
    EXPECT_EQ(calls, 1);
  }
  int calls = 0;
  framework.runWith(Dict{{"selectedBSD", "/dev/disk0"}}, [&](const Dict& reply) {
    ++calls;
    EXPECT_EQ(reply.stringOr("status"), "Passed");
    EXPECT_EQ(reply.stringOr("deviceName"), "WDC WD10EZEX-08WN4A0");
    EXPECT_EQ(reply.getArray("properties")->size(), 2u);
  });
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace sentrel
