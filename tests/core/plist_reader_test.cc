#include "sentrel/plist_reader.h"

#include <gtest/gtest.h>

#include <cmath>
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

std::string bytesOf(std::string_view hex) {
  auto data = fromHex(hex);
  EXPECT_TRUE(data) << "bad hex in the test";
  return data ? std::string(data->begin(), data->end()) : std::string();
}

// Written by Python's plistlib (an independent writer) from
// {"Containers": [{"ContainerReference": "disk3", "DesignatedPhysicalStore": "disk0s2",
//   "CapacityCeiling": 500068036608, "CapacityFree": 200000000000,
//   "Volumes": [{"DeviceIdentifier": "disk3s1", "Roles": ["System"], "Name": "Macintosh HD"},
//               {"DeviceIdentifier": "disk3s5", "Roles": ["Data"], "Name": "Données ✓"}]}],
//  "Real": 1.5, "Neg": -42, "Big": 2**64 - 1, "Flag": True, "Off": False,
//  "Bytes": b"\x00\x01\xff", "When": datetime(2024, 5, 1, 12, 0, 0)}
constexpr std::string_view kBinaryListing =
    "62706c6973743030d8010203040506070809222324252627285a436f6e7461696e657273545265616c534e6567"
    "5342696754466c6167534f6666554279746573545768656ea10ad50b0c0d0e0f10111213145f1012436f6e7461"
    "696e65725265666572656e63655f101744657369676e61746564506879736963616c53746f72655f100f436170"
    "61636974794365696c696e675c43617061636974794672656557566f6c756d6573556469736b33576469736b30"
    "733213000000746e60b000130000002e90edd000a2151dd3161718191a1c5f10104465766963654964656e7469"
    "6669657255526f6c6573544e616d65576469736b337331a11b5653797374656d5c4d6163696e746f7368204844"
    "d31617181e1f21576469736b337335a1205444617461690044006f006e006e00e90065007300202713233ff800"
    "000000000013ffffffffffffffd6140000000000000000ffffffffffffffff0908430001ff3341c5f133200000"
    "000008001900240029002d00310036003a004000450047005200670081009300a000a800ae00b600bf00c800cb"
    "00d200e500eb00f000f800fa0101010e0115011d011f0124013701400149015a015b015c016000000000000002"
    "01000000000000002900000000000000000000000000000169";

TEST(PlistReaderTest, ReadsEveryXmlElement) {
  std::string xml = xmlDocument(R"(<dict>
  <key>Name</key><string>Macintosh HD &amp; &lt;more&gt; &#x2713; &#65;</string>
  <key>Empty</key><string/>
  <key>Count</key><integer>-42</integer>
  <key>Huge</key><integer>18446744073709551615</integer>
  <key>Hex</key><integer>0x1F</integer>
  <key>Ratio</key><real>1.5</real>
  <key>Exponent</key><real>-1e3</real>
  <key>Yes</key><true/>
  <key>No</key><false/>
  <key>Bytes</key><data>
    AAH/
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
                {"Empty", ""},
                {"Count", -42},
                {"Huge", std::uint64_t{18446744073709551615ull}},
                {"Hex", 31},
                {"Ratio", 1.5},
                {"Exponent", -1000.0},
                {"Yes", true},
                {"No", false},
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
      {"<plist version=\"1.0\"></plist>", "the plist element holds no value"},
      {"<plist><dict><key>a</key></dict></plist>", "the key \"a\" has no value"},
      {"<plist><dict><string>a</string></dict></plist>", "expected a <key> in the dictionary"},
      {"<plist><integer>12x</integer></plist>", "<integer> that is not a 64-bit number"},
      {"<plist><integer>18446744073709551616</integer></plist>",
       "<integer> that is not a 64-bit number"},
      {"<plist><real>one</real></plist>", "<real> that is not a number"},
      {"<plist><data>A</data></plist>", "<data> that is not base64"},
      {"<plist><string>a &bogus; b</string></plist>", "unknown entity &bogus;"},
      {"<plist><string>&#0;</string></plist>", "malformed character entity"},
      {"<plist><string>\xff</string></plist>", "text that is not UTF-8"},
      {"<plist><string>open", "unterminated <string>"},
      {"<plist><blob/></plist>", "unknown element <blob>"},
      {"<plist><key>a</key></plist>", "a <key> outside a dictionary"},
      {"<plist><true>yes</true></plist>", "<true/> and <false/> hold nothing"},
      {"<plist><string>a</string></plist> trailing", "unexpected content after the property list"},
      {"<!-- never closed", "unterminated comment"},
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

TEST(PlistReaderTest, ReadsABinaryListingFromAnotherWriter) {
  ReadError error;
  auto v = parsePropertyList(bytesOf(kBinaryListing), &error);
  ASSERT_TRUE(v) << error.text();
  const Dict& d = *v->ifDict();
  const Dict& container = *(*d.getArray("Containers"))[0].ifDict();
  EXPECT_EQ(container.stringOr("ContainerReference"), "disk3");
  EXPECT_EQ(container.stringOr("DesignatedPhysicalStore"), "disk0s2");
  EXPECT_EQ(container.getInt("CapacityCeiling"), 500068036608);
  const Array& volumes = *container.getArray("Volumes");
  ASSERT_EQ(volumes.size(), 2u);
  EXPECT_EQ(volumes[1].ifDict()->stringOr("Name"), "Donn\u00e9es \u2713");  // UTF-16 in the file
  Dict scalars = d;
  scalars.erase("Containers");
  EXPECT_EQ(Value(scalars), Value(Dict{{"Real", 1.5},
                                       {"Neg", -42},
                                       {"Big", std::uint64_t{18446744073709551615ull}},
                                       {"Flag", true},
                                       {"Off", false},
                                       {"Bytes", Data{0x00, 0x01, 0xFF}},
                                       {"When", "2024-05-01T12:00:00Z"}}));
}

// A binary property list from the objects' bytes in order, with offsets
// and references `width` bytes wide (the objects' own references must be
// written that wide); object `top` is the top one.
std::string bigEndian(std::size_t value, int width) {
  std::string out;
  for (int i = width - 1; i >= 0; --i) out += static_cast<char>(value >> (8 * i));
  return out;
}

std::string binaryPlist(const std::vector<std::string>& objects, std::size_t top = 0,
                        int width = 1) {
  std::string out = "bplist00";
  std::string offsets;
  for (const std::string& o : objects) {
    offsets += bigEndian(out.size(), width);
    out += o;
  }
  std::size_t table = out.size();
  out += offsets;
  std::string trailer(6, '\0');
  trailer += static_cast<char>(width);
  trailer += static_cast<char>(width);
  trailer += bigEndian(objects.size(), 8) + bigEndian(top, 8) + bigEndian(table, 8);
  return out + trailer;
}

TEST(PlistReaderTest, RefusesMalformedBinaryWithAReason) {
  std::string ascii =
      "\x51"
      "a";
  struct Case {
    std::string name, bytes, reason;
  } cases[] = {
      {"too short", "bplist00", "too short"},
      {"other version", "bplist15" + std::string(40, '\0'),
       "unsupported binary property list version"},
      {"array refers to itself", binaryPlist({std::string("\xA1\x00", 2)}),
       "container that contains itself"},
      {"reference out of range", binaryPlist({"\xA1\x05"}), "reference out of range"},
      {"count beyond the objects",
       binaryPlist({"\x5F\x10\x7F"
                    "abc"}),
       "truncated"},
      {"non-string key", binaryPlist({"\xD1\x01\x01", "\x10\x01"}),
       "dictionary key that is not a string"},
      {"ASCII above 127", binaryPlist({"\x51\xE9"}), "ASCII string with a byte above 127"},
      {"lone surrogate", binaryPlist({std::string("\x61\xD8\x00", 3)}),
       "unpaired UTF-16 surrogate"},
      {"unknown type", binaryPlist({"\xF0"}), "unknown object type"},
      {"wide integer", binaryPlist({"\x14" + std::string("\x01", 1) + std::string(15, '\0')}),
       "integer wider than 64 bits"},
  };
  for (const Case& c : cases) {
    ReadError error;
    EXPECT_FALSE(parsePropertyList(c.bytes, &error)) << c.name;
    EXPECT_EQ(error.message, c.reason) << c.name;
  }
  // The hand-made file itself is sound when its pieces are.
  EXPECT_EQ(parsePropertyList(binaryPlist({ascii}), nullptr), Value("a"));
}

TEST(PlistReaderTest, BoundsSharedObjectsAndNesting) {
  // Each array holds the next one twice: 2^40 values once expanded.
  std::vector<std::string> objects;
  for (int i = 0; i < 40; ++i)
    objects.push_back(std::string("\xA2") + static_cast<char>(i + 1) + static_cast<char>(i + 1));
  objects.push_back("\x09");
  ReadError error;
  EXPECT_FALSE(parsePropertyList(binaryPlist(objects), &error));
  EXPECT_EQ(error.message, "too many values for the size of the file");

  // Chains of arrays at and beyond the depth limit.
  auto chain = [](std::size_t length) {
    std::vector<std::string> objects;
    for (std::size_t i = 0; i < length; ++i) objects.push_back("\xA1" + bigEndian(i + 1, 2));
    objects.push_back("\x09");
    return binaryPlist(objects, 0, 2);
  };
  EXPECT_TRUE(parsePropertyList(chain(kMaxPropertyListDepth), nullptr));
  EXPECT_FALSE(parsePropertyList(chain(kMaxPropertyListDepth + 1), &error));
  EXPECT_EQ(error.message, "nested too deeply");
}

// Every prefix and many single-byte changes of a sound file: the reader
// must answer (a value or a refusal) without reading outside the bytes,
// which the sanitizer build checks.
TEST(PlistReaderTest, SurvivesTruncationAndDamage) {
  std::string binary = bytesOf(kBinaryListing);
  std::string xml = toXmlPlist(*parsePropertyList(binary, nullptr));
  for (const std::string& sound : {binary, xml}) {
    for (std::size_t n = 0; n < sound.size(); ++n) {
      ReadError error;
      auto v = parsePropertyList(sound.substr(0, n), &error);
      if (!v) {
        EXPECT_FALSE(error.message.empty());
      }
    }
    std::uint32_t seed = 12345;
    for (int round = 0; round < 4000; ++round) {
      seed = seed * 1103515245 + 12345;
      std::string damaged = sound;
      damaged[(seed >> 8) % damaged.size()] = static_cast<char>(seed >> 24);
      parsePropertyList(damaged, nullptr);
    }
  }
}

}  // namespace
}  // namespace sentrel
