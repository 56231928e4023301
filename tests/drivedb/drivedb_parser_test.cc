// The parser on small texts laid out like drivedb.h: each row a text and
// the database it gives, then the options, the version text, the names and
// the notions of white space and UTF-8 it rests on.
#include <gtest/gtest.h>

#include "sentrel/drivedb_parser.h"

namespace sentrel {

void PrintTo(const AttributePreset& p, std::ostream* os) {
  *os << p.id << "," << p.fmt << "," << p.name.value_or("(none)");
}

namespace {

const std::string kMarker =
    "  { \"VERSION: 7.5/99 2024-01-01 10:00:00\", \"-\", \"-\", \"\", \"\" },\n";

std::string entry(const std::string& family, const std::string& model) {
  return "  { \"" + family + "\",\n    \"" + model + "\",\n    \"\", \"\", \"\"\n  },\n";
}

// Each entry as family|model|firmware|warning, joined by ";".
std::string described(const DriveDatabase& db) {
  std::string out;
  for (const DriveDatabaseEntry& e : db.drives)
    out += (out.empty() ? "" : ";") + e.modelfamily + "|" + e.model + "|" + e.firmware + "|" +
           e.warning.text;
  return out;
}

TEST(DriveDbParserTest, TextsGiveTheirEntries) {
  struct Case {
    const char* why;
    std::string text;
    const char* version;  // nullptr: no database at all
    std::string entries;
  } cases[] = {
      {"no marker", entry("A", "A1"), nullptr, ""},
      {"the marker needs its space", "{\"VERSION: 7.5/1 2024\", \"-\", \"-\", \"\", \"\" },\n",
       nullptr, ""},
      {"a plain entry", kMarker + entry("A", "A1"), "2024-01-01 (Revision 99)", "A|A1|.|"},
      {"the VERSION marker wins over an earlier Id marker",
       "  { \"$Id: drivedb.h 1 2020-01-01 00:00:00Z a $\", \"-\", \"-\", \"\", \"\" },\n" +
           kMarker + entry("A", "A1"),
       "2024-01-01 (Revision 99)", "A|A1|.|"},
      {"an Id marker serves alone",
       "  { \"$Id: drivedb.h 77 2021-05-05 01:02:03Z b $\", \"-\", \"-\", \"\", \"\" },\n" +
           entry("A", "A1"),
       "2021-05-05 (Revision 77)", "A|A1|.|"},
      {"the header before the marker is never parsed",
       "/* An example:\n" + entry("Header", "H1") + "*/\n" + kMarker + entry("A", "A1"),
       "2024-01-01 (Revision 99)", "A|A1|.|"},
      {"comment lines and trailing comments go",
       kMarker + "  // Maker A\n  { \"A\", // tested with X\n    \"A1\", // and Y\n"
                 "    \"\", \"\", \"\"\n  }, // end\n",
       "2024-01-01 (Revision 99)", "A|A1|.|"},
      {"a block comment skips the entry after it",
       kMarker + entry("A", "A1") + "  /*\n   * retired\n   */\n" + entry("S", "S1") +
           entry("C", "C1"),
       "2024-01-01 (Revision 99)", "A|A1|.|;C|C1|.|"},
      {"the first // of an address is no comment",
       kMarker + "  { \"F\", \"M\", \"\", \"See http://a.example/fix\\n\" // note\n"
                 "    \"then reboot\", \"\"\n  },\n",
       "2024-01-01 (Revision 99)", "F|M|.|See http://a.example/fix\" // note\n\"then reboot"},
      {"pieces join; firmware, escaped quotes and line-feed escapes",
       kMarker + "  { \"Fam\\nily\",\n    \"A.*|\"\n    \"B.*\",\n    \"1\\\\.0|\"\n    \"2\",\n"
                 "    \"Firmware \\\"1.0\\\" loses data\\n\"\n    \"Update\", \"\"\n  },\n",
       "2024-01-01 (Revision 99)", "Family|A.*|B.*|1\\\\.0|2|Firmware \"1.0\" loses data\nUpdate"},
      {"an empty family takes the model; trim stops at a tab",
       kMarker + entry("", "ACME X[0-9]+") + entry("\tFam ", "{ M1"), "2024-01-01 (Revision 99)",
       "ACME X[0-9]+|ACME X[0-9]+|.|;\tFam|M1|.|"},
      {"'} ,' closes no entry: both are lost",
       kMarker +
           "  { \"A\", \"A1\", \"\", \"\", \"\" } ,\n  { \"B\", \"B1\", \"\", \"\", \"\" },\n" +
           entry("C", "C1"),
       "2024-01-01 (Revision 99)", "C|C1|.|"},
      {"four or six fields are no entry",
       kMarker +
           "  { \"Four\", \"F1\", \"\", \"\"\n  },\n"
           "  { \"Six\", \"S1\", \"\", \"Say \\\"hi\\\", then\", \"\"\n  },\n" +
           entry("Five", "V1"),
       "2024-01-01 (Revision 99)", "Five|V1|.|"},
      {"the last entry runs to the end", kMarker + "  { \"L\", \"L1\", \"\", \"\", \"\" }\n};\n",
       "2024-01-01 (Revision 99)", "L|L1|.|"},
      {"Windows line endings",
       "  { \"VERSION: 7.5/99 2024-01-01\", \"-\", \"-\", \"\", \"\" },\r\n"
       "  { \"A\",\r\n    \"A1\", \"\", \"\", \"\"\r\n  },\r\n",
       "2024-01-01 (Revision 99)", "A|A1|.|"},
      {"a skipped marker entry: the first parsed entry gives the version and goes",
       "  { \"VERSION: 7.5/1 2024-01-01\", \"x\", \"\", \"a\", \"b\", \"c\" },\n" +
           entry("A", "A1") + entry("B", "B1"),
       "A", "B|B1|.|"},
      {"a marker and nothing after it", "{ \"VERSION: 7.5 but nothing", "version unavailable", ""},
      {"malformed bytes are kept", kMarker + entry("Fam\xC3", "M\xFF"), "2024-01-01 (Revision 99)",
       "Fam\xC3|M\xFF|.|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const std::optional<DriveDatabase> db = parseDriveDatabase(c.text);
    ASSERT_EQ(db.has_value(), c.version != nullptr);
    if (!db) continue;
    EXPECT_EQ(db->version, c.version);
    EXPECT_EQ(described(*db), c.entries);
    for (const DriveDatabaseEntry& e : db->drives) {
      EXPECT_EQ(e.warning.color, Color::red);
      EXPECT_EQ(e.warning.font, (Font{"system", 11}));
    }
    // Any cut of the text parses to no more entries, and never crashes.
    for (std::size_t n = 0; n < c.text.size(); ++n) {
      auto part = parseDriveDatabase(std::string_view(c.text).substr(0, n));
      if (part) {
        EXPECT_LE(part->drives.size(), db->drives.size() + 1) << "cut at " << n;
      }
    }
  }
}

TEST(DriveDbParserTest, OptionsGivePresetsAndFirmwareBugs) {
  using P = AttributePreset;
  struct Case {
    const char* options;
    std::vector<AttributePreset> attributes;
    const char* firmwarebug;
    const char* description;
  } cases[] = {
      {"-v 9,minutes -v 194,temp -F nologdir ",
       {P{"9", "min2hour", "Power On Minutes"}, P{"194", "tempminmax", "Temperature \xE2\x84\x83"}},
       "nologdir",
       "nologdir:\nAvoids reading GP/SMART Log Directories"},
      {"-v 1,raw48,Raw_Read_Error_Rate \"\n    // a note\n    \"-v 2,raw48,Throughput -F xerrorlba",
       {P{"1", "raw48", "Raw Read Error Rate"}, P{"2", "raw48", "Throughput"}},
       "xerrorlba",
       "xerrorlba:\nFixes LBA byte ordering in Ext. Comprehensive SMART error log"},
      {"-v 9,halfminutes -v 9,seconds -v 231,10xCelsius -v 193,loadunload",
       {P{"9", "halfmin2hour", "Power On Half Minutes"}, P{"9", "sec2hour", "Power On Seconds"},
        P{"231", "temp10x", "Temperature \xE2\x84\x83 x10"}, P{"193", "raw24/raw24", ""}},
       "",
       ""},
      {"-v 197,increasing -v 5,increasing -v 200,writeerrorcount -v 1,unknown -v 3,raw48",
       {P{"197", "raw48", "Total Pending Sectors"}, P{"5", "increasing", std::nullopt},
        P{"200", "raw48", "Write Error Count"}, P{"1", "raw48", "Unknown Attribute"},
        P{"3", "raw48", std::nullopt}},
       "",
       ""},
      // Three fields: the format as written, a name expanded; a preset key is no key here.
      {"-v 9,raw24(raw8),Power_On_Hours,HDD -v 5,raw16(raw16),Reallocated_Sector_Ct "
       "-v 9,minutes,Uptime -v 07,raw48,Seven,SSD,extra -v 9, minutes",
       {P{"9", "raw24(raw8)", "Power On Hours"}, P{"5", "raw16(raw16)", "Reallocated Sector Count"},
        P{"9", "minutes", "Uptime"}, P{"07", "raw48", "Seven"}, P{"9", " minutes", std::nullopt}},
       "",
       ""},
      // Other options stay in the argument before them; alone, and without
      // their space, they are ignored; a single field is skipped.
      {"-d sat -v 1,raw48,Foo -d sat -v9,raw48,X -Fnologdir -v 9 -F samsung -F samsung3",
       {P{"1", "raw48", "Foo -d sat -v9"}},
       "samsung3",
       "samsung3:\nFixes completed-selftest reported as in-progress"},
      {"-F swapped", {}, "swapped", "swapped:\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const auto db = parseDriveDatabase(kMarker + "  { \"F\", \"M\", \"\", \"\", \"" + c.options +
                                       "\"\n  },\n};\n");
    ASSERT_TRUE(db);
    ASSERT_EQ(db->drives.size(), 1u);
    const DriveDatabaseEntry& e = db->drives[0];
    EXPECT_EQ(e.attributes, c.attributes);
    EXPECT_EQ(e.firmwarebug, c.firmwarebug);
    EXPECT_EQ(e.firmwarebugDescription, c.description);
    // By id the last of a repeated id wins, in the place of the first.
    for (const AttributePreset& p : c.attributes) {
      const AttributePreset* last = nullptr;
      for (const AttributePreset& q : c.attributes)
        if (q.id == p.id) last = &q;
      ASSERT_NE(e.preset(p.id), nullptr);
      EXPECT_EQ(*e.preset(p.id), *last);
    }
  }
}

}  // namespace
}  // namespace sentrel
