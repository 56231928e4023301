// Lookups on several threads while another thread installs databases: each
// lookup sees one whole database, never a half-built or emptied one.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "fake_machine.h"
#include "sentrel/drive_database.h"

namespace sentrel {
namespace {

// A database in which every drive "DISK <n>" finds the entry of family
// "<tag> <n>", and the last entry matches anything.
DriveDatabase taggedDatabase(const std::string& tag, int entries) {
  DriveDatabase db{tag, {}};
  for (int i = 0; i < entries; ++i) {
    DriveDatabaseEntry e;
    e.modelfamily = tag + " " + std::to_string(i);
    e.model = "^DISK " + std::to_string(i) + "$";
    e.firmware = ".";
    e.attributes = {{"9", "raw48", tag}};
    e.attribDict = e.attributes;
    db.drives.push_back(std::move(e));
  }
  return db;
}

TEST(DriveDatabaseConcurrencyTest, LookupsKeepTheDatabaseTheyStartedWith) {
  drivedb_testing::FakeMachine machine;  // no file: only installed databases exist
  constexpr int kEntries = 40;
  const DriveDatabase a = taggedDatabase("A", kEntries);
  const DriveDatabase b = taggedDatabase("B", kEntries);
  KVSmartDeviceDatabase::installDriveDatabase(a);

  std::atomic<bool> stop{false};
  std::atomic<int> mismatches{0};
  std::atomic<int> lookups{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&, t] {
      for (int i = 0; !stop.load() || i < 50; ++i) {
        const int n = (i * 7 + t) % kEntries;
        auto found = KVSmartDeviceDatabase::lookupDriveModel("DISK " + std::to_string(n), "");
        lookups.fetch_add(1);
        // Every database has the drive, and what is found is consistent in itself.
        if (!found) {
          mismatches.fetch_add(1);
          continue;
        }
        const std::string tag = found->modelfamily.substr(0, 1);
        if (found->modelfamily != tag + " " + std::to_string(n) || !found->preset("9") ||
            found->preset("9")->name != tag) {
          mismatches.fetch_add(1);
        }
        auto db = KVSmartDeviceDatabase::driveDatabase();
        if (!db || db->drives.size() != static_cast<std::size_t>(kEntries)) mismatches.fetch_add(1);
        if (i > 5000) break;
      }
    });
  }
  for (int round = 0; round < 60; ++round) {
    KVSmartDeviceDatabase::installDriveDatabase(round % 2 ? a : b);
    std::this_thread::yield();
  }
  stop.store(true);
  for (std::thread& r : readers) r.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_GE(lookups.load(), 150);
}

TEST(DriveDatabaseConcurrencyTest, FirstLookupsParseAndCompileTogether) {
  drivedb_testing::FakeMachine machine;
  std::string text = "  { \"VERSION: 7.5/1 2024-01-01\", \"-\", \"-\", \"\", \"\" },\n";
  for (int i = 0; i < 30; ++i) {
    text += "  { \"F" + std::to_string(i) + "\", \"^DISK " + std::to_string(i) +
            "$\", \"\", \"\", \"-v 9,minutes\" },\n";
  }
  machine.files.put(drivedb_testing::kStoredPath, text);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 30; ++i) {
        const int n = (i + t * 5) % 30;
        auto found = KVSmartDeviceDatabase::lookupDriveModel("DISK " + std::to_string(n), "x");
        if (!found || found->modelfamily != "F" + std::to_string(n)) wrong.fetch_add(1);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace sentrel
