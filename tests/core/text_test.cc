#include "core/text.h"

#include <gtest/gtest.h>

namespace sentrel::text {
namespace {

TEST(TextTest, Utf8Validity) {
  for (std::string valid : {"", "\xc3\xa9", "\xf0\x9f\x92\xbe"}) EXPECT_TRUE(isValidUtf8(valid));
  // Overlong, surrogate, past U+10FFFF, cut short, a stray continuation byte.
  for (std::string invalid :
       {"\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xc3", "\x80"})
    EXPECT_FALSE(isValidUtf8(invalid)) << invalid;
}

TEST(TextTest, TrimsTheWhiteSpaceAndNewlineSet) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"\t\r\n a b\x0b\x0c", "a b"},
      {"\u00a0\u3000a\u2028\xc2\x85", "a"},  // no-break, ideographic, line separator, next line
      {"\u200ba", "\u200ba"},                // zero-width space is not white
      {"\xff a \xff", "\xff a \xff"},
  };
  for (const Case& c : cases) EXPECT_EQ(trimWhitespace(c.in), c.out) << c.in;
}

TEST(TextTest, NumericOrdering) {
  struct Case {
    const char* a;
    const char* b;
    int order;
  } cases[] = {{"10.9", "10.13", -1}, {"Beta", "beta", 0}, {"99999999999999999999999", "1", 1}};
  for (const Case& c : cases) {
    EXPECT_EQ(compareNumeric(c.a, c.b), c.order) << c.a << " vs " << c.b;
    EXPECT_EQ(compareNumeric(c.b, c.a), -c.order) << c.b << " vs " << c.a;
  }
  EXPECT_EQ(compareNumeric("10.13B4", "10.13b4", false), -1);  // case respected when asked
}

TEST(TextTest, ReplaceAllResumesAfterEachReplacement) {
  EXPECT_EQ(replaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(replaceAll("Solid State Solid State", "Solid State", "SSD"), "SSD SSD");
}

}  // namespace
}  // namespace sentrel::text
