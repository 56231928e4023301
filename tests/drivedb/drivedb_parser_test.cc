// The parser's rules one at a time, on small texts laid out like drivedb.h.
#include <gtest/gtest.h>

#include "drivedb_texts.h"
#include "sentrel/drivedb_parser.h"

namespace sentrel {
namespace {

using drivedb_testing::drivedbText;
using drivedb_testing::entryText;
using drivedb_testing::kFooter;
using drivedb_testing::kHeader;
using drivedb_testing::parseOk;

// A plain entry with the given family and model.
std::string plainEntry(const std::string& family, const std::string& model) {
  return entryText("\"" + family + "\"", "\"" + model + "\"", "\"\"", "\"\"", "\"\"");
}

std::vector<std::string> families(const DriveDatabase& db) {
  std::vector<std::string> out;
  for (const DriveDatabaseEntry& e : db.drives) out.push_back(e.modelfamily);
  return out;
}

// --- Version markers -------------------------------------------------------

TEST(DriveDbParserMarkerTest, TextWithoutMarkerGivesNothing) {
  EXPECT_FALSE(parseDriveDatabase(plainEntry("Fam", "M1") + plainEntry("Fam2", "M2")));
  EXPECT_FALSE(parseDriveDatabase(""));
  // The marker is exactly brace, space, quote: without the space it is none.
  EXPECT_FALSE(parseDriveDatabase("{\"VERSION: 7.5/1 2024-01-01\", \"-\", \"-\", \"\", \"\" },\n"));
}

TEST(DriveDbParserMarkerTest, VersionMarkerWinsOverEarlierIdMarker) {
  const std::string text =
      "  { \"$Id: drivedb.h 1 2020-01-01 00:00:00Z a $\", \"-\", \"-\", \"\", \"\" },\n"
      "  { \"VERSION: 7.5/99 2024-01-01 10:00:00\", \"-\", \"-\", \"\", \"\" },\n" +
      plainEntry("Fam", "M1");
  DriveDatabase db = parseOk(text);
  EXPECT_EQ(db.version, "2024-01-01 (Revision 99)");
  EXPECT_EQ(families(db), std::vector<std::string>{"Fam"});
}

TEST(DriveDbParserMarkerTest, IdMarkerServesWhenThereIsNoVersionMarker) {
  const std::string text =
      "/* header */\n"
      "  { \"$Id: drivedb.h 77 2021-05-05 01:02:03Z b $\", \"-\", \"-\", \"\", \"\" },\n" +
      plainEntry("Fam", "M1");
  DriveDatabase db = parseOk(text);
  EXPECT_EQ(db.version, "2021-05-05 (Revision 77)");
  EXPECT_EQ(families(db), std::vector<std::string>{"Fam"});
}

TEST(DriveDbParserMarkerTest, HeaderBeforeMarkerIsNeverParsed) {
  const std::string text = "/* An example entry:\n" + plainEntry("Header Fam", "HDR.*") + "*/\n" +
                           kHeader.substr(kHeader.find("  { \"VERSION")) + plainEntry("Fam", "M1");
  DriveDatabase db = parseOk(text);
  EXPECT_EQ(families(db), std::vector<std::string>{"Fam"});
}

// --- Comments ---------------------------------------------------------------

TEST(DriveDbParserCommentTest, CommentLinesLeaveNoTrace) {
  const std::string text = drivedbText("  // Maker A\n" + plainEntry("A", "A1") +
                                       "  // Maker B\n  // more notes\n" + plainEntry("B", "B1"));
  EXPECT_EQ(families(parseOk(text)), (std::vector<std::string>{"A", "B"}));
}

TEST(DriveDbParserCommentTest, TrailingCommentIsCut) {
  const std::string text = drivedbText(
      "  { \"Fam\", // tested with X\n    \"M1\", // and Y\n    \"\", \"\", \"\"\n  }, // end\n" +
      plainEntry("Next", "N1"));
  DriveDatabase db = parseOk(text);
  ASSERT_EQ(db.drives.size(), 2u);
  EXPECT_EQ(db.drives[0].modelfamily, "Fam");
  EXPECT_EQ(db.drives[0].model, "M1");
  EXPECT_EQ(db.drives[1].modelfamily, "Next");
}

TEST(DriveDbParserCommentTest, AddressKeepsTheWholeLineWithItsComment) {
  // The first "//" belongs to "://", so the comment after the address stays
  // and ends up inside the warning.
  const std::string text = drivedbText(
      entryText("\"Fam\"", "\"M1\"", "\"\"",
                "\"See http://acme.example/fix\\n\" // first piece\n    \"then reboot\"", "\"\""));
  DriveDatabase db = parseOk(text);
  ASSERT_EQ(db.drives.size(), 1u);
  EXPECT_EQ(db.drives[0].warning.text,
            "See http://acme.example/fix\" // first piece\n\"then reboot");
}

TEST(DriveDbParserCommentTest, CommentBeforeAnAddressIsCut) {
  const std::string text = drivedbText(
      "  { \"Fam\",\n    \"M1\", // see http://acme.example/list\n    \"\", \"\", \"\"\n  },\n");
  DriveDatabase db = parseOk(text);
  ASSERT_EQ(db.drives.size(), 1u);
  EXPECT_EQ(db.drives[0].model, "M1");
}

TEST(DriveDbParserCommentTest, BlockCommentSkipsTheEntryAfterIt) {
  const std::string text =
      drivedbText(plainEntry("A", "A1") + "  /*\n   * retired family\n   */\n" +
                  plainEntry("Skipped", "S1") + plainEntry("C", "C1"));
  EXPECT_EQ(families(parseOk(text)), (std::vector<std::string>{"A", "C"}));
}

TEST(DriveDbParserCommentTest, LineBreakEscapesAreDeletedEverywhere) {
  // The file holds "Fam\nily": the escape goes, the letters join.
  const std::string file =
      drivedbText(entryText("\"Fam\\nily\"", "\"M\\n1\"", "\"\"", "\"\"", "\"\""));
  DriveDatabase db = parseOk(file);
  ASSERT_EQ(db.drives.size(), 1u);
  EXPECT_EQ(db.drives[0].modelfamily, "Family");
  EXPECT_EQ(db.drives[0].model, "M1");
}

// --- Entry splitting and the five fields -----------------------------------

TEST(DriveDbParserSplitTest, EntriesNeedBraceCommaLineFeed) {
  // "} ," does not close an entry: the two run together and both are lost.
  const std::string text = drivedbText(
      "  { \"A\", \"A1\", \"\", \"\", \"\" } ,\n  { \"B\", \"B1\", \"\", \"\", \"\" },\n" +
      plainEntry("C", "C1"));
  EXPECT_EQ(families(parseOk(text)), std::vector<std::string>{"C"});
}

TEST(DriveDbParserSplitTest, WindowsLineEndingsReadTheSame) {
  std::string unix = drivedbText(plainEntry("A", "A1") + plainEntry("B", "B1"));
  std::string windows;
  for (char c : unix) {
    if (c == '\n') windows += '\r';
    windows += c;
  }
  EXPECT_EQ(parseOk(windows), parseOk(unix));
}

TEST(DriveDbParserSplitTest, PieceMustHaveExactlyFiveFields) {
  const std::string text = drivedbText(
      // Four fields.
      "  { \"Four\", \"F1\", \"\", \"\"\n  },\n"
      // A quote followed by a comma inside the warning makes six.
      "  { \"Six\", \"S1\", \"\", \"Say \\\"hi\\\", then\", \"\"\n  },\n" +
      plainEntry("Five", "V1"));
  EXPECT_EQ(families(parseOk(text)), std::vector<std::string>{"Five"});
}

TEST(DriveDbParserSplitTest, LastEntryWithoutCommaRunsToTheEnd) {
  // Without "}," the piece runs to the end of the text; the closing lines
  // land in the ignored text of the options field.
  const std::string text = kHeader + "  { \"Last\", \"L1\", \"\", \"\", \"\" }\n};\n";
  DriveDatabase db = parseOk(text);
  EXPECT_EQ(families(db), std::vector<std::string>{"Last"});
}

// --- Field contents ---------------------------------------------------------

TEST(DriveDbParserFieldTest, QuotedPiecesOfPatternsJoin) {
  const std::string text = drivedbText(entryText("\"Fam\"", "\"A.*|\"\n    \"B.*\"",
                                                 "\"1\\\\.0|\"\n    \"2\\\\.0\"", "\"\"", "\"\""));
  DriveDatabase db = parseOk(text);
  ASSERT_EQ(db.drives.size(), 1u);
  EXPECT_EQ(db.drives[0].model, "A.*|B.*");
  EXPECT_EQ(db.drives[0].firmware, "1\\\\.0|2\\\\.0");
}

TEST(DriveDbParserFieldTest, EmptyFirmwareBecomesDotAndEmptyFamilyTakesTheModel) {
  DriveDatabase db = parseOk(drivedbText(plainEntry("", "ACME X[0-9]+")));
  ASSERT_EQ(db.drives.size(), 1u);
  EXPECT_EQ(db.drives[0].firmware, ".");
  EXPECT_EQ(db.drives[0].modelfamily, "ACME X[0-9]+");
}

TEST(DriveDbParserFieldTest, WarningPiecesBecomeLinesAndEscapedQuotesPlain) {
  const std::string text = drivedbText(
      entryText("\"Fam\"", "\"M1\"", "\"\"",
                "\"Firmware \\\"1.0\\\" loses data\\n\"\n    \"Update to 1.1\"", "\"\""));
  DriveDatabase db = parseOk(text);
  ASSERT_EQ(db.drives.size(), 1u);
  EXPECT_EQ(db.drives[0].warning.text, "Firmware \"1.0\" loses data\nUpdate to 1.1");
}

TEST(DriveDbParserFieldTest, WarningIsRedElevenPointSystemText) {
  DriveDatabase db =
      parseOk(drivedbText(plainEntry("NoWarning", "M1") +
                          entryText("\"Warned\"", "\"M2\"", "\"\"", "\"Careful\"", "\"\"")));
  ASSERT_EQ(db.drives.size(), 2u);
  for (const DriveDatabaseEntry& e : db.drives) {
    EXPECT_EQ(e.warning.color, Color::red);
    EXPECT_EQ(e.warning.font, (Font{"system", 11}));
  }
  EXPECT_EQ(db.drives[0].warning.text, "");
  EXPECT_EQ(db.drives[1].warning.text, "Careful");
}

TEST(DriveDbParserFieldTest, FieldTrimSetIsQuoteBraceSpaceLineFeedOnly) {
  // A tab inside the quotes is not trimmed; quotes, braces and spaces are.
  DriveDatabase db = parseOk(drivedbText(plainEntry("\tFam ", "{ M1")));
  ASSERT_EQ(db.drives.size(), 1u);
  EXPECT_EQ(db.drives[0].modelfamily, "\tFam");
  EXPECT_EQ(db.drives[0].model, "M1");
}

// --- Options ----------------------------------------------------------------

std::vector<std::string> presetIds(const DriveDatabaseEntry& e) {
  std::vector<std::string> ids;
  for (const AttributePreset& p : e.attributes) ids.push_back(p.id);
  return ids;
}

DriveDatabaseEntry entryWithOptions(const std::string& options) {
  DriveDatabase db = parseOk(drivedbText(entryText("\"Fam\"", "\"M1\"", "\"\"", "\"\"", options)));
  EXPECT_EQ(db.drives.size(), 1u);
  return db.drives.empty() ? DriveDatabaseEntry{} : db.drives[0];
}

TEST(DriveDbParserOptionTest, SeveralOptionsInOnePiece) {
  DriveDatabaseEntry e = entryWithOptions("\"-v 9,minutes -v 194,temp -F nologdir \"");
  EXPECT_EQ(presetIds(e), (std::vector<std::string>{"9", "194"}));
  EXPECT_EQ(e.firmwarebug, "nologdir");
}

TEST(DriveDbParserOptionTest, OptionsAcrossPiecesAndLines) {
  DriveDatabaseEntry e = entryWithOptions(
      "\"-v 1,raw48,Raw_Read_Error_Rate \"\n    // a note\n    \"-v 2,raw48,Throughput \"\n"
      "    \"-F xerrorlba\"");
  EXPECT_EQ(presetIds(e), (std::vector<std::string>{"1", "2"}));
  ASSERT_EQ(e.attributes.size(), 2u);
  EXPECT_EQ(e.attributes[1].name, "Throughput");
  EXPECT_EQ(e.firmwarebug, "xerrorlba");
}

TEST(DriveDbParserOptionTest, OtherOptionsStayInsideTheArgumentBefore) {
  DriveDatabaseEntry e = entryWithOptions("\"-v 1,raw48,Foo -d sat\"");
  ASSERT_EQ(e.attributes.size(), 1u);
  EXPECT_EQ(e.attributes[0].name, "Foo -d sat");
  // Alone they are ignored, as is the text before the first option.
  e = entryWithOptions("\"-d sat\"");
  EXPECT_TRUE(e.attributes.empty());
  EXPECT_EQ(e.firmwarebug, "");
}

TEST(DriveDbParserOptionTest, OptionLetterNeedsItsSpace) {
  DriveDatabaseEntry e = entryWithOptions("\"-v9,raw48,Foo -Fnologdir\"");
  EXPECT_TRUE(e.attributes.empty());
  EXPECT_EQ(e.firmwarebug, "");
}

// --- "-v" presets ----------------------------------------------------------

struct PresetCase {
  const char* option;
  const char* id;
  const char* fmt;
  std::optional<std::string> name;
};

class DriveDbPresetOptionTest : public ::testing::TestWithParam<PresetCase> {};

TEST_P(DriveDbPresetOptionTest, GivesThePreset) {
  const PresetCase& c = GetParam();
  DriveDatabaseEntry e = entryWithOptions(std::string("\"") + c.option + " \"");
  ASSERT_EQ(e.attributes.size(), 1u);
  EXPECT_EQ(e.attributes[0], (AttributePreset{c.id, c.fmt, c.name}));
  ASSERT_NE(e.preset(c.id), nullptr);
  EXPECT_EQ(*e.preset(c.id), e.attributes[0]);
}

INSTANTIATE_TEST_SUITE_P(
    TwoFields, DriveDbPresetOptionTest,
    ::testing::Values(
        PresetCase{"-v 9,minutes", "9", "min2hour", "Power On Minutes"},
        PresetCase{"-v 9,halfminutes", "9", "halfmin2hour", "Power On Half Minutes"},
        PresetCase{"-v 9,seconds", "9", "sec2hour", "Power On Seconds"},
        PresetCase{"-v 194,temp", "194", "tempminmax", "Temperature \xE2\x84\x83"},
        PresetCase{"-v 231,10xCelsius", "231", "temp10x", "Temperature \xE2\x84\x83 x10"},
        PresetCase{"-v 193,loadunload", "193", "raw24/raw24", ""},
        PresetCase{"-v 197,increasing", "197", "raw48", "Total Pending Sectors"},
        PresetCase{"-v 198,increasing", "198", "raw48", "Total Offline Uncorrectable"},
        PresetCase{"-v 5,increasing", "5", "increasing", std::nullopt},
        PresetCase{"-v 200,writeerrorcount", "200", "raw48", "Write Error Count"},
        PresetCase{"-v 1,unknown", "1", "raw48", "Unknown Attribute"},
        PresetCase{"-v 3,raw48", "3", "raw48", std::nullopt},
        // Fields are taken as they stand: " minutes" is no preset key.
        PresetCase{"-v 9, minutes", "9", " minutes", std::nullopt}));

INSTANTIATE_TEST_SUITE_P(
    ThreeFields, DriveDbPresetOptionTest,
    ::testing::Values(PresetCase{"-v 9,raw24(raw8),Power_On_Hours,HDD", "9", "raw24(raw8)",
                                 "Power On Hours"},
                      PresetCase{"-v 190,tempminmax,Airflow_Temperature_Cel", "190", "tempminmax",
                                 "Airflow Temperature Celsius"},
                      PresetCase{"-v 5,raw16(raw16),Reallocated_Sector_Ct", "5", "raw16(raw16)",
                                 "Reallocated Sector Count"},
                      // A format that is a preset key is not looked up with three fields.
                      PresetCase{"-v 9,minutes,Uptime", "9", "minutes", "Uptime"},
                      // The id is kept exactly as written.
                      PresetCase{"-v 07,raw48,Seven,SSD,extra", "07", "raw48", "Seven"}));

TEST(DriveDbParserOptionTest, SingleFieldOptionIsSkipped) {
  DriveDatabaseEntry e = entryWithOptions("\"-v 9 -v 10,raw48,Ten\"");
  EXPECT_EQ(presetIds(e), std::vector<std::string>{"10"});
}

TEST(DriveDbParserOptionTest, RepeatedIdKeepsBothInOrderAndTheLastByIdInPlace) {
  DriveDatabaseEntry e =
      entryWithOptions("\"-v 9,minutes -v 12,raw48,Cycles -v 9,raw48,Hours_Again \"");
  EXPECT_EQ(presetIds(e), (std::vector<std::string>{"9", "12", "9"}));
  ASSERT_EQ(e.attribDict.size(), 2u);
  EXPECT_EQ(e.attribDict[0], (AttributePreset{"9", "raw48", "Hours Again"}));
  EXPECT_EQ(e.attribDict[1].id, "12");
  EXPECT_EQ(e.preset("9")->name, "Hours Again");
}

// --- "-F" -------------------------------------------------------------------

struct FirmwareBugCase {
  const char* name;
  const char* description;
};

class DriveDbFirmwareBugTest : public ::testing::TestWithParam<FirmwareBugCase> {};

TEST_P(DriveDbFirmwareBugTest, RecordsNameAndDescription) {
  DriveDatabaseEntry e = entryWithOptions(std::string("\"-F ") + GetParam().name + "\"");
  EXPECT_EQ(e.firmwarebug, GetParam().name);
  EXPECT_EQ(e.firmwarebugDescription,
            std::string(GetParam().name) + ":\n" + GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DriveDbFirmwareBugTest,
    ::testing::Values(
        FirmwareBugCase{"nologdir", "Avoids reading GP/SMART Log Directories"},
        FirmwareBugCase{"samsung", "Fixes byte order in some SMART data"},
        FirmwareBugCase{"samsung2", "Fixes byte order in some SMART data"},
        FirmwareBugCase{"samsung3", "Fixes completed-selftest reported as in-progress"},
        FirmwareBugCase{"xerrorlba",
                        "Fixes LBA byte ordering in Ext. Comprehensive SMART error log"},
        // A name outside the table is kept, with no description text.
        FirmwareBugCase{"swapped", ""}));

TEST(DriveDbParserOptionTest, LaterFirmwareBugReplacesAndNoneIsEmpty) {
  DriveDatabaseEntry e = entryWithOptions("\"-F samsung -F samsung3\"");
  EXPECT_EQ(e.firmwarebug, "samsung3");
  EXPECT_EQ(e.firmwarebugDescription,
            "samsung3:\nFixes completed-selftest reported as in-progress");
  e = entryWithOptions("\"-v 9,minutes\"");
  EXPECT_EQ(e.firmwarebug, "");
  EXPECT_EQ(e.firmwarebugDescription, "");
}

// --- The first entry and the version ---------------------------------------

TEST(DriveDbParserFirstEntryTest, VersionEntryIsRemoved) {
  DriveDatabase db = parseOk(drivedbText(plainEntry("DEFAULT", "-") + plainEntry("A", "A1")));
  EXPECT_EQ(db.version, "2024-06-30 (Revision 1234)");
  EXPECT_EQ(families(db), (std::vector<std::string>{"DEFAULT", "A"}));
}

TEST(DriveDbParserFirstEntryTest, FirstParsedEntryIsRemovedWhenTheMarkerEntryWasSkipped) {
  // The version entry has six fields, so "A" is the first parsed entry: it
  // gives the version text and is removed.
  const std::string text =
      "  { \"VERSION: 7.5/1 2024-01-01\", \"x\", \"\", \"a\", \"b\", \"c\" },\n" +
      plainEntry("A", "A1") + plainEntry("B", "B1");
  DriveDatabase db = parseOk(text);
  EXPECT_EQ(db.version, "A");
  EXPECT_EQ(families(db), std::vector<std::string>{"B"});
}

TEST(DriveDbParserFirstEntryTest, NoEntriesGiveAnEmptyDatabase) {
  DriveDatabase db = parseOk("{ \"VERSION: 7.5 but nothing after it");
  EXPECT_EQ(db.version, "version unavailable");
  EXPECT_TRUE(db.drives.empty());

  db = parseOk(kHeader + kFooter);
  EXPECT_EQ(db.version, "2024-06-30 (Revision 1234)");
  EXPECT_TRUE(db.drives.empty());
}

TEST(DriveDbParserFirstEntryTest, VersionFromAModelPatternWhenTheFamilyIsEmpty) {
  // The marker's entry is skipped (six fields); the first parsed entry has
  // no family text, so its model pattern is the text the version comes from.
  const std::string text =
      "  { \"VERSION: 7.5/1 2024-01-01\", \"x\", \"\", \"a\", \"b\", \"c\" },\n" +
      entryText("\"\"", "\"$Id: drivedb.h 5 2023-03-03 00:00:00Z c $\"", "\"\"", "\"\"", "\"\"") +
      plainEntry("A", "A1");
  DriveDatabase db = parseOk(text);
  EXPECT_EQ(db.version, "2023-03-03 (Revision 5)");
  EXPECT_EQ(families(db), std::vector<std::string>{"A"});
}

// --- Bad input never crashes ------------------------------------------------

TEST(DriveDbParserBadInputTest, TruncationAtEveryByteIsHarmless) {
  const std::string text = drivedbText(
      entryText("\"Fam\"", "\"A.*|\"\n    \"B.*\"", "\"\"", "\"Warn \\\"x\\\"\\n\"\n    \"more\"",
                "\"-v 9,minutes -v 194,temp \"\n    \"-F nologdir\"") +
      plainEntry("B", "B1"));
  for (std::size_t n = 0; n <= text.size(); ++n) {
    std::optional<DriveDatabase> db = parseDriveDatabase(std::string_view(text).substr(0, n));
    if (db) {
      EXPECT_LE(db->drives.size(), 2u) << "cut at " << n;
    }
  }
  // Cut in the middle of the first entry: the partial entry is dropped.
  const std::size_t cut = text.find("\"B.*\"");
  DriveDatabase db = parseOk(text.substr(0, cut));
  EXPECT_TRUE(db.drives.empty());
}

TEST(DriveDbParserBadInputTest, MalformedBytesAreHarmless) {
  std::string text = drivedbText(plainEntry("Fam\xC3", "M\xFF\xFE") + plainEntry("\xE2\x80", "N"));
  DriveDatabase db = parseOk(text);
  EXPECT_EQ(db.drives.size(), 2u);
  EXPECT_FALSE(isValidUtf8(text));
}

}  // namespace
}  // namespace sentrel
