// The background update against a real HTTP server on loopback, started by
// the test: the simulated machine keeps files, logs and queues; downloads go
// through libcurl.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include "support/fault_printers.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "platform/linux/linux_platform.h"
#include "sentrel/drive_database.h"
#include "sentrel/sim_machine.h"
#include "support/fault_http_server.h"

namespace sentrel {
namespace {

// Serves fixed bodies by path on 127.0.0.1 until destroyed; unknown paths
// get a 404 page.
testing::FaultHttpServer loopbackServer(const std::map<std::string, std::string>& bodies) {
  std::vector<testing::Route> routes;
  for (const auto& [path, body] : bodies)
    routes.emplace_back(path, testing::Misbehaviour::none, body);
  return testing::FaultHttpServer(std::move(routes));
}

const std::string kGoodFile =
    "/*\n * drivedb.h - smartmontools drive database file\n */\n"
    "const drive_settings builtin_knowndrives[] = {\n"
    "  { \"VERSION: 7.5/5700 2025-01-01 12:00:00 $Id: drivedb.h 5700 2025-01-01 12:00:00Z x $\",\n"
    "    \"-\", \"-\", \"\", \"\"\n  },\n"
    "  { \"DEFAULT\", \"-\", \"-\", \"Default settings\", \"-v 9,raw48,Power_On_Hours\"\n  },\n"
    "  { \"Acme\", \"ACME X100\", \"\", \"\", \"\"\n  },\n};\n";

class UpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("sentrel-update-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    platform::Failure error;
    machine_ = sim::Machine::fromJsonText("{}", folder_.string(), &error);
    ASSERT_TRUE(machine_) << error;
    platform_ = machine_->platform();
    platform_.downloads = &platform::linuxDownloads();
    installed_.emplace(platform_);
    saved_ = KVSmartDeviceDatabase::downloadSources();
  }
  void TearDown() override {
    platform_.queues->wait(KVSmartDeviceDatabase::dlq());
    KVSmartDeviceDatabase::setDownloadSources(saved_);
    installed_.reset();
    std::filesystem::remove_all(folder_);
  }

  void runUpdate() {
    KVSmartDeviceDatabase::updateDB();
    platform_.queues->wait(KVSmartDeviceDatabase::dlq());
  }
  std::vector<std::string> logLines() {
    std::vector<std::string> out;
    for (const Dict& d : machine_->calls("nslog")) out.push_back(d.stringOr("line"));
    return out;
  }
  int notificationsDelivered() {
    int n = 0;
    platform_.notifications->observe(KVSmartDeviceDatabase::kDatabaseUpdated, [&n] { ++n; });
    platform_.queues->drainMain();
    return n;
  }

  std::filesystem::path folder_;
  std::unique_ptr<sim::Machine> machine_;
  platform::Platform platform_;
  std::optional<platform::ScopedPlatform> installed_;
  std::vector<std::string> saved_;
};

TEST_F(UpdateTest, ErrorPageThenAGoodFileStoresAndParsesOnce) {
  auto server =
      loopbackServer({{"/b/p/smartmontools/code/5728/tree//branches/RELEASE_7_5_DRIVEDB/"
                       "smartmontools/drivedb.h?format=raw",
                       kGoodFile}});
  KVSmartDeviceDatabase::setDownloadSources(
      {server.base() + "/a", server.base() + "/b", server.base() + "/c", server.base() + "/d"});
  runUpdate();
  EXPECT_EQ(logLines(), (std::vector<std::string>{
                            "download from '" + server.base() +
                                "/a/smartdb/drivedb.h' failed: the server answered with HTTP "
                                "status 404",
                            "download from '" + server.base() +
                                "/b/p/smartmontools/code/5728/tree//branches/RELEASE_7_5_DRIVEDB/"
                                "smartmontools/drivedb.h?format=raw' successful"}));
  EXPECT_EQ(server.requested().size(), 2u) << "addresses three and four are not tried";
  std::ifstream stored(KVSmartDeviceDatabase::dbPath());
  std::string text((std::istreambuf_iterator<char>(stored)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, kGoodFile);
  auto db = KVSmartDeviceDatabase::driveDatabase();
  ASSERT_TRUE(db);
  EXPECT_EQ(db->version, "2025-01-01 (Revision 5700)");
  EXPECT_EQ(notificationsDelivered(), 1);
}

TEST_F(UpdateTest, AllFailingLogsFourLinesNotifiesAndKeepsTheDatabase) {
  auto server = loopbackServer({});
  KVSmartDeviceDatabase::setDownloadSources(
      {server.base(), server.base(), server.base(), "http://127.0.0.1:1"});
  DriveDatabase previous{.version = "previous", .drives = {}};
  KVSmartDeviceDatabase::installDriveDatabase(previous);
  runUpdate();
  auto lines = logLines();
  ASSERT_EQ(lines.size(), 4u);
  for (const auto& line : lines) EXPECT_NE(line.find("' failed: "), std::string::npos) << line;
  EXPECT_EQ(KVSmartDeviceDatabase::driveDatabase()->version, "previous");
  EXPECT_FALSE(std::filesystem::exists(KVSmartDeviceDatabase::dbPath()));
  EXPECT_EQ(notificationsDelivered(), 1);
}

TEST_F(UpdateTest, BodyThatIsNotUtf8CountsAsNoText) {
  auto server = loopbackServer({{"/smartdb/drivedb.h", kGoodFile + "\xff\xfe"}});
  KVSmartDeviceDatabase::setDownloadSources({server.base()});
  runUpdate();
  EXPECT_EQ(logLines(), std::vector<std::string>{"download from '" + server.base() +
                                                 "/smartdb/drivedb.h' failed: not UTF-8 text"});
  EXPECT_FALSE(std::filesystem::exists(KVSmartDeviceDatabase::dbPath()));
}

TEST_F(UpdateTest, UnwritableStorageEndsTheJobWithoutNotification) {
  auto server = loopbackServer({{"/smartdb/drivedb.h", kGoodFile}});
  KVSmartDeviceDatabase::setDownloadSources({server.base(), server.base()});
  // A folder where the stored file should be makes the rename fail.
  std::filesystem::create_directories(KVSmartDeviceDatabase::dbPath() + "/occupied");
  runUpdate();
  auto lines = logLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].rfind("copy database failed: " + KVSmartDeviceDatabase::dbPath(), 0), 0u)
      << lines[1];
  EXPECT_EQ(server.requested().size(), 1u);
  EXPECT_EQ(notificationsDelivered(), 0);
}

TEST_F(UpdateTest, TwoJobsRunOneAfterTheOther) {
  auto server = loopbackServer({});
  KVSmartDeviceDatabase::setDownloadSources({server.base(), server.base()});
  KVSmartDeviceDatabase::updateDB();
  KVSmartDeviceDatabase::updateDB();
  platform_.queues->wait(KVSmartDeviceDatabase::dlq());
  // Each job logs its two addresses before the next job starts.
  auto lines = logLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(machine_->calls("queue.async").size(), 2u);
  EXPECT_EQ(notificationsDelivered(), 2);
}

TEST_F(UpdateTest, CompletingADownloadMadeIntoTheTemporaryFile) {
  // No temp.h: a failed completion that still notifies.
  KVSmartDeviceDatabase::downloadDidFinish();
  EXPECT_EQ(logLines(), std::vector<std::string>{"download database failed "});
  EXPECT_EQ(notificationsDelivered(), 1);

  machine_->clearJournal();
  std::filesystem::create_directories(KVSmartDeviceDatabase::dbfolder());
  std::ofstream(KVSmartDeviceDatabase::tempPath()) << kGoodFile;
  KVSmartDeviceDatabase::downloadDidFinish();
  EXPECT_EQ(logLines(), std::vector<std::string>{"download database successful"});
  EXPECT_EQ(KVSmartDeviceDatabase::driveDatabase()->version, "2025-01-01 (Revision 5700)");
  EXPECT_TRUE(std::filesystem::exists(KVSmartDeviceDatabase::tempPath())) << "temp.h is left";

  machine_->clearJournal();
  KVSmartDeviceDatabase::downloadDidFailWithError("The network connection was lost.");
  EXPECT_EQ(logLines(),
            std::vector<std::string>{"download database failed: The network connection was lost."});
}

TEST_F(UpdateTest, OfflineQueuesNothing) {
  KVSmartDeviceDatabase::setOffline(true);
  KVSmartDeviceDatabase::updateDB();
  KVSmartDeviceDatabase::setOffline(false);
  EXPECT_TRUE(machine_->calls("queue.async").empty());
}

}  // namespace
}  // namespace sentrel
