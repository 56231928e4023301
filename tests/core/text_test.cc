#include "core/text.h"

#include <gtest/gtest.h>

namespace sentrel::text {
namespace {

TEST(TextTest, Utf8Validity) {
  struct Case {
    std::string bytes;
    bool valid;
  } cases[] = {
      {"", true},
      {"plain", true},
      {"\xc3\xa9", true},
      {"\xe2\x84\x83", true},
      {"\xf0\x9f\x92\xbe", true},
      {"\xc0\xaf", false},
      {"\xe0\x80\xaf", false},
      {"\xed\xa0\x80", false},
      {"\xf4\x90\x80\x80", false},
      {"\xc3", false},
      {"\x80", false},
      {"\xff", false},
  };
  for (const Case& c : cases) EXPECT_EQ(isValidUtf8(c.bytes), c.valid) << c.bytes;
}

TEST(TextTest, TrimsTheWhiteSpaceAndNewlineSet) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"  a b  ", "a b"},
      {"\t\r\n a \x0b\x0c", "a"},
      {"\xc2\xa0"
       "a"
       "\xe2\x80\xa8",
       "a"},  // no-break space, line separator
      {"\xe3\x80\x80"
       "a"
       "\xc2\x85",
       "a"},  // ideographic space, next line
      {"\xe2\x80\x8b"
       "a",
       "\xe2\x80\x8b"
       "a"},  // zero-width space is not white
      {"   ", ""},
      {"\xff a \xff", "\xff a \xff"},
  };
  for (const Case& c : cases) EXPECT_EQ(trimWhitespace(c.in), c.out) << c.in;
}

TEST(TextTest, LastPathComponent) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"disk2", "disk2"}, {"/dev/disk2", "disk2"}, {"a/b/", "b"}, {"/", "/"},
               {"", ""},           {"//x//", "x"}};
  for (const Case& c : cases) EXPECT_EQ(lastPathComponent(c.in), c.out) << c.in;
}

TEST(TextTest, NumericOrdering) {
  struct Case {
    const char* a;
    const char* b;
    int order;
  } cases[] = {
      {"10.9", "10.13", -1},   {"10.13", "10.13", 0},
      {"10.13.1", "10.13", 1}, {"11.2", "10.13", 1},
      {"", "10.13", -1},       {"010.13", "10.13", 0},
      {"Beta", "beta", 0},     {"10.13a", "10.13B", -1},
      {"9", "10", -1},         {"99999999999999999999999", "1", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compareNumeric(c.a, c.b), c.order) << c.a << " vs " << c.b;
    EXPECT_EQ(compareNumeric(c.b, c.a), -c.order) << c.b << " vs " << c.a;
  }
  EXPECT_EQ(compareNumeric("10.13B4", "10.13b4", false), -1);  // case respected when asked
}

TEST(TextTest, ReplaceAllResumesAfterEachReplacement) {
  EXPECT_EQ(replaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(replaceAll("Solid State Solid State", "Solid State", "SSD"), "SSD SSD");
  EXPECT_EQ(replaceAll("x", "", "y"), "x");
}

TEST(TextTest, FormatObjectLikePercentAt) {
  EXPECT_EQ(formatObject(Value(7200)), "7200");
  EXPECT_EQ(formatObject(Value("x")), "x");
  EXPECT_EQ(formatObject(Value(true)), "1");
  EXPECT_EQ(formatObject(Value(2.5)), "2.5");
  EXPECT_EQ(formatObject(Value()), "(null)");
}

}  // namespace
}  // namespace sentrel::text
