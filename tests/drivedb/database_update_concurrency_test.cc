// The background update meeting other threads: lookups that go on while
// update jobs replace the database, two jobs queued back to back, and the
// "databaseUpdated" notifications, which arrive only on the thread that
// drains the main queue. Downloads are answered by the simulated machine, so
// no network is involved. These tests are run under ThreadSanitizer by
// scripts/test-tsan.sh (every suite named *ConcurrencyTest).
#include <gtest/gtest.h>

#include "support/fault_printers.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "sentrel/drive_database.h"
#include "sentrel/sim_machine.h"
#include "sentrel/value_io.h"

namespace sentrel {
namespace {

constexpr const char* kSourceA = "https://a.example";
constexpr const char* kSourceB = "https://b.example";
// The addresses the update makes of the two sources (first and second path).
const std::string kAddressA = std::string(kSourceA) + "/smartdb/drivedb.h";
const std::string kAddressB = std::string(kSourceB) +
                              "/p/smartmontools/code/5728/tree//branches/RELEASE_7_5_DRIVEDB/"
                              "smartmontools/drivedb.h?format=raw";

std::string driveDbText(int revision, const std::string& family) {
  return "/*\n * drivedb.h - smartmontools drive database file\n */\n"
         "const drive_settings builtin_knowndrives[] = {\n"
         "  { \"VERSION: 7.5/" +
         std::to_string(revision) +
         " 2025-01-01 12:00:00\", \"-\", \"-\", \"\", \"\" },\n"
         "  { \"DEFAULT\", \"-\", \"-\", \"\", \"-v 9,raw48,Power_On_Hours\" },\n"
         "  { \"" +
         family + "\", \"ACME X100\", \"\", \"\", \"-v 9,raw48," + family + "_Hours\" },\n};\n";
}

class UpdateConcurrencyTest : public ::testing::Test {
 protected:
  // `downloads` maps each address to a file written into the machine folder
  // (or to nothing, for an address that fails).
  void start(const std::vector<std::pair<std::string, std::optional<std::string>>>& downloads) {
    folder_ = std::filesystem::temp_directory_path() /
              ("sentrel-update-concurrency-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    Dict answers;
    int n = 0;
    for (const auto& [address, text] : downloads) {
      if (!text) {
        answers.set(address, Value());
        continue;
      }
      const std::string file = "download-" + std::to_string(n++) + ".h";
      std::ofstream(folder_ / file) << *text;
      answers.set(address, file);
    }
    platform::Failure error;
    machine_ = sim::Machine::fromJsonText(toJson(Value(Dict{{"downloads", answers}})),
                                          folder_.string(), &error);
    ASSERT_TRUE(machine_) << error;
    installed_.emplace(machine_->platform());
    saved_ = KVSmartDeviceDatabase::downloadSources();
  }
  void TearDown() override {
    if (machine_) machine_->platform().queues->wait(KVSmartDeviceDatabase::dlq());
    KVSmartDeviceDatabase::setDownloadSources(saved_);
    installed_.reset();
    machine_.reset();
    std::filesystem::remove_all(folder_);
  }

  std::vector<std::string> logLines() const {
    std::vector<std::string> out;
    for (const Dict& d : machine_->calls("nslog")) out.push_back(d.stringOr("line"));
    return out;
  }

  std::filesystem::path folder_;
  std::unique_ptr<sim::Machine> machine_;
  std::optional<platform::ScopedPlatform> installed_;
  std::vector<std::string> saved_;
};

TEST_F(UpdateConcurrencyTest, LookupsGoOnWhileTwoJobsInARowReplaceTheDatabase) {
  start({{kAddressA, driveDbText(5701, "Acme")}});
  KVSmartDeviceDatabase::setDownloadSources({kSourceA});
  DriveDatabase previous{.version = "previous", .drives = {}};
  DriveDatabaseEntry acme;
  acme.modelfamily = "Previous";
  acme.model = "ACME X100";
  acme.firmware = ".";
  acme.attribDict = {{"9", "raw48", "Previous Hours"}};
  previous.drives.push_back(acme);
  KVSmartDeviceDatabase::installDriveDatabase(previous);

  std::atomic<bool> stop{false};
  std::atomic<int> inconsistent{0};
  std::atomic<int> lookups{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 2; ++t) {
    readers.emplace_back([&] {
      // At least a few lookups each, however fast the jobs are.
      for (int i = 0; i < 20 || !stop.load(); ++i) {
        auto found = KVSmartDeviceDatabase::lookupDriveModel("ACME X100-1", "1.0");
        lookups.fetch_add(1);
        // Whichever database the lookup met, its entry is whole.
        if (!found || !found->preset("9") ||
            found->preset("9")->name != found->modelfamily + " Hours") {
          inconsistent.fetch_add(1);
        }
        auto db = KVSmartDeviceDatabase::driveDatabase();
        if (!db || (db->version != "previous" && db->version != "2025-01-01 (Revision 5701)")) {
          inconsistent.fetch_add(1);
        }
      }
    });
  }
  KVSmartDeviceDatabase::updateDB();
  KVSmartDeviceDatabase::updateDB();
  machine_->platform().queues->wait(KVSmartDeviceDatabase::dlq());
  stop.store(true);
  for (std::thread& r : readers) r.join();

  EXPECT_EQ(inconsistent.load(), 0);
  EXPECT_GE(lookups.load(), 40);
  EXPECT_EQ(machine_->calls("queue.async").size(), 2u);
  EXPECT_EQ(logLines(), (std::vector<std::string>{"download from '" + kAddressA + "' successful",
                                                  "download from '" + kAddressA + "' successful"}));
  EXPECT_EQ(KVSmartDeviceDatabase::driveDatabase()->version, "2025-01-01 (Revision 5701)");
  EXPECT_EQ(KVSmartDeviceDatabase::lookupDriveModel("ACME X100", "")->modelfamily, "Acme");
}

TEST_F(UpdateConcurrencyTest, NotificationsArriveOnTheThreadThatDrainsTheMainQueue) {
  // The first job fails at both addresses; the second finds a file at the second.
  start({{kAddressA, std::nullopt}, {kAddressB, driveDbText(5702, "Acme")}});
  KVSmartDeviceDatabase::setDownloadSources({kSourceA, "https://nowhere.example"});

  std::mutex mutex;
  std::vector<std::thread::id> deliveredOn;
  machine_->platform().notifications->observe(KVSmartDeviceDatabase::kDatabaseUpdated, [&] {
    std::lock_guard lock(mutex);
    deliveredOn.push_back(std::this_thread::get_id());
  });

  KVSmartDeviceDatabase::updateDB();
  machine_->platform().queues->wait(KVSmartDeviceDatabase::dlq());
  KVSmartDeviceDatabase::setDownloadSources({kSourceA, kSourceB});
  KVSmartDeviceDatabase::updateDB();
  // A completion reported from another thread posts through the main queue too.
  std::thread([] { KVSmartDeviceDatabase::downloadDidFailWithError("lost"); }).join();
  machine_->platform().queues->wait(KVSmartDeviceDatabase::dlq());

  {
    std::lock_guard lock(mutex);
    EXPECT_TRUE(deliveredOn.empty()) << "nothing is delivered before the main queue is drained";
  }
  EXPECT_EQ(machine_->calls("queue.asyncMain").size(), 3u);
  EXPECT_EQ(machine_->platform().queues->drainMain(), 3u);
  std::lock_guard lock(mutex);
  ASSERT_EQ(deliveredOn.size(), 3u);
  for (const std::thread::id& id : deliveredOn) EXPECT_EQ(id, std::this_thread::get_id());
  EXPECT_EQ(KVSmartDeviceDatabase::driveDatabase()->version, "2025-01-01 (Revision 5702)");
}

}  // namespace
}  // namespace sentrel
