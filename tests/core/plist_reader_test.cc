#include "sentrel/plist_reader.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "sentrel/value_io.h"

namespace sentrel {
namespace {

std::string xmlDocument(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n" +
         body + "\n</plist>\n";
}

TEST(PlistReaderTest, ReadsEveryXmlElement) {
  std::string xml = xmlDocument(R"(<dict>
  <key>Name</key><string>Macintosh HD &amp; &lt;more&gt; &#x2713; &#65;</string>
  <key>Huge</key><integer>18446744073709551615</integer>
  <key>Ratio</key><real>1.5</real>
  <key>Yes</key><true/>
  <key>Bytes</key><data> AAH/
  </data>
  <key>When</key><date>2024-05-01T12:00:00Z</date>
  <key>List</key><array><string>a</string><array/><dict/></array>
  <!-- a comment -->
  <key>Raw</key><string><![CDATA[<not a tag>]]></string>
</dict>)");
  ReadError error;
  auto v = parsePropertyList(xml, &error);
  ASSERT_TRUE(v) << error.text();
  Dict expected{{"Name", "Macintosh HD & <more> \u2713 A"},
                {"Huge", std::uint64_t{18446744073709551615ull}},
                {"Ratio", 1.5},
                {"Yes", true},
                {"Bytes", Data{0x00, 0x01, 0xFF}},
                {"When", "2024-05-01T12:00:00Z"},
                {"List", Array{"a", Array{}, Dict{}}},
                {"Raw", "<not a tag>"}};
  EXPECT_EQ(*v, Value(expected));
  // Document order is kept.
  EXPECT_EQ(v->ifDict()->entries().front().key, "Name");
  EXPECT_EQ(v->ifDict()->entries().back().key, "Raw");
}

TEST(PlistReaderTest, RefusesMalformedXmlWithAReason) {
  struct Case {
    std::string text;
    std::string reason;
  } cases[] = {
      {"", "not a property list"},
      {"<plist><dict><key>a</key></dict></plist>", "the key \"a\" has no value"},
      {"<plist><integer>12x</integer></plist>", "<integer> that is not a 64-bit number"},
      {"<plist><data>A</data></plist>", "<data> that is not base64"},
      {"<plist><string>a &bogus; b</string></plist>", "unknown entity &bogus;"},
      {"<plist><string>\xff</string></plist>", "text that is not UTF-8"},
      {"<plist><string>open", "unterminated <string>"},
      {"<plist><string>a</string></plist> trailing", "unexpected content after the property list"},
  };
  for (const Case& c : cases) {
    ReadError error;
    EXPECT_FALSE(parsePropertyList(c.text, &error)) << c.text;
    EXPECT_EQ(error.message, c.reason) << c.text;
    EXPECT_EQ(error.path.substr(0, 5), "line ") << c.text;
  }
  ReadError error;
  EXPECT_FALSE(
      parsePropertyList("<plist>\n<array>\n<integer>x</integer>\n</array></plist>", &error));
  EXPECT_EQ(error.path, "line 3");
}

TEST(PlistReaderTest, BoundsXmlNesting) {
  auto nested = [](int depth) {
    std::string s;
    for (int i = 0; i < depth; ++i) s += "<array>";
    for (int i = 0; i < depth; ++i) s += "</array>";
    return xmlDocument(s);
  };
  EXPECT_TRUE(parsePropertyList(nested(kMaxPropertyListDepth), nullptr));
  ReadError error;
  EXPECT_FALSE(parsePropertyList(nested(100000), &error));
  EXPECT_EQ(error.message, "nested too deeply");
}

// Every prefix and many single-byte changes of a sound document: the
// reader must answer (a value or a refusal) without reading outside the
// bytes, which the sanitizer build checks.
TEST(PlistReaderTest, SurvivesTruncationAndDamage) {
  const Value value(Dict{{"Name", "Donn\u00e9es & <x>"},
                         {"List", Array{-42, 1.5, true, Data{0, 1, 0xFF}, Dict{}}}});
  const std::string sound = toXmlPlist(value);
  ASSERT_EQ(parsePropertyList(sound, nullptr), value);
  for (std::size_t n = 0; n < sound.size(); ++n) {
    ReadError error;
    EXPECT_TRUE(parsePropertyList(sound.substr(0, n), &error) || !error.message.empty()) << n;
  }
  std::uint32_t seed = 12345;
  for (int round = 0; round < 4000; ++round) {
    seed = seed * 1103515245 + 12345;
    std::string damaged = sound;
    damaged[(seed >> 8) % damaged.size()] = static_cast<char>(seed >> 24);
    parsePropertyList(damaged, nullptr);
  }
}

}  // namespace
}  // namespace sentrel
