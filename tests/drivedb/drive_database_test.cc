// KVSmartDeviceDatabase on a fake machine: class setup, the preset table,
// reading and installing the file, and the lookup.
#include <gtest/gtest.h>

#include "support/fault_printers.h"

#include "drivedb_texts.h"
#include "fake_machine.h"
#include "sentrel/drive_database.h"
#include "sentrel/value_io.h"

namespace sentrel {
namespace {

using drivedb_testing::drivedbText;
using drivedb_testing::entryText;
using drivedb_testing::FakeMachine;
using drivedb_testing::kResourcePath;
using drivedb_testing::kStoredPath;

const std::string kStoredText = drivedbText(
    entryText("\"DEFAULT\"", "\"-\"", "\"-\"", "\"Default settings\"",
              "\"-v 9,raw24(raw8),Power_On_Hours \"\n    \"-v 194,temp \"") +
    entryText("\"ACME Old\"", "\"ACME X1\"", "\"^1\\.0\"", "\"Update now\"", "\"\"") +
    entryText("\"ACME X\"", "\"ACME X[0-9]+\"", "\"\"", "\"\"", "\"-v 9,minutes -F nologdir\""));

const std::string kResourceText =
    drivedbText(entryText("\"Resource family\"", "\"ACME\"", "\"\"", "\"\"", "\"\""));

// --- Class setup ------------------------------------------------------------

TEST(DriveDatabaseClassTest, PathsComeFromTheUserAndTheHostBundle) {
  FakeMachine machine;
  EXPECT_EQ(KVSmartDeviceDatabase::dbfolder(), "/home/tester/.local/share/TestHost/driveDatabase");
  EXPECT_EQ(KVSmartDeviceDatabase::dbPath(),
            "/home/tester/.local/share/TestHost/driveDatabase/drivedb.h");
  EXPECT_EQ(KVSmartDeviceDatabase::tempPath(),
            "/home/tester/.local/share/TestHost/driveDatabase/temp.h");
  EXPECT_EQ(KVSmartDeviceDatabase::dlq(), "downloadQ");
}

TEST(DriveDatabaseClassTest, HostWithoutBundleNameFallsBackToItsIdentifierThenOurName) {
  {
    FakeMachine machine("");
    EXPECT_EQ(KVSmartDeviceDatabase::dbfolder(),
              "/home/tester/.local/share/org.example.tests/driveDatabase");
  }
  FakeMachine machine("");
  machine.bundles().identifier = "";
  EXPECT_EQ(KVSmartDeviceDatabase::dbfolder(), "/home/tester/.local/share/Sentrel/driveDatabase");
}

TEST(DriveDatabaseClassTest, SetupIsRedoneForEachInstalledPlatform) {
  FakeMachine first("HostA");
  first.files.put("/home/tester/.local/share/HostA/driveDatabase/drivedb.h", kStoredText);
  ASSERT_TRUE(KVSmartDeviceDatabase::unpackDriveDBFile());
  EXPECT_NE(KVSmartDeviceDatabase::driveDatabase(), nullptr);
  {
    FakeMachine second("HostB");
    EXPECT_EQ(KVSmartDeviceDatabase::dbfolder(), "/home/tester/.local/share/HostB/driveDatabase");
    // A fresh setup starts without a database.
    EXPECT_EQ(KVSmartDeviceDatabase::driveDatabase(), nullptr);
  }
  // Back on the first machine the setup runs again, database absent again.
  EXPECT_EQ(KVSmartDeviceDatabase::dbfolder(), "/home/tester/.local/share/HostA/driveDatabase");
  EXPECT_EQ(KVSmartDeviceDatabase::driveDatabase(), nullptr);
}

// --- The preset table -------------------------------------------------------

TEST(DriveDatabasePresetTableTest, ThirteenConstantRows) {
  const Dict& table = KVSmartDeviceDatabase::fmtDict();
  EXPECT_EQ(&table, &KVSmartDeviceDatabase::fmtDict());
  ASSERT_EQ(table.size(), 13u);
  const Dict* row = table.getDict("increasing_197");
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(*row, (Dict{{"fmt", "raw48"}, {"name", "Total Pending Sectors"}}));
  EXPECT_EQ(table.find("increasing"), nullptr);
  // "Temperature", space, U+2103, space: 14 characters in 16 bytes.
  EXPECT_EQ(table.getDict("temp")->stringOr("name"), "Temperature \xE2\x84\x83 ");
  EXPECT_EQ(table.getDict("10xCelsius")->stringOr("name"), "Temperature \xE2\x84\x83 x10");
  // The empty name is a name, not an absent one.
  ASSERT_NE(table.getDict("loadunload")->getString("name"), nullptr);
  EXPECT_EQ(*table.getDict("loadunload")->getString("name"), "");
  EXPECT_EQ(table.getDict("minutes")->stringOr("fmt"), "min2hour");
}

// --- Reading and installing -------------------------------------------------

TEST(DriveDatabaseUnpackTest, StoredFileIsPreferredOverTheResource) {
  FakeMachine machine;
  machine.files.put(kStoredPath, kStoredText);
  machine.files.put(kResourcePath, kResourceText);
  ASSERT_TRUE(KVSmartDeviceDatabase::unpackDriveDBFile());
  auto db = KVSmartDeviceDatabase::driveDatabase();
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->version, "2024-06-30 (Revision 1234)");
  ASSERT_EQ(db->drives.size(), 3u);
  EXPECT_EQ(db->drives[0].modelfamily, "DEFAULT");
  EXPECT_EQ(machine.files.reads(kResourcePath), 0);
}

struct FallbackCase {
  const char* why;
  std::optional<std::string> stored;  // absent: no stored file
  bool resource;                      // whether the host has its copy
  bool parses;
  const char* firstFamily;
};

std::ostream& operator<<(std::ostream& os, const FallbackCase& c) {
  return os << c.why;
}

class DriveDatabaseSourceTest : public ::testing::TestWithParam<FallbackCase> {};

TEST_P(DriveDatabaseSourceTest, ReadsTheRightSource) {
  const FallbackCase& c = GetParam();
  FakeMachine machine;
  if (c.stored) machine.files.put(kStoredPath, *c.stored);
  if (c.resource) machine.files.put(kResourcePath, kResourceText);
  EXPECT_EQ(KVSmartDeviceDatabase::unpackDriveDBFile(), c.parses);
  auto db = KVSmartDeviceDatabase::driveDatabase();
  if (!c.parses) {
    EXPECT_EQ(db, nullptr);
    return;
  }
  ASSERT_NE(db, nullptr);
  ASSERT_FALSE(db->drives.empty());
  EXPECT_EQ(db->drives[0].modelfamily, c.firstFamily);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DriveDatabaseSourceTest,
    ::testing::Values(
        FallbackCase{"no stored file: the resource", std::nullopt, true, true, "Resource family"},
        FallbackCase{"stored file not UTF-8: the resource", kStoredText + "caf\xE9", true, true,
                     "Resource family"},
        FallbackCase{"neither: nothing", std::nullopt, false, false, ""},
        FallbackCase{"stored not UTF-8 and no resource", std::string("\xFF\xFE"), false, false, ""},
        // An empty file reads fine, so the resource is not tried; it has no marker.
        FallbackCase{"empty stored file", std::string(), true, false, ""},
        FallbackCase{"stored file without marker", std::string("/* nothing here */\n"), true, false,
                     ""}));

TEST(DriveDatabaseUnpackTest, FailedParseLeavesTheInstalledDatabase) {
  FakeMachine machine;
  machine.files.put(kStoredPath, kStoredText);
  ASSERT_TRUE(KVSmartDeviceDatabase::unpackDriveDBFile());
  auto before = KVSmartDeviceDatabase::driveDatabase();

  for (const std::string& bad :
       {std::string(""), std::string("no marker"), std::string("\xC3\x28")}) {
    machine.files.put(kStoredPath, bad);
    EXPECT_FALSE(KVSmartDeviceDatabase::unpackDriveDBFile());
    EXPECT_EQ(KVSmartDeviceDatabase::driveDatabase(), before);
  }
}

TEST(DriveDatabaseUnpackTest, TruncatedFileInstallsTheWholeEntries) {
  FakeMachine machine;
  machine.files.put(kStoredPath, kStoredText.substr(0, kStoredText.find("\"ACME X[0-9]+\"")));
  ASSERT_TRUE(KVSmartDeviceDatabase::unpackDriveDBFile());
  auto db = KVSmartDeviceDatabase::driveDatabase();
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(db->drives.size(), 2u);
  EXPECT_EQ(db->drives[1].modelfamily, "ACME Old");
}

TEST(DriveDatabaseUnpackTest, EachParseReplacesTheWholeDatabase) {
  FakeMachine machine;
  machine.files.put(kStoredPath, kStoredText);
  ASSERT_TRUE(KVSmartDeviceDatabase::unpackDriveDBFile());
  auto first = KVSmartDeviceDatabase::driveDatabase();
  machine.files.put(kStoredPath, kResourceText);
  ASSERT_TRUE(KVSmartDeviceDatabase::unpackDriveDBFile());
  auto second = KVSmartDeviceDatabase::driveDatabase();
  EXPECT_NE(first, second);
  ASSERT_EQ(second->drives.size(), 1u);
  // The old database stays whole for whoever still holds it.
  EXPECT_EQ(first->drives.size(), 3u);
}

// --- Lookup -----------------------------------------------------------------

TEST(DriveDatabaseLookupTest, ParsesOnFirstUseOnly) {
  FakeMachine machine;
  machine.files.put(kStoredPath, kStoredText);
  EXPECT_EQ(KVSmartDeviceDatabase::driveDatabase(), nullptr);  // never parses
  auto found = KVSmartDeviceDatabase::lookupDriveModel("ACME X100", "2.0");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->modelfamily, "ACME X");
  for (int i = 0; i < 3; ++i) KVSmartDeviceDatabase::lookupDriveModel("ACME X7", "");
  EXPECT_EQ(machine.files.reads(kStoredPath), 1);
}

TEST(DriveDatabaseLookupTest, WithoutAnySourceEveryLookupTriesAgain) {
  FakeMachine machine;
  EXPECT_EQ(KVSmartDeviceDatabase::lookupDriveModel("ACME X100", "1.0"), nullptr);
  EXPECT_EQ(KVSmartDeviceDatabase::lookupDriveModel("ACME X100", "1.0"), nullptr);
  EXPECT_EQ(machine.files.reads(kStoredPath), 2);
  // Once a file appears, the next lookup finds it.
  machine.files.put(kStoredPath, kStoredText);
  auto found = KVSmartDeviceDatabase::lookupDriveModel("ACME X7", "1.0");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->modelfamily, "ACME X");
}

TEST(DriveDatabaseLookupTest, ReturnsTheInstalledEntryItself) {
  FakeMachine machine;
  machine.files.put(kStoredPath, kStoredText);
  auto found = KVSmartDeviceDatabase::lookupDriveModel("ACME X100", "");
  auto db = KVSmartDeviceDatabase::driveDatabase();
  ASSERT_NE(found, nullptr);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(found.get(), &db->drives[2]);
  EXPECT_EQ(found->preset("9"), db->drives[2].preset("9"));
  EXPECT_EQ(found->preset("9")->fmt, "min2hour");
  EXPECT_EQ(found->firmwarebug, "nologdir");

  // It stays valid after another database replaces the installed one.
  KVSmartDeviceDatabase::installDriveDatabase(DriveDatabase{"other", {}});
  db.reset();
  EXPECT_EQ(KVSmartDeviceDatabase::driveDatabase()->version, "other");
  EXPECT_EQ(found->modelfamily, "ACME X");
}

TEST(DriveDatabaseLookupTest, NoEntryIsTheEmptyDictionary) {
  FakeMachine machine;
  machine.files.put(kStoredPath, kStoredText);
  auto found = KVSmartDeviceDatabase::lookupDriveModel("NOTHING", "1");
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(entryDict(found.get()), Dict{});
  EXPECT_EQ(toJson(entryDict(found.get())), "{}");
}

// --- The dictionary form ----------------------------------------------------

TEST(DriveDatabaseValueTest, EntryHasExactlyTheEightKeys) {
  FakeMachine machine;
  machine.files.put(kStoredPath, kStoredText);
  auto found = KVSmartDeviceDatabase::lookupDriveModel("ACME X1", "1.0");
  ASSERT_NE(found, nullptr);
  Dict d = found->toDict();
  std::vector<std::string> keys;
  for (const auto& e : d) keys.push_back(e.key);
  EXPECT_EQ(keys,
            (std::vector<std::string>{"modelfamily", "model", "firmware", "warning", "attributes",
                                      "attribDict", "firmwarebug", "firmwarebugDescription"}));
  EXPECT_EQ(d.stringOr("firmware"), "^1\\.0");
  const StyledText* warning = d.find("warning")->ifStyledText();
  ASSERT_NE(warning, nullptr);
  EXPECT_EQ(*warning, (StyledText{"Update now", Color::red, Font{"system", 11}, {}, 0}));
  EXPECT_EQ(*d.getArray("attributes"), Array{});
  EXPECT_EQ(*d.getDict("attribDict"), Dict{});
}

TEST(DriveDatabaseValueTest, PresetsWithAndWithoutName) {
  DriveDatabaseEntry e;
  e.attributes = {{"9", "raw48", std::nullopt}, {"9", "min2hour", "Power On Minutes"}};
  e.attribDict = {e.attributes[1]};
  Dict d = DriveDatabase{"v1", {e}}.toDict().getArray("drives")->front().ifDict()[0];
  const Dict minutes{{"id", "9"}, {"fmt", "min2hour"}, {"name", "Power On Minutes"}};
  EXPECT_EQ(*d.getArray("attributes"), (Array{Dict{{"id", "9"}, {"fmt", "raw48"}}, minutes}));
  EXPECT_EQ(*d.getDict("attribDict"), (Dict{{"9", minutes}}));
}

// --- Reading a named file (the command line) --------------------------------

TEST(DriveDatabaseFileTest, ReadsParsesOrSaysWhyNot) {
  FakeMachine machine;
  machine.files.put("/in/good.h", kStoredText);
  machine.files.put("/in/latin1.h", "caf\xE9");
  machine.files.put("/in/plain.txt", "hello");
  platform::Failure error;
  auto db = readDriveDatabaseFile("/in/good.h", &error);
  ASSERT_TRUE(db.has_value());
  EXPECT_EQ(db->drives.size(), 3u);

  EXPECT_FALSE(readDriveDatabaseFile("/in/missing.h", &error));
  EXPECT_EQ(error.message(), "/in/missing.h: No such file or directory");
  EXPECT_FALSE(readDriveDatabaseFile("/in/latin1.h", &error));
  EXPECT_EQ(error.message(), "/in/latin1.h: not UTF-8 text");
  EXPECT_FALSE(readDriveDatabaseFile("/in/plain.txt", &error));
  EXPECT_TRUE(error.message().starts_with("/in/plain.txt: no drive database version marker"))
      << error;
}

}  // namespace
}  // namespace sentrel
