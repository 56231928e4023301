// Matching models and firmware against the entries' patterns.
#include <gtest/gtest.h>

#include "drivedb/drive_search.h"

namespace sentrel::drivedb {
namespace {

DriveDatabaseEntry entry(std::string family, std::string model, std::string firmware = ".") {
  DriveDatabaseEntry e;
  e.modelfamily = std::move(family);
  e.model = std::move(model);
  e.firmware = std::move(firmware);
  return e;
}

DriveDatabase database(std::vector<DriveDatabaseEntry> drives) {
  return DriveDatabase{"test", std::move(drives)};
}

struct MatchCase {
  const char* why;
  const char* model;
  const char* firmware;
  const char* family;  // "" when nothing matches
};

std::ostream& operator<<(std::ostream& os, const MatchCase& c) {
  return os << c.why;
}

// Entries chosen so each rule decides which one a drive gets.
const DriveDatabase& ruleDatabase() {
  static const DriveDatabase db = database({
      entry("Broken", "ACME(", "."),               // does not compile: never matches
      entry("Old firmware", "ACME X1", "^1\\.0"),  // the first ACME X1 entry, firmware 1.0 only
      entry("X1 family", "ACME X1"),               // everything else with ACME X1 in it
      entry("Anchored", "^ZETA [0-9]+$"),
      entry("Dot line", "A.B"),
      entry("Needs firmware", "KAPPA", "K.*"),
      entry("First of two", "OMEGA"),
      entry("Second of two", "OMEGA 2"),
  });
  return db;
}

class DriveSearchRuleTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(DriveSearchRuleTest, FindsTheEntry) {
  const MatchCase& c = GetParam();
  SearchableDatabase searchable(ruleDatabase());
  const DriveDatabaseEntry* found = searchable.lookup(c.model, c.firmware);
  EXPECT_EQ(found ? found->modelfamily : "", c.family);
  // Compiling afresh on every call gives the same answer.
  const DriveDatabaseEntry* fresh = lookupCompilingEachTime(ruleDatabase(), c.model, c.firmware);
  EXPECT_EQ(fresh ? fresh->modelfamily : "", c.family);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, DriveSearchRuleTest,
    ::testing::Values(
        MatchCase{"a match anywhere counts", "ACME X100", "2.0", "X1 family"},
        MatchCase{"also in front of the pattern", "XACME X1", "2.0", "X1 family"},
        MatchCase{"the firmware decides between entries", "ACME X1", "1.0.3", "Old firmware"},
        MatchCase{"firmware mismatch goes on to the next", "ACME X1", "2.0", "X1 family"},
        MatchCase{"missing firmware still meets '.'", "ACME X1", "", "X1 family"},
        MatchCase{"missing firmware fails a firmware pattern", "KAPPA 1", "", ""},
        MatchCase{"firmware found anywhere", "KAPPA 1", "rev K7", "Needs firmware"},
        MatchCase{"case matters", "acme x1", "2.0", ""},
        MatchCase{"anchors hold at the ends", "ZETA 12", "1", "Anchored"},
        MatchCase{"anchors are not line anchors", "A\nZETA 12", "1", ""},
        MatchCase{"dot does not match a line feed", "A\nB", "1", ""},
        MatchCase{"dot matches anything else", "A-B", "1", "Dot line"},
        MatchCase{"the earlier of two matches wins", "OMEGA 2", "1", "First of two"},
        MatchCase{"no match at all", "NOTHING", "1", ""},
        MatchCase{"an empty model matches nothing here", "", "", ""}));

TEST(DriveSearchTest, PatternThatDoesNotCompileNeverMatches) {
  EXPECT_EQ(compilePattern("ACME("), nullptr);
  EXPECT_EQ(compilePattern("[z-a]"), nullptr);
  EXPECT_FALSE(findsIn(nullptr, icu::UnicodeString("ACME(")));
  EXPECT_NE(compilePattern("(AB|CD)[0-9]{2,3}"), nullptr);
}

TEST(DriveSearchTest, IcuSyntaxAndUnicode) {
  auto pattern = compilePattern("\\p{Lu}{3} \\d+");
  ASSERT_NE(pattern, nullptr);
  EXPECT_TRUE(findsIn(pattern.get(), icu::UnicodeString::fromUTF8("disk ÄÖÜ 42")));
  EXPECT_FALSE(findsIn(pattern.get(), icu::UnicodeString::fromUTF8("äöü 42")));
}

TEST(DriveSearchTest, ResultIsTheEntryInsideTheDatabase) {
  SearchableDatabase searchable(ruleDatabase());
  const DriveDatabaseEntry* found = searchable.lookup("OMEGA", "1");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found, &searchable.database().drives[6]);
  // Asking again uses the compiled patterns and gives the same object.
  EXPECT_EQ(searchable.lookup("OMEGA", "1"), found);
}

}  // namespace
}  // namespace sentrel::drivedb
