// The drive database meeting other threads: lookups while databases are
// installed and while update jobs replace them, first lookups that parse
// together, and "databaseUpdated" delivered only on the thread that drains
// the main queue. Run under ThreadSanitizer by scripts/test-tsan.sh (every
// suite named *ConcurrencyTest).
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "sentrel/drive_database.h"
#include "support/database_machine.h"
#include "support/fault_texts.h"

namespace sentrel {
namespace {

using testing::DatabaseMachine;

// Every drive "DISK <n>" finds family "<tag> <n>", whose preset 9 is named
// "<tag>": a lookup that mixed two databases would see another tag.
DriveDatabase taggedDatabase(const std::string& tag, int entries) {
  DriveDatabase db{tag, {}};
  for (int i = 0; i < entries; ++i) {
    DriveDatabaseEntry e;
    e.modelfamily = tag + " " + std::to_string(i);
    e.model = "^DISK " + std::to_string(i) + "$";
    e.firmware = ".";
    e.attributes = e.attribDict = {{"9", "raw48", tag}};
    db.drives.push_back(std::move(e));
  }
  return db;
}

std::string taggedText(const std::string& tag, int entries) {
  std::string text =
      testing::kDrivedbHeader + "  { \"VERSION: 7.5/1 2024-01-01\", \"-\", \"-\", \"\", \"\" },\n";
  for (int i = 0; i < entries; ++i)
    text += "  { \"" + tag + " " + std::to_string(i) + "\", \"^DISK " + std::to_string(i) +
            "$\", \"\", \"\", \"-v 9,raw48," + tag + "\" },\n";
  return text + "};\n";
}

// Readers look up drives until `stop` and after at least 50 lookups each;
// every answer must be whole and from one database.
int mixedLookups(std::atomic<bool>& stop, int entries, const auto& replace) {
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&, t] {
      for (int i = 0; !stop.load() || i < 50; ++i) {
        const int n = (i * 7 + t) % entries;
        auto found = KVSmartDeviceDatabase::lookupDriveModel("DISK " + std::to_string(n), "");
        if (!found || !found->preset("9") ||
            found->modelfamily != found->preset("9")->name.value_or("") + " " + std::to_string(n))
          wrong.fetch_add(1);
      }
    });
  }
  replace();
  stop.store(true);
  for (std::thread& r : readers) r.join();
  return wrong.load();
}

TEST(DriveDatabaseConcurrencyTest, LookupsKeepTheDatabaseTheyStartedWith) {
  DatabaseMachine m;
  const DriveDatabase a = taggedDatabase("A", 40), b = taggedDatabase("B", 40);
  KVSmartDeviceDatabase::installDriveDatabase(a);
  std::atomic<bool> stop{false};
  EXPECT_EQ(mixedLookups(stop, 40,
                         [&] {
                           for (int round = 0; round < 60; ++round) {
                             KVSmartDeviceDatabase::installDriveDatabase(round % 2 ? a : b);
                             std::this_thread::yield();
                           }
                         }),
            0);
}

// Threads whose lookups are the process's first find the stored file
// unparsed: one parse and one compilation of each pattern serve them all.
TEST(DriveDatabaseConcurrencyTest, FirstLookupsParseAndCompileTogether) {
  DatabaseMachine m;
  std::filesystem::create_directories(KVSmartDeviceDatabase::dbfolder());
  std::ofstream(KVSmartDeviceDatabase::dbPath(), std::ios::binary) << taggedText("F", 30);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 30; ++i) {
        const int n = (i + t * 5) % 30;
        auto found = KVSmartDeviceDatabase::lookupDriveModel("DISK " + std::to_string(n), "x");
        if (!found || found->modelfamily != "F " + std::to_string(n)) wrong.fetch_add(1);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

// Two update jobs in a row each store the downloaded database while
// readers look up drives.
TEST(UpdateConcurrencyTest, LookupsGoOnWhileTwoJobsInARowReplaceTheDatabase) {
  DatabaseMachine m(R"({"downloads": {"https://a.example/smartdb/drivedb.h": "new.h"}})",
                    {{"new.h", taggedText("N", 20)}});
  KVSmartDeviceDatabase::installDriveDatabase(taggedDatabase("A", 20));
  KVSmartDeviceDatabase::setDownloadSources({"https://a.example"});
  std::atomic<bool> stop{false};
  EXPECT_EQ(mixedLookups(stop, 20,
                         [&] {
                           KVSmartDeviceDatabase::updateDB();
                           KVSmartDeviceDatabase::updateDB();
                           m.platform().queues->wait(KVSmartDeviceDatabase::dlq());
                         }),
            0);
  EXPECT_EQ(m.machine->calls("queue.async").size(), 2u);
  EXPECT_EQ(m.logLines(), std::vector<std::string>(
                              2, "download from 'https://a.example/smartdb/drivedb.h' successful"));
  EXPECT_EQ(KVSmartDeviceDatabase::lookupDriveModel("DISK 3", "")->modelfamily, "N 3");
}

TEST(UpdateConcurrencyTest, NotificationsArriveOnTheThreadThatDrainsTheMainQueue) {
  DatabaseMachine m;
  std::mutex mutex;
  std::vector<std::thread::id> deliveredOn;
  m.platform().notifications->observe(KVSmartDeviceDatabase::kDatabaseUpdated, [&] {
    std::lock_guard lock(mutex);
    deliveredOn.push_back(std::this_thread::get_id());
  });
  KVSmartDeviceDatabase::setDownloadSources({"https://nowhere.example"});
  KVSmartDeviceDatabase::updateDB();
  // A completion reported from another thread posts through the main queue too.
  std::thread([] { KVSmartDeviceDatabase::downloadDidFailWithError("lost"); }).join();
  m.platform().queues->wait(KVSmartDeviceDatabase::dlq());
  {
    std::lock_guard lock(mutex);
    EXPECT_TRUE(deliveredOn.empty()) << "nothing is delivered before the main queue is drained";
  }
  EXPECT_EQ(m.platform().queues->drainMain(), 2u);
  std::lock_guard lock(mutex);
  EXPECT_EQ(deliveredOn, std::vector<std::thread::id>(2, std::this_thread::get_id()));
}

}  // namespace
}  // namespace sentrel
