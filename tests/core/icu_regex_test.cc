#include "core/icu_regex.h"

#include <gtest/gtest.h>

namespace sentrel::icu {
namespace {

// What the loaded engine answers at its edges: the empty pattern and
// subject, case folding, text that is not UTF-8, the time limit.
TEST(IcuRegexTest, FindsAsIcuDoes) {
  struct Case {
    std::string_view pattern;
    std::uint32_t flags;
    std::string_view subject;
    Regex::Found found;
  };
  const std::string longRun = std::string(40, 'a') + "!";
  const Case cases[] = {
      {"", 0, "", Regex::Found::yes},
      {"", 0, "ST2000", Regex::Found::yes},
      {"^$", 0, "", Regex::Found::yes},
      {"DM00[0-9]", 0, "ST2000DM008-2FR102", Regex::Found::yes},
      {"^DM00", 0, "ST2000DM008", Regex::Found::no},
      {"SPIN", 0, "Spin_Up_Time", Regex::Found::no},
      {"seek|spin", Regex::kCaseInsensitive, "Spin_Up_Time", Regex::Found::yes},
      {"\\x{FFFD}", 0,
       "A\xff"
       "B",
       Regex::Found::yes},  // a byte that is not UTF-8
      {"\xc3\xa9", 0, "caf\xc3\xa9", Regex::Found::yes},
      {"(a+)+$", 0, longRun, Regex::Found::timedOut},
  };
  for (const Case& c : cases) {
    std::string error;
    const std::unique_ptr<Regex> regex = Regex::compile(utf16Of(c.pattern), c.flags, &error);
    ASSERT_TRUE(regex) << c.pattern << ": " << error;
    EXPECT_EQ(regex->find(utf16Of(c.subject), 200), c.found) << c.pattern << " in " << c.subject;
  }
}

TEST(IcuRegexTest, APatternThatDoesNotCompileSaysWhereAndWhy) {
  std::string error;
  EXPECT_FALSE(Regex::compile(utf16Of("ab(c"), 0, &error));
  EXPECT_EQ(error, "U_REGEX_MISMATCHED_PAREN at character 4");
  EXPECT_EQ(unavailableReason(), "");
}

TEST(IcuRegexTest, CharacterTypesComeFromIcu) {
  EXPECT_EQ(charType(U'a'), 2);        // U_LOWERCASE_LETTER
  EXPECT_EQ(charType(U'7'), 9);        // U_DECIMAL_DIGIT_NUMBER
  EXPECT_EQ(charType(U'\u2003'), 12);  // U_SPACE_SEPARATOR (em space)
}

}  // namespace
}  // namespace sentrel::icu
