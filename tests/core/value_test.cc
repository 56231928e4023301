#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "sentrel/value.h"
#include "sentrel/value_io.h"

namespace sentrel {
namespace {

TEST(ValueTest, EqualityComparesKindsAndDictionariesIgnoreOrder) {
  EXPECT_EQ(Value(Dict{{"a", 1}, {"b", 2}}), Value(Dict{{"b", 2}, {"a", 1}}));
  EXPECT_NE(Value(Array{1, 2}), Value(Array{2, 1}));
  EXPECT_NE(Value(1), Value(1u));  // signed and unsigned stay apart
  EXPECT_NE(Value("x"), Value(StyledText{.text = "x"}));
}

TEST(ValueTest, IntegerConversionsRefuseWhatDoesNotFit) {
  EXPECT_EQ(Value(std::uint64_t{1} << 63).toInt(), std::nullopt);
  EXPECT_EQ(Value(std::uint64_t{1} << 63).toUInt(), std::uint64_t{1} << 63);
  EXPECT_EQ(Value(-1).toUInt(), std::nullopt);
  EXPECT_EQ(Value(7.0).toInt(), 7);
  EXPECT_EQ(Value(7.5).toInt(), std::nullopt);
  EXPECT_EQ(Value(std::nan("")).toInt(), std::nullopt);
  EXPECT_EQ(Value(9.3e18).toInt(), std::nullopt);
}

TEST(ValueJsonTest, WritesEveryKindWithTheDisplayMapping) {
  struct Case {
    Value value;
    const char* json;
  } cases[] = {
      {Value(), "null"},
      {Value(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
      {Value(26.85f), "26.85"},
      {Value(std::nan("")), "null"},
      {Value("a\"b\n"), "\"a\\\"b\\n\""},
      {Value(Data{0x00, 0xab}), "{\"$data\":\"00ab\"}"},
      {Value(StyledText{.text = "Passed", .color = Color::red}), "\"Passed\""},
      {Value(Image{"NSStatusAvailableFlat", 20, 20}),
       "{\"image\":\"NSStatusAvailableFlat\",\"width\":20,\"height\":20}"},
      {Value(Dict{{"z", 1}, {"a", Array{1, "x"}}}), "{\"z\":1,\"a\":[1,\"x\"]}"},
  };
  for (const Case& c : cases) EXPECT_EQ(toJson(c.value, {.indent = -1}), c.json);
}

TEST(ValueJsonTest, ErrorsKeepTheirOrderOfPrecedence) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  struct Case {
    std::string text;
    std::string path;
    std::string message;  // a part of it
  } cases[] = {
      {R"({"a": 1, "a": 2, "b": {"$data": 5})", "", "syntax error at line 1"},
      {R"({"x": {"$data": 5}, "a": [1, {"b": 1, "b": 2}]})", "$.a[1].b", "the key appears twice"},
      {"[{\"$data\": 5}, " + std::string(300, '[') + std::string(300, ']') + "]", "$[0].$data",
       "hex digit pairs"},
      {deep, "$" + std::string(1, '[') + "0]", "nested too deeply"},
      {"1e999", "", "number too large"},
      {"\"\\udc00\"", "", "lone low surrogate"},
      {"\"a\tb\"", "", "control character"},
      {"\"\xc3\"", "", "not well-formed UTF-8"},
  };
  for (const Case& c : cases) {
    ReadError error;
    EXPECT_FALSE(fromJson(c.text, &error)) << c.text.substr(0, 80);
    if (c.message == "nested too deeply") {
      EXPECT_EQ(error.path.substr(0, 4), "$[0]") << error.path.substr(0, 80);
      EXPECT_EQ(std::count(error.path.begin(), error.path.end(), '['), 257);
    } else {
      EXPECT_EQ(error.path, c.path) << c.text.substr(0, 80);
    }
    EXPECT_NE(error.message.find(c.message), std::string::npos) << error.text();
  }
}

TEST(ValueJsonTest, NumbersAndEscapesReadAsJsonMeansThem) {
  ReadError error;
  // Whole numbers past 64 bits become reals, never wrap around.
  auto v = fromJson(R"([18446744073709551615, -9223372036854775808, 18446744073709551616,
                        -9223372036854775809, 1e-999, 2.5, -0, "\ud83d\ude00\u00e9\n", 1E2])",
                    &error);
  ASSERT_TRUE(v) << error.text();
  EXPECT_EQ(*v,
            Value(Array{std::numeric_limits<std::uint64_t>::max(),
                        std::numeric_limits<std::int64_t>::min(), 18446744073709551616.0,
                        -9223372036854775809.0, 0.0, 2.5, 0, "\xf0\x9f\x98\x80\xc3\xa9\n", 100.0}));
}

TEST(ValueHexTest, ParsesPairsOnly) {
  EXPECT_EQ(fromHex("00 ff\nA0"), (Data{0x00, 0xff, 0xa0}));
  EXPECT_FALSE(fromHex("abc"));
  EXPECT_FALSE(fromHex("a bc"));
  EXPECT_EQ(toHex(Data{0x0f, 0xf0}), "0ff0");
}

TEST(RealFormatTest, ShortestTextThatReadsBack) {
  EXPECT_EQ(formatReal32(26.85f), "26.85");
  EXPECT_EQ(formatReal(26.85), "26.85");
  EXPECT_EQ(formatReal(-0.0), "-0");
  EXPECT_EQ(formatReal(INFINITY), "inf");
  EXPECT_EQ(formatReal32(static_cast<float>(1) / 3), "0.33333334");
}

}  // namespace
}  // namespace sentrel
