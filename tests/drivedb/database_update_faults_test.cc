// The background update of the stored drive database when storing fails or
// a download answers something that is not a database. Downloads come from
// a fake that answers at once; files are real ones in a folder of the test,
// behind FaultFiles where a fault cannot be made for real (the tests run as
// root, whom permissions do not stop).
//
// Whatever fails, the stored file afterwards is exactly the old text or
// exactly the new one, the installed database is the one parsed from it,
// and the job ends in its documented answer: a failed store ends it without
// the "databaseUpdated" notification; addresses that all fail end it with
// the notification and the database unchanged.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include "support/fault_printers.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "sentrel/drive_database.h"
#include "sentrel/drivedb_parser.h"
#include "sentrel/sim_machine.h"
#include "support/fault_files.h"
#include "support/fault_texts.h"

namespace sentrel {
namespace {

using testing::FaultFiles;

using testing::drivedbText;
using testing::kDrivedbHeader;

std::string versionOf(int revision) {
  return testing::drivedbVersion(revision);
}

const std::string kOld = drivedbText(5600, 40);
const std::string kNew = drivedbText(5700, 60);
const std::string kBundled = drivedbText(5500, 20);

// Answers at once from a table of address prefixes; an address it does not
// list fails.
class FakeDownloads final : public platform::Downloads {
 public:
  void serve(std::string prefix, platform::DownloadResult result) {
    std::lock_guard lock(mutex_);
    answers_.emplace_back(std::move(prefix), std::move(result));
  }
  void start(std::string_view url, std::size_t,
             std::function<void(platform::DownloadResult)> done) override {
    platform::DownloadResult result{
        std::nullopt, platform::failureOf(platform::Failure::Kind::noResponse, std::string(url),
                                          "the address did not answer")};
    {
      std::lock_guard lock(mutex_);
      requested_.emplace_back(url);
      for (const auto& [prefix, answer] : answers_)
        if (url.starts_with(prefix)) result = answer;
    }
    done(std::move(result));
  }
  std::vector<std::string> requested() {
    std::lock_guard lock(mutex_);
    return requested_;
  }
  void reset() {
    std::lock_guard lock(mutex_);
    answers_.clear();
    requested_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<std::string, platform::DownloadResult>> answers_;
  std::vector<std::string> requested_;
};

// Files may grow to `bytes` bytes while this lives: a write past that fails
// with EFBIG, as on a full disk (SIGXFSZ ignored meanwhile).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ok_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }
  bool ok() const { return ok_; }

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
  bool ok_ = false;
};

constexpr const char* kFirst = "http://first.test";
constexpr const char* kSecond = "http://second.test";

class UpdateFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("sentrel-update-faults-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_ / "resources/driveDatabase");
    std::ofstream(folder_ / "resources/driveDatabase/drivedb.h", std::ios::binary) << kBundled;
    platform::Failure error;
    machine_ = sim::Machine::fromJsonText(R"({"host": {"resources": "resources"}})",
                                          folder_.string(), &error);
    ASSERT_TRUE(machine_) << error;
    platform_ = machine_->platform();
    files_ = std::make_unique<FaultFiles>(*platform_.files);
    platform_.files = files_.get();
    platform_.downloads = &downloads_;
    installed_.emplace(platform_);
    saved_ = KVSmartDeviceDatabase::downloadSources();
    KVSmartDeviceDatabase::setDownloadSources({kFirst, kSecond});
    platform_.notifications->observe(KVSmartDeviceDatabase::kDatabaseUpdated,
                                     [this] { ++notified_; });
  }
  void TearDown() override {
    platform_.queues->wait(KVSmartDeviceDatabase::dlq());
    KVSmartDeviceDatabase::setDownloadSources(saved_);
    installed_.reset();
    machine_.reset();
    std::filesystem::remove_all(folder_);
  }

  // A fresh start for one case: the old database stored and installed, no
  // fault, empty journal.
  void storeOld() {
    files_->failWrites(FaultFiles::Write::pass);
    downloads_.reset();
    std::filesystem::remove_all(KVSmartDeviceDatabase::dbfolder());
    std::filesystem::create_directories(KVSmartDeviceDatabase::dbfolder());
    std::ofstream(KVSmartDeviceDatabase::dbPath(), std::ios::binary) << kOld;
    ASSERT_TRUE(KVSmartDeviceDatabase::unpackDriveDBFile());
    ASSERT_EQ(installedVersion(), versionOf(5600));
    machine_->clearJournal();
    notified_ = 0;
  }

  // Runs one update job to its end and delivers the main queue.
  void runUpdate() {
    KVSmartDeviceDatabase::updateDB();
    platform_.queues->wait(KVSmartDeviceDatabase::dlq());
    platform_.queues->drainMain();
  }

  std::string installedVersion() {
    auto db = KVSmartDeviceDatabase::driveDatabase();
    return db ? db->version : "(none)";
  }
  // Which text the stored file holds: "old", "new", or what else is there.
  std::string stored() {
    std::ifstream in(KVSmartDeviceDatabase::dbPath(), std::ios::binary);
    if (!in) return "(no file)";
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text == kOld) return "old";
    if (text == kNew) return "new";
    return std::to_string(text.size()) + " other bytes: " + text.substr(0, 60);
  }
  // The stored file and the parsed form its first lookup wrote beside it.
  inline static const std::vector<std::string> kStoredFiles{"drivedb.cache", "drivedb.h"};
  std::vector<std::string> folderListing() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(KVSmartDeviceDatabase::dbfolder()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> logLines() {
    std::vector<std::string> out;
    for (const Dict& d : machine_->calls("nslog")) out.push_back(d.stringOr("line"));
    return out;
  }
  static std::string address(const char* base) { return std::string(base) + "/smartdb/drivedb.h"; }

  std::filesystem::path folder_;
  std::unique_ptr<sim::Machine> machine_;
  std::unique_ptr<FaultFiles> files_;
  FakeDownloads downloads_;
  platform::Platform platform_;
  std::optional<platform::ScopedPlatform> installed_;
  std::vector<std::string> saved_;
  int notified_ = 0;
};

// The store fails at each of its steps; the old file and database stay
// whole, and the next update (the fault gone) stores the new one.
TEST_F(UpdateFaultsTest, AFailedStoreKeepsTheOldDatabaseWhole) {
  struct Case {
    const char* name;
    FaultFiles::Write mode;
    std::size_t bytes;
    const char* reason;
  } cases[] = {
      {"folder not writable", FaultFiles::Write::refuse, 0,
       "cannot create a temporary file: Permission denied"},
      {"disk full before the first byte", FaultFiles::Write::fullAfter, 0,
       "write failed: No space left on device"},
      {"disk full after one byte", FaultFiles::Write::fullAfter, 1,
       "write failed: No space left on device"},
      {"disk full half way", FaultFiles::Write::fullAfter, kNew.size() / 2,
       "write failed: No space left on device"},
      {"disk full one byte short", FaultFiles::Write::fullAfter, kNew.size() - 1,
       "write failed: No space left on device"},
      {"rename refused", FaultFiles::Write::renameFails, 0, "rename failed: Permission denied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    storeOld();
    downloads_.serve(kFirst, {kNew, {}});
    downloads_.serve(kSecond, {kNew, {}});
    files_->failWrites(c.mode, c.bytes);
    runUpdate();

    EXPECT_EQ(logLines(),
              (std::vector<std::string>{
                  "download from '" + address(kFirst) + "' successful",
                  "copy database failed: " + KVSmartDeviceDatabase::dbPath() + ": " + c.reason}));
    EXPECT_EQ(downloads_.requested().size(), 1u) << "a failed store ends the job";
    EXPECT_EQ(stored(), "old");
    EXPECT_EQ(folderListing(), kStoredFiles);
    EXPECT_EQ(installedVersion(), versionOf(5600));
    EXPECT_EQ(notified_, 0);
    if (c.mode == FaultFiles::Write::fullAfter) {
      EXPECT_EQ(files_->bytesWrittenBeforeFailing(), c.bytes) << "the write really began";
    }

    files_->failWrites(FaultFiles::Write::pass);
    machine_->clearJournal();
    runUpdate();
    EXPECT_EQ(stored(), "new");
    EXPECT_EQ(installedVersion(), versionOf(5700));
    EXPECT_EQ(notified_, 1);
  }
}

// The Linux file backend itself on a disk that fills up: the file size
// limit makes the real write fail part way.
TEST_F(UpdateFaultsTest, ADiskThatFillsUpLeavesTheOldFileAndNoTemporaryFile) {
  for (std::size_t limit : {std::size_t{0}, std::size_t{1}, kNew.size() / 2, kNew.size() - 1}) {
    SCOPED_TRACE("file size limit " + std::to_string(limit));
    storeOld();
    downloads_.serve(kFirst, {kNew, {}});
    {
      FileSizeLimit full(limit);
      ASSERT_TRUE(full.ok());
      runUpdate();
    }
    EXPECT_EQ(logLines(),
              (std::vector<std::string>{"download from '" + address(kFirst) + "' successful",
                                        "copy database failed: " + KVSmartDeviceDatabase::dbPath() +
                                            ": write failed: File too large"}));
    EXPECT_EQ(stored(), "old");
    EXPECT_EQ(folderListing(), kStoredFiles);
    EXPECT_EQ(installedVersion(), versionOf(5600));
    EXPECT_EQ(notified_, 0);
  }
}

// The storage folder cannot be made: a file stands where a folder above it
// should be.
TEST_F(UpdateFaultsTest, AFolderThatCannotBeMadeEndsTheJobAndKeepsTheInstalledDatabase) {
  const std::filesystem::path support =
      std::filesystem::path(KVSmartDeviceDatabase::dbfolder()).parent_path();
  std::filesystem::create_directories(support.parent_path());
  std::ofstream(support, std::ios::binary) << "in the way";
  KVSmartDeviceDatabase::installDriveDatabase(*parseDriveDatabase(kOld));
  downloads_.serve(kFirst, {kNew, {}});
  runUpdate();
  EXPECT_EQ(logLines(),
            (std::vector<std::string>{"download from '" + address(kFirst) + "' successful",
                                      "copy database failed: " + KVSmartDeviceDatabase::dbPath() +
                                          ": cannot create a temporary file: Not a directory"}));
  EXPECT_EQ(installedVersion(), versionOf(5600));
  EXPECT_EQ(notified_, 0);
  std::ifstream in(support, std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()),
            "in the way");
  EXPECT_NE(KVSmartDeviceDatabase::lookupDriveModel("ACME R5600-3", "1.0"), nullptr)
      << "lookups go on with the installed database";
}

// The new file is stored but cannot be read back for parsing: the parse
// takes the host's copy, as it does for any stored file it cannot read.
TEST_F(UpdateFaultsTest, AStoredFileThatCannotBeReadBackInstallsTheHostCopy) {
  storeOld();
  downloads_.serve(kFirst, {kNew, {}});
  files_->failReadsOf(KVSmartDeviceDatabase::dbPath());
  runUpdate();
  EXPECT_EQ(logLines(),
            std::vector<std::string>{"download from '" + address(kFirst) + "' successful"});
  EXPECT_EQ(stored(), "new");
  EXPECT_EQ(installedVersion(), versionOf(5500));
  EXPECT_EQ(notified_, 1);
}

// Bodies that are not a whole drive database, at the first address; the
// second address fails. Nothing is stored, the log says why, and the
// notification still comes. A text passes only when it carries the
// validation line, parses with at least one drive entry and closes its
// table: a page that only quotes the line, or a file cut short, is refused.
TEST_F(UpdateFaultsTest, BodiesThatAreNotAWholeDatabaseAreNeitherStoredNorParsed) {
  std::string noise;
  std::uint32_t x = 12345;
  for (int i = 0; i < 4096; ++i) {
    x = x * 1103515245u + 12345u;
    noise.push_back(static_cast<char>(x >> 24));
  }
  const std::string& header = kDrivedbHeader;
  const std::string versionOnly = kNew.substr(0, kNew.find("  { \"DEFAULT\"")) + "};\n";
  struct Case {
    const char* name;
    std::string body;
    const char* reason;
  } cases[] = {
      {"an empty body", "", "no validation line"},
      {"plain text", "Not a drive database.\n", "no validation line"},
      {"binary noise", noise, "not UTF-8 text"},
      {"the header line inside binary noise", noise + header + noise, "not UTF-8 text"},
      {"an HTML error page",
       "<!DOCTYPE html>\n<html><head><title>503 Service Unavailable</title></head>\n"
       "<body><h1>Service Unavailable</h1></body></html>\n",
       "no validation line"},
      {"a page that quotes the validation line",
       "<html><body><pre>\n" + header + "</pre><p>The file has moved.</p></body></html>\n",
       "does not parse as a drive database (no version marker)"},
      {"the header and nothing after it", kNew.substr(0, kNew.find("const drive_settings")),
       "does not parse as a drive database (no version marker)"},
      {"the version entry alone", versionOnly,
       "does not parse as a drive database (no drive entry)"},
      {"a file cut inside an entry", kNew.substr(0, kNew.size() / 2),
       "ends before its table does (cut short)"},
      {"a file cut after an entry", kNew.substr(0, kNew.rfind("  {")),
       "ends before its table does (cut short)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    storeOld();
    downloads_.serve(kFirst, {c.body, {}});
    runUpdate();
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "download from '" + address(kFirst) + "' failed: " + c.reason +
                                  (std::string_view(c.reason) == "no validation line"
                                       ? " (\"* drivedb.h - smartmontools drive database file\")"
                                       : ""),
                              "download from '" + std::string(kSecond) +
                                  "/p/smartmontools/code/5728/tree//branches/RELEASE_7_5_DRIVEDB/"
                                  "smartmontools/drivedb.h?format=raw' failed: the address did "
                                  "not answer"}));
    EXPECT_EQ(stored(), "old");
    EXPECT_EQ(installedVersion(), versionOf(5600));
    EXPECT_EQ(notified_, 1);
    // The stored file still parses: a later start finds its database.
    KVSmartDeviceDatabase::installDriveDatabase(DriveDatabase{.version = "other", .drives = {}});
    EXPECT_TRUE(KVSmartDeviceDatabase::unpackDriveDBFile());
    EXPECT_EQ(installedVersion(), versionOf(5600));
  }
}

// The same for a download a caller made into the temporary file.
TEST_F(UpdateFaultsTest, ATemporaryFileThatIsNotADatabaseIsNotStored) {
  for (const std::string& body : {std::string("\xff\xfe\x00", 3), std::string("plain text\n")}) {
    storeOld();
    std::ofstream(KVSmartDeviceDatabase::tempPath(), std::ios::binary) << body;
    KVSmartDeviceDatabase::downloadDidFinish();
    platform_.queues->drainMain();
    EXPECT_EQ(logLines(), std::vector<std::string>{"download database failed "});
    EXPECT_EQ(stored(), "old");
    EXPECT_EQ(installedVersion(), versionOf(5600));
    EXPECT_EQ(notified_, 1);
  }
}

// A store that fails when the download was made into the temporary file
// ends without the notification too, and keeps the old file.
TEST_F(UpdateFaultsTest, AFailedStoreOfTheTemporaryFileKeepsTheOldFile) {
  storeOld();
  std::ofstream(KVSmartDeviceDatabase::tempPath(), std::ios::binary) << kNew;
  files_->failWrites(FaultFiles::Write::fullAfter, kNew.size() / 3);
  KVSmartDeviceDatabase::downloadDidFinish();
  platform_.queues->drainMain();
  EXPECT_EQ(logLines(),
            (std::vector<std::string>{"download database successful",
                                      "copy database failed: " + KVSmartDeviceDatabase::dbPath() +
                                          ": write failed: No space left on device"}));
  EXPECT_EQ(stored(), "old");
  EXPECT_EQ(installedVersion(), versionOf(5600));
  EXPECT_EQ(notified_, 0);
}

}  // namespace
}  // namespace sentrel
