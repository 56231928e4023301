// The literals every match of a pattern must contain, and that the claim
// never rules out a subject ICU would match.
#include <gtest/gtest.h>

#include <random>

#include "drivedb/drive_search.h"
#include "drivedb/pattern_literals.h"

namespace sentrel::drivedb {
namespace {

using Literals = std::vector<std::vector<std::string>>;

struct LiteralCase {
  const char* pattern;
  Literals literals;  // empty: tried on every subject
};

std::ostream& operator<<(std::ostream& os, const LiteralCase& c) {
  return os << c.pattern;
}

class PatternLiteralsTest : public ::testing::TestWithParam<LiteralCase> {};

TEST_P(PatternLiteralsTest, FindsWhatEveryMatchContains) {
  EXPECT_EQ(requiredLiterals(GetParam().pattern).alternatives, GetParam().literals);
}

INSTANTIATE_TEST_SUITE_P(Syntax, PatternLiteralsTest,
                         ::testing::Values(
                             // A group joins the text around it by what its branches share; a
                             // set or "." breaks it.
                             LiteralCase{"ST(1000|2000)DM00[5-8]-.*", {{"000DM00", "ST", "-"}}},
                             LiteralCase{"WDC WD(10|20)EZEX-.*", {{"WDC WD", "0EZEX-"}}},
                             // Each top-level alternative has its own literals.
                             LiteralCase{"ACME X1|OMEGA", {{"ACME X1"}, {"OMEGA"}}},
                             // A quantifier that allows none promises nothing; "+" keeps one copy.
                             LiteralCase{"(APPLE HDD )?WDC", {{"WDC"}}},
                             LiteralCase{"AB+C", {{"AB", "BC"}}}, LiteralCase{"A{3}", {{"AAA"}}},
                             // Escaped punctuation is itself; anchors take no character.
                             LiteralCase{"^SSD\\.X$", {{"SSD.X"}}},
                             // Branches keep the end they share; branches that share nothing
                             // leave an alternative with no literal.
                             LiteralCase{"(APOC|DENC).*", {{"C"}}},
                             LiteralCase{"(APOX|DENY).*", {}}, LiteralCase{".*", {}},
                             LiteralCase{"", {}},
                             // What the extraction does not read is always tried.
                             LiteralCase{"(?i)acme", {}}, LiteralCase{"ACME\\1", {}},
                             LiteralCase{"[[:alpha:]]X", {}}, LiteralCase{"A]", {}},
                             LiteralCase{"ACME(", {}}, LiteralCase{"\xff", {}}));

// Random patterns over ICU's syntax, matched by ICU against random
// subjects: whenever ICU finds a match, the literals must allow it.
TEST(PatternLiteralsSoundness, NeverRulesOutAnIcuMatch) {
  std::mt19937 random(19);
  const std::string alphabet = "AB1 .-";
  const std::vector<std::string> pieces = {
      "A", "B", "1", " ",    ".",   "-",    "(",   ")",   "|",   "*",  "+", "?",       "^",
      "$", "[", "]", "[^A]", "{2}", "{1,}", "\\.", "\\d", "(?:", "\\", "{", "\xc3\xa9"};
  const auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  };
  int compiled = 0, matched = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string pattern;
    for (std::size_t n = 1 + pick(8); n > 0; --n) pattern += pieces[pick(pieces.size())];
    std::unique_ptr<icu::RegexPattern> icu = compilePattern(pattern);
    if (!icu) continue;
    ++compiled;
    const PatternLiterals literals = requiredLiterals(pattern);
    for (int s = 0; s < 8; ++s) {
      std::string subject;
      for (std::size_t n = pick(10); n > 0; --n) subject += alphabet[pick(alphabet.size())];
      if (pick(4) == 0) subject += "\xc3\xa9";
      if (!findsIn(icu.get(), icu::UnicodeString::fromUTF8(subject))) continue;
      ++matched;
      EXPECT_TRUE(mayMatch(literals, subject))
          << "pattern \"" << pattern << "\" subject \"" << subject << "\"";
    }
  }
  // The test means something only when many patterns compiled and matched.
  EXPECT_GT(compiled, 500);
  EXPECT_GT(matched, 2000);
}

}  // namespace
}  // namespace sentrel::drivedb
