// The drive database class on a simulated machine: which file it reads,
// what a lookup finds, and the parsed-database cache beside the file, which
// is used only while it is exactly a cache of that file.
#include <gtest/gtest.h>

#include "drivedb/database_cache.h"
#include "drivedb/drive_search.h"
#include "sentrel/drive_database.h"
#include "sentrel/drivedb_parser.h"
#include "support/database_machine.h"

namespace sentrel::drivedb {
namespace {

using testing::DatabaseMachine;

const std::string kStored = R"(/*
 * drivedb.h - smartmontools drive database file
 */
  { "VERSION: 7.5/1234 2024-06-30 10:00:00 $Id: drivedb.h 1234 2024-06-30 10:00:00Z ed $",
    "-", "-", "Version information", ""
  },
  { "DEFAULT", "-", "-", "Default settings", "-v 9,raw24(raw8),Power_On_Hours -v 194,temp"
  },
  { "ACME Old", "ACME X1", "^1\.0", "Firmware \"1.0\" loses data\n"
    "Update now", ""
  },
  { "ACME X", // a comment
    "ACME X[0-9]+", "", "", "-v 9,minutes -F nologdir"
  },
};
)";
const std::string kResource =
    "  { \"VERSION: 7.5/1 2024-01-01\", \"-\", \"-\", \"\", \"\" },\n"
    "  { \"Resource family\", \"ACME\", \"\", \"\", \"\" },\n";

std::string familyOf(std::string_view model, std::string_view firmware = "") {
  auto entry = KVSmartDeviceDatabase::lookupDriveModel(model, firmware);
  return entry ? entry->modelfamily : "";
}

// Without a host copy of its own, the machine's host is the build, whose
// resources hold Debian's file.
TEST(DriveDatabaseSourceTest, TheStoredFileThenTheHostCopy) {
  const char* const debian = "$Id: (Revision 7.3)";
  struct Case {
    const char* why;
    std::optional<std::string> stored;  // none: no stored file
    bool resource;                      // the machine's host has its own copy
    const char* version;                // of the database installed by a lookup
  } cases[] = {
      {"stored file first", kStored, true, "2024-06-30 (Revision 1234)"},
      {"no stored file: the host copy", std::nullopt, true, "2024-01-01 (Revision 1)"},
      {"no stored file, no copy of its own: the build's", std::nullopt, false, debian},
      {"stored file not UTF-8: the host copy", kStored + "caf\xE9", true,
       "2024-01-01 (Revision 1)"},
      {"a stored file without marker: nothing", std::string("/* nothing */\n"), true, "(none)"},
      {"a stored file cut in an entry: the whole ones before",
       kStored.substr(0, kStored.find("\"ACME X[")), true, "2024-06-30 (Revision 1234)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::map<std::string, std::string> files;
    if (c.resource) files["resources/driveDatabase/drivedb.h"] = kResource;
    DatabaseMachine m(R"({"host": {"resources": "resources"}})", files);
    if (c.stored) m.store(*c.stored);
    KVSmartDeviceDatabase::lookupDriveModel("ACME X7", "");
    EXPECT_EQ(m.installedVersion(), c.version);
  }
}

TEST(DriveDatabaseLookupTest, TheEntryWithItsFirmwareWarningAndPresets) {
  DatabaseMachine m;
  m.store(kStored);
  struct Case {
    const char* model;
    const char* firmware;
    const char* family;
  } cases[] = {
      {"ACME X1", "1.0.3", "ACME Old"},  // the firmware pattern decides between entries
      {"ACME X1", "2.0", "ACME X"},     {"ACME X1", "", "ACME X"},
      {"ACME X100", "2.0", "ACME X"},   {"NOTHING", "1.0", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(familyOf(c.model, c.firmware), c.family) << c.model;
  auto old = KVSmartDeviceDatabase::lookupDriveModel("ACME X1", "1.0");
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(old->warning.text, "Firmware \"1.0\" loses data\nUpdate now");
  auto x = KVSmartDeviceDatabase::lookupDriveModel("ACME X100", "");
  ASSERT_NE(x, nullptr);
  ASSERT_NE(x->preset("9"), nullptr);
  EXPECT_EQ(*x->preset("9"), (AttributePreset{"9", "min2hour", "Power On Minutes"}));
  EXPECT_EQ(x->firmwarebug, "nologdir");
  auto defaults = KVSmartDeviceDatabase::defaultEntry();
  ASSERT_NE(defaults, nullptr);
  EXPECT_EQ(defaults->preset("194")->fmt, "tempminmax");

  // Installed once: a changed file is not read again until it is unpacked,
  // and a text that does not parse leaves the installed database.
  m.store(kResource);
  EXPECT_EQ(familyOf("ACME X100"), "Resource family");
  for (const std::string& bad : {std::string(""), std::string("no marker")}) {
    std::ofstream(KVSmartDeviceDatabase::dbPath(), std::ios::binary) << bad;
    EXPECT_FALSE(KVSmartDeviceDatabase::unpackDriveDBFile());
    EXPECT_EQ(familyOf("ACME X100"), "Resource family");
  }
}

constexpr std::size_t kHeaderSize = 48;

std::string cacheOf(const DriveDatabase& database, const SourceKey& key) {
  const SearchableDatabase db(database);
  return writeDatabaseCache(key, db.database(), db.modelLiterals());
}

// A body changed on purpose with a sound hash, so only the checks of its
// structure can refuse it.
std::string withBody(std::string cache, const std::string& body) {
  cache.resize(kHeaderSize);
  const std::uint64_t hash = contentHash(body);
  for (int i = 0; i < 8; ++i) cache[40 + i] = static_cast<char>(hash >> (8 * i) & 0xFF);
  return cache + body;
}

TEST(DatabaseCacheTest, RefusesEverythingButACacheOfThisSource) {
  const DriveDatabase db = *parseDriveDatabase(kStored);
  const SourceKey key = SourceKey::of(kStored, 99);
  const std::string good = cacheOf(db, key);
  ASSERT_TRUE(CachedDatabase::read(good, key));
  const std::string body = good.substr(kHeaderSize);
  std::string flipped = good, badMagic = good, badFormat = good, hugeCount = body,
              badNameFlag = body;
  flipped[good.size() / 2] ^= 0x20;
  badMagic[0] = 'X';
  badFormat[8] = 99;
  hugeCount[4 + db.version.size() + 3] = 0x7F;     // the entry count, after the version
  badNameFlag[body.find("raw24(raw8)") + 11] = 2;  // the byte after a preset's format
  struct Case {
    const char* why;
    std::string bytes;
    SourceKey key;
  } cases[] = {
      {"another source size", good, {key.size + 1, key.modified, key.hash}},
      {"another modification time", good, {key.size, key.modified + 1, key.hash}},
      {"another source text", good, {key.size, key.modified, key.hash ^ 1}},
      {"a changed byte", flipped, key},
      {"another file kind", badMagic, key},
      {"another format", badFormat, key},
      {"cut short", good.substr(0, good.size() - 1), key},
      {"only a header", good.substr(0, kHeaderSize), key},
      {"a byte too many", withBody(good, body + "x"), key},
      {"a count larger than the bytes", withBody(good, hugeCount), key},
      {"a name flag that is neither 0 nor 1", withBody(good, badNameFlag), key},
      {"a body cut in an entry", withBody(good, body.substr(0, body.size() / 2)), key},
  };
  for (const Case& c : cases) EXPECT_FALSE(CachedDatabase::read(c.bytes, c.key)) << c.why;
}

// The stored file is parsed once and cached beside it; a later unpack takes
// the cache (which says something the text does not, to show it was used)
// only while it fits the file exactly, and writes a sound one otherwise.
TEST(DatabaseCacheTest, TheClassUsesOnlyACacheThatFitsTheStoredFile) {
  DatabaseMachine m;
  m.store(kStored);
  const std::string path = KVSmartDeviceDatabase::dbPath();
  const std::string cachePath = KVSmartDeviceDatabase::cachePath(path);
  EXPECT_EQ(cachePath, KVSmartDeviceDatabase::dbfolder() + "/drivedb.cache");
  const auto key = [&] { return SourceKey::of(kStored, *m.files().modificationTime(path)); };
  const std::string sound = cacheOf(*parseDriveDatabase(kStored), key());
  EXPECT_TRUE(testing::readText(cachePath) == sound);
  DriveDatabase saying = *parseDriveDatabase(kStored);
  saying.drives[2].modelfamily = "From the cache";
  saying.version = "the cache's version";

  struct Case {
    const char* why;
    std::string cache;
    bool touch;  // the file's modification time changes, its text does not
    const char* family;
  } cases[] = {
      {"a cache of this file", cacheOf(saying, key()), false, "From the cache"},
      {"a damaged cache", cacheOf(saying, key()) + "x", false, "ACME X"},
      {"a cache of another text", cacheOf(saying, SourceKey::of(kStored + "\n", 0)), false,
       "ACME X"},
      {"not a cache", "not a cache", false, "ACME X"},
      {"the file touched since", cacheOf(saying, key()), true, "ACME X"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::ofstream(cachePath, std::ios::binary) << c.cache;
    if (c.touch) {
      std::filesystem::last_write_time(
          path, std::filesystem::last_write_time(path) + std::chrono::seconds(1));
    }
    ASSERT_TRUE(KVSmartDeviceDatabase::unpackDriveDBFile());
    EXPECT_EQ(familyOf("ACME X7"), c.family);
    const bool fromCache = std::string(c.family) == "From the cache";
    EXPECT_EQ(KVSmartDeviceDatabase::installedVersion(),
              fromCache ? saying.version : parseDriveDatabase(kStored)->version);
    if (!fromCache) {
      EXPECT_TRUE(testing::readText(cachePath) == cacheOf(*parseDriveDatabase(kStored), key()));
    }
  }
}

}  // namespace
}  // namespace sentrel::drivedb
