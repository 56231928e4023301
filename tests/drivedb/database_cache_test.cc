// The parsed-database cache: what it keeps reads back the same, anything
// that is not exactly a cache of the source is refused, and the class uses
// it, ignores it when it does not fit and writes it again.
#include <gtest/gtest.h>

#include "drivedb/database_cache.h"
#include "drivedb/drive_search.h"
#include "drivedb_texts.h"
#include "fake_machine.h"
#include "sentrel/drivedb_parser.h"
#include "support/debian_drivedb.h"

namespace sentrel::drivedb {
namespace {

using drivedb_testing::FakeMachine;
using drivedb_testing::kStoredPath;

constexpr std::size_t kHeaderSize = 48;

const std::string& smallText() {
  using drivedb_testing::entryText;
  static const std::string text = drivedb_testing::drivedbText(
      entryText("\"DEFAULT\"", "\"-\"", "\"-\"", "\"Default settings\"",
                "\"-v 9,raw24(raw8),Power_On_Hours\"") +
      entryText("\"Seagate BarraCuda 3.5\"", "\"ST(1000|2000)DM00[5-8]-.*\"", "\"\"", "\"\"",
                "\"-v 1,raw24/raw32 -v 9,minutes\"") +
      entryText("\"Western Digital Red\"", "\"WDC WD[1-8]0EFRX-.*\"", "\"\"", "\"A warning\"",
                "\"-v 9,min2hour -F xerrorlba\""));
  return text;
}

std::string cacheOf(const SearchableDatabase& db, const SourceKey& key) {
  return writeDatabaseCache(key, db.database(), db.modelLiterals());
}

// A body changed on purpose still carries a sound hash, so only the
// checks of its structure can refuse it.
std::string withBody(std::string cache, std::string body) {
  cache.resize(kHeaderSize);
  const std::uint64_t hash = contentHash(body);
  for (int i = 0; i < 8; ++i) cache[40 + i] = static_cast<char>(hash >> (8 * i) & 0xFF);
  return cache + body;
}

TEST(DatabaseCacheTest, DebiansDatabaseReadsBackEntryForEntry) {
  const DriveDatabase* debian = testing::debianDatabase();
  ASSERT_NE(debian, nullptr) << testing::kNoDebianDriveDb;
  const SearchableDatabase parsed(*debian);
  const SourceKey key = SourceKey::of(testing::debianText(), 1234);
  std::optional<CachedDatabase> cached = CachedDatabase::read(cacheOf(parsed, key), key);
  ASSERT_TRUE(cached);
  ASSERT_EQ(cached->entryCount(), debian->drives.size());
  EXPECT_EQ(cached->version(), debian->version);
  for (std::size_t i = 0; i < debian->drives.size(); ++i) {
    ASSERT_EQ(cached->entry(i), debian->drives[i]) << "entry " << i;
    ASSERT_EQ(cached->modelLiterals().entry(i), parsed.modelLiterals().entry(i)) << "entry " << i;
  }
  // A database read from it finds the same entries.
  const SearchableDatabase fromCache(std::move(*cached));
  for (const char* model : {"WDC WD10EZEX-00BN5A0", "ST2000DM008-2FR102", "NO SUCH MODEL"}) {
    const DriveDatabaseEntry* a = parsed.lookup(model, "");
    const DriveDatabaseEntry* b = fromCache.lookup(model, "");
    ASSERT_EQ(a == nullptr, b == nullptr) << model;
    if (a) {
      EXPECT_EQ(*a, *b) << model;
    }
  }
  EXPECT_EQ(fromCache.database(), *debian);
}

TEST(DatabaseCacheTest, RefusesEverythingButACacheOfThisSource) {
  const std::string text = smallText();
  const SearchableDatabase db(*parseDriveDatabase(text));
  const SourceKey key = SourceKey::of(text, 99);
  const std::string good = cacheOf(db, key);
  ASSERT_TRUE(CachedDatabase::read(good, key));
  const std::string body = good.substr(kHeaderSize);

  std::string flipped = good;
  flipped[good.size() / 2] ^= 0x20;
  std::string badMagic = good;
  badMagic[0] = 'X';
  std::string badFormat = good;
  badFormat[8] = 99;
  std::string hugeCount = body;  // the entry count of the body, after the version text
  const std::size_t countAt = 4 + db.version().size();
  hugeCount[countAt + 3] = 0x7F;
  std::string badNameFlag = body;
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
      {"empty", "", key},
      {"a byte too many", withBody(good, body + "x"), key},
      {"a count larger than the bytes", withBody(good, hugeCount), key},
      {"a name flag that is neither 0 nor 1", withBody(good, badNameFlag), key},
      {"a body cut in an entry", withBody(good, body.substr(0, body.size() / 2)), key},
  };
  for (const Case& c : cases) EXPECT_FALSE(CachedDatabase::read(c.bytes, c.key)) << c.why;
}

class DatabaseCacheClassTest : public ::testing::Test {
 protected:
  // The cache a parse of `text` writes, for `family` as the first entry's
  // family: a cache that says something the text does not shows whether it
  // was used.
  static std::string cacheSaying(const std::string& text, const std::string& family) {
    DriveDatabase db = *parseDriveDatabase(text);
    db.drives[1].modelfamily = family;
    return cacheOf(SearchableDatabase(std::move(db)), SourceKey::of(text, 0));
  }
  static std::string familyOf(std::string_view model) {
    auto entry = KVSmartDeviceDatabase::lookupDriveModel(model, "");
    return entry ? entry->modelfamily : "";
  }
};

TEST_F(DatabaseCacheClassTest, TheStoredDatabaseIsCachedBesideItAndTheCacheIsUsed) {
  const std::string text = smallText();
  const std::string cachePath = std::string(drivedb_testing::kSupportFolder) + "/drivedb.cache";
  {
    FakeMachine machine;
    machine.files.put(kStoredPath, text);
    EXPECT_EQ(KVSmartDeviceDatabase::cachePath(kStoredPath), cachePath);
    EXPECT_EQ(familyOf("ST2000DM008-2FR102"), "Seagate BarraCuda 3.5");
    EXPECT_EQ(machine.files.readFile(cachePath, nullptr),
              cacheOf(SearchableDatabase(*parseDriveDatabase(text)), SourceKey::of(text, 0)));
  }
  {
    // Another process: the cache is read instead of the text being parsed.
    FakeMachine machine;
    machine.files.put(kStoredPath, text);
    machine.files.put(cachePath, cacheSaying(text, "From the cache"));
    EXPECT_EQ(familyOf("ST2000DM008-2FR102"), "From the cache");
  }
}

TEST_F(DatabaseCacheClassTest, ACacheThatDoesNotFitIsParsedPastAndWrittenAgain) {
  const std::string text = smallText();
  const std::string cachePath = std::string(drivedb_testing::kSupportFolder) + "/drivedb.cache";
  const std::string sound =
      cacheOf(SearchableDatabase(*parseDriveDatabase(text)), SourceKey::of(text, 0));
  std::string damaged = cacheSaying(text, "From the cache");
  damaged.back() ^= 1;
  const std::string stale = cacheSaying(text + "\n", "From the cache");
  for (const std::string& bad : {damaged, stale, std::string("not a cache")}) {
    FakeMachine machine;
    machine.files.put(kStoredPath, text);
    machine.files.put(cachePath, bad);
    EXPECT_EQ(familyOf("ST2000DM008-2FR102"), "Seagate BarraCuda 3.5");
    EXPECT_EQ(machine.files.readFile(cachePath, nullptr), sound);
  }
}

TEST_F(DatabaseCacheClassTest, OtherFilesAreCachedInTheUsersCacheFolder) {
  FakeMachine machine;
  machine.files.put("/data/drivedb.h", smallText());
  platform::Failure failure;
  ASSERT_TRUE(KVSmartDeviceDatabase::installDriveDatabaseFile("/data/drivedb.h", &failure))
      << failure.message();
  const std::string cachePath = KVSmartDeviceDatabase::cachePath("/data/drivedb.h");
  EXPECT_EQ(cachePath.rfind("/home/tester/.cache/sentrel/drivedb-", 0), 0u) << cachePath;
  EXPECT_TRUE(machine.files.exists(cachePath));
  EXPECT_NE(KVSmartDeviceDatabase::cachePath("/data/other.h"), cachePath);
  // What cannot be installed says why, and nothing is cached for it.
  machine.files.put("/data/latin1.h", "\xe9t\xe9");
  EXPECT_FALSE(KVSmartDeviceDatabase::installDriveDatabaseFile("/data/latin1.h", &failure));
  EXPECT_EQ(failure.message(), "/data/latin1.h: not UTF-8 text");
  EXPECT_FALSE(machine.files.exists(KVSmartDeviceDatabase::cachePath("/data/latin1.h")));
}

}  // namespace
}  // namespace sentrel::drivedb
