// Matching models and firmware against the entries' patterns, and the
// literals the prefilter requires of every match.
#include <gtest/gtest.h>

#include <random>

#include "drivedb/drive_search.h"
#include "drivedb/pattern_automaton.h"
#include "drivedb/pattern_literals.h"

namespace sentrel::drivedb {
namespace {

DriveDatabaseEntry entry(std::string family, std::string model, std::string firmware = ".") {
  DriveDatabaseEntry e;
  e.modelfamily = std::move(family);
  e.model = std::move(model);
  e.firmware = std::move(firmware);
  return e;
}

TEST(DriveSearchTest, TheFirstEntryWhoseModelAndFirmwarePatternsMatchAnywhere) {
  const DriveDatabase db{"test",
                         {
                             entry("Broken", "ACME("),                    // never compiles
                             entry("Old firmware", "ACME X1", "^1\\.0"),  // firmware 1.0 only
                             entry("X1 family", "ACME X1"),
                             entry("Anchored", "^ZETA [0-9]+$"),
                             entry("Dot line", "A.B"),
                             entry("Needs firmware", "KAPPA", "K.*"),
                             entry("Unicode", "^DISK \\p{Lu}{3} \\d+$"),
                             entry("First of two", "OMEGA"),
                             entry("Second of two", "OMEGA 2"),
                         }};
  struct Case {
    const char* model;
    const char* firmware;
    const char* family;  // "" when nothing matches
  } cases[] = {
      {"ACME X100", "2.0", "X1 family"},
      {"XACME X1", "2.0", "X1 family"},
      {"ACME X1", "1.0.3", "Old firmware"},
      {"ACME X1", "2.0", "X1 family"},
      {"ACME X1", "", "X1 family"},
      {"KAPPA 1", "", ""},
      {"KAPPA 1", "rev K7", "Needs firmware"},
      {"acme x1", "2.0", ""},
      {"ZETA 12", "1", "Anchored"},
      {"A\nZETA 12", "1", ""},
      {"A\nB", "1", ""},
      {"A-B", "1", "Dot line"},
      {"OMEGA 2", "1", "First of two"},
      {"DISK ÄÖÜ 42", "1", "Unicode"},
      {"DISK äöü 42", "1", ""},
      {"", "", ""},
  };
  const SearchableDatabase searchable(db);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " / " + c.firmware);
    const DriveDatabaseEntry* found = searchable.lookup(c.model, c.firmware);
    EXPECT_EQ(found ? found->modelfamily : "", c.family);
    if (found) {
      EXPECT_GE(found, searchable.database().drives.data()) << "an entry of the database";
    }
    const DriveDatabaseEntry* fresh = lookupCompilingEachTime(db, c.model, c.firmware);
    EXPECT_EQ(fresh ? fresh->modelfamily : "", c.family);
  }
}

// Random patterns over ICU's syntax against random subjects: whenever ICU
// finds a match, the literals must allow it; wherever a pattern has an
// automaton, ICU compiles it and the automaton finds what ICU finds.
TEST(PatternLiteralsTest, NeverRulesOutAnIcuMatchAndAutomataAgreeWithIcu) {
  std::mt19937 random(19);
  const std::string alphabet = "AB1 .-_x";
  const std::vector<std::string> pieces = {
      "A",     "B",      "1",    " ",    ".",    "-",      "(",       ")",     "|",
      "*",     "+",      "?",    "^",    "$",    "[",      "]",       "[^A]",  "{2}",
      "{1,}",  "{0,2}",  "\\.",  "\\d",  "\\w",  "\\S",    "(?:",     "\\",    "{",
      "[A-C]", "[^1 ]",  "[-A]", "[A-]", "[.-]", "[\\d.]", "[\\-x]",  "[B-A]", "[--A]",
      "[ ]",   "[A-B-]", "[&A]", "[$]",  "\\b",  "_",      "\xc3\xa9"};
  const auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  };
  int compiled = 0, matched = 0, automata = 0, timedOut = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string pattern;
    for (std::size_t n = 1 + pick(8); n > 0; --n) pattern += pieces[pick(pieces.size())];
    std::unique_ptr<icu::Regex> compiledPattern = compilePattern(pattern);
    const std::optional<PatternAutomaton> automaton = PatternAutomaton::of(pattern);
    if (automaton) {
      ++automata;
      ASSERT_EQ(!compiledPattern, automaton->matchesNothing())
          << "\"" << pattern << "\": ICU and the automaton differ on whether it compiles";
    }
    if (!compiledPattern) continue;
    ++compiled;
    const PatternLiterals literals = requiredLiterals(pattern);
    for (int s = 0; s < 8; ++s) {
      std::string subject;
      for (std::size_t n = pick(10); n > 0; --n) subject += alphabet[pick(alphabet.size())];
      if (pick(4) == 0) subject += "\xc3\xa9";
      const MatchResult icu = matchIn(compiledPattern.get(), icu::utf16Of(subject));
      if (icu == MatchResult::timedOut) {
        ++timedOut;
        continue;
      }
      if (automaton && PatternAutomaton::canMatch(subject)) {
        EXPECT_EQ(automaton->findsIn(subject), icu == MatchResult::found)
            << "\"" << pattern << "\" \"" << subject << "\"";
      }
      if (icu != MatchResult::found) continue;
      ++matched;
      EXPECT_TRUE(mayMatch(literals, subject)) << "\"" << pattern << "\" \"" << subject << "\"";
    }
  }
  EXPECT_GT(compiled, 500);
  EXPECT_GT(matched, 2000);
  EXPECT_GT(automata, compiled / 2) << "most compiled patterns have an automaton";
  EXPECT_EQ(timedOut, 0);
}

}  // namespace
}  // namespace sentrel::drivedb
