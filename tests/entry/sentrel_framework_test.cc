// The framework's reply: one row per attribute after the extended-health
// row, paced through the machine's clock, and exactly one reply a request.
#include "sentrel/sentrel_framework.h"

#include <gtest/gtest.h>

#include "support/machines.h"

namespace sentrel {
namespace {

using testing::TestMachine;

Value styledEntry(int id, int value, int worst, int threshold) {
  auto t = [](std::string s) {
    return Value(StyledText{.text = std::move(s), .color = Color::red});
  };
  return Value(Dict{{"ID", t(std::to_string(id))},
                    {"value", t(" " + std::to_string(value))},
                    {"worst", t(std::to_string(worst) + "x")},
                    {"threshold", t(std::to_string(threshold))}});
}

std::vector<std::int64_t> sleeps(TestMachine& m) {
  std::vector<std::int64_t> out;
  for (const Dict& d : m->calls("sleep")) out.push_back(*d.getInt("ms"));
  return out;
}

TEST(ReplyTest, RowsStatusAndPacing) {
  struct Case {
    std::optional<const char*> health;
    int attributes;
    const char* status;
    int normal;   // the extended-health row's value
    int sleepMs;  // each row's pause: 1200 ms over the attributes
  } cases[] = {
      {"Passed", 2, "Passed", 2, 600},       {"Warning", 7, "Warning", 1, 171},
      {"Failed", 30, "Failed", 0, 40},       {"Unknown", 0, "Unknown", 0, 0},
      {std::nullopt, 1299, "No Data", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    TestMachine m(Dict{
        {"host", Dict{{"localizedStrings", Dict{{"SMART", Dict{{"SMART_194", "Temperature"}}}}}}}});
    Array attributes;
    for (int i = 0; i < c.attributes; ++i)
      attributes.push_back(styledEntry(i ? i : 194, 90, 80, 10));
    Dict props{{"vendorspecificAttributes", attributes}};
    if (c.health) props.set("attributeHealth", *c.health);
    const Dict reply = replyForDeviceProperties(&props);
    EXPECT_EQ(reply.stringOr("status"), c.status);
    const Array& rows = *reply.getArray("properties");
    ASSERT_EQ(rows.size(), c.attributes ? c.attributes + 1u : 0u);
    EXPECT_EQ(sleeps(m), std::vector<std::int64_t>(rows.size(), c.sleepMs));
    if (rows.empty()) continue;
    EXPECT_EQ(rows[0].ifDict()->getInt("normalValue"), c.normal);
    EXPECT_EQ(rows[1], Value(Dict{{"attributeID", 1},
                                  {"attributeName", "Temperature (194)"},
                                  {"worseValue", 80},
                                  {"normalValue", 90},
                                  {"thresholdValue", 10}}));
  }
}

TEST(ReplyTest, RunWithAnswersOnceEvenWithoutADisk) {
  Dict disk = testing::sataDisk("disk0");
  testing::ataBlock(disk).set("smartData",
                              testing::sector(testing::smartDataSector({{.id = 9, .raw = 5}})));
  TestMachine m{disk};
  SentrelFramework framework;
  for (const auto& [request, status] :
       std::vector<std::pair<Dict, const char*>>{{Dict{}, "No Data"},
                                                 {Dict{{"selectedBSD", "disk7"}}, "No Data"},
                                                 {Dict{{"selectedBSD", 3}}, "No Data"},
                                                 {Dict{{"selectedBSD", "/dev/disk0"}}, "Passed"}}) {
    int calls = 0;
    framework.runWith(request, [&](const Dict& reply) {
      ++calls;
      EXPECT_EQ(reply.stringOr("status"), status);
    });
    EXPECT_EQ(calls, 1);
  }
}

}  // namespace
}  // namespace sentrel
