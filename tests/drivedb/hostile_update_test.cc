// The database update against a hostile server on loopback: each bad
// answer is a row fed to one update, which must refuse it with the right
// reason and leave the stored file byte for byte as it was, its database
// still answering lookups. A run of every bad answer in one job changes
// nothing either, and the next good one is stored. With a keyring, only a
// text the keyring's key signed is stored (checked by the real gpgv against
// the keys in signature/, made once with gpg for these tests).
#include <gtest/gtest.h>

#include <algorithm>

#include "support/fault_printers.h"

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/linux/linux_platform.h"
#include "platform/linux/linux_system.h"
#include "sentrel/drive_database.h"
#include "sentrel/sim_machine.h"
#include "support/fault_http_server.h"
#include "support/fault_texts.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::FaultHttpServer;
using testing::Misbehaviour;
using testing::Route;

const std::string kOld = testing::drivedbText(5600, 40);
const std::string kNew = testing::drivedbText(5700, 60);
constexpr std::size_t kLimit = 64 << 10;

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string signatureFile(const char* name) {
  return std::string(SENTREL_SOURCE_DIR) + "/tests/drivedb/signature/" + name;
}

// The update polls its download every 300 ms; here every 1 ms.
class BriefSleeps final : public platform::Clock {
 public:
  void sleep(std::chrono::milliseconds) override { std::this_thread::sleep_for(1ms); }
};

class HostileUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("sentrel-hostile-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    platform::Failure error;
    machine_ = sim::Machine::fromJsonText("{}", folder_.string(), &error);
    ASSERT_TRUE(machine_) << error;
    platform_ = machine_->platform();
    platform_.downloads = &platform::linuxDownloads();
    platform_.processes = &processes_;
    platform_.clock = &clock_;
    installed_.emplace(platform_);
    savedSources_ = KVSmartDeviceDatabase::downloadSources();
    savedTimeouts_ = platform::downloadTimeouts();
    platform::setDownloadTimeouts({.connect = 1000ms, .total = 1500ms});
    KVSmartDeviceDatabase::setMaximumDownloadSize(kLimit);
    fs::create_directories(KVSmartDeviceDatabase::dbfolder());
    std::ofstream(KVSmartDeviceDatabase::dbPath(), std::ios::binary) << kOld;
    ASSERT_TRUE(KVSmartDeviceDatabase::unpackDriveDBFile());
  }
  void TearDown() override {
    platform_.queues->wait(KVSmartDeviceDatabase::dlq());
    KVSmartDeviceDatabase::setDownloadSources(savedSources_);
    KVSmartDeviceDatabase::setMaximumDownloadSize(std::size_t{8} << 20);
    KVSmartDeviceDatabase::setSignatureKeyring("");
    platform::setDownloadTimeouts(savedTimeouts_);
    installed_.reset();
    machine_.reset();
    fs::remove_all(folder_);
  }

  DatabaseUpdateReport update(std::vector<std::string> sources) {
    KVSmartDeviceDatabase::setDownloadSources(std::move(sources));
    KVSmartDeviceDatabase::updateDB();
    platform_.queues->wait(KVSmartDeviceDatabase::dlq());
    platform_.queues->drainMain();
    return KVSmartDeviceDatabase::lastUpdateReport();
  }
  // The stored file is the old one, and its database answers.
  void expectOldDatabase() {
    EXPECT_TRUE(readAll(KVSmartDeviceDatabase::dbPath()) == kOld) << "the stored file changed";
    EXPECT_NE(KVSmartDeviceDatabase::lookupDriveModel("ACME R5600-7", ""), nullptr);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(KVSmartDeviceDatabase::dbfolder()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    // Beside the file only its parsed form, which the lookup wrote.
    EXPECT_EQ(names, (std::vector<std::string>{"drivedb.cache", "drivedb.h"}))
        << "nothing else is left there";
  }

  fs::path folder_;
  std::unique_ptr<sim::Machine> machine_;
  platform::LinuxProcesses processes_;
  BriefSleeps clock_;
  platform::Platform platform_;
  std::optional<platform::ScopedPlatform> installed_;
  std::vector<std::string> savedSources_;
  platform::DownloadTimeouts savedTimeouts_;
};

struct HostileRoute {
  const char* name;
  Misbehaviour misbehaviour;
  std::string body;
  const char* reason;  // the start of the reason the update gives
};

std::vector<HostileRoute> hostileRoutes(const std::string& elsewhere) {
  const std::string header = testing::kDrivedbHeader;
  std::string big = kNew;
  while (big.size() <= kLimit) big += "/* padding */\n";
  return {
      {"an error page", Misbehaviour::notFound, "<html>Not Found</html>",
       "the server answered with HTTP status 404"},
      {"a server in trouble", Misbehaviour::serverError, kNew,
       "the server answered with HTTP status 503"},
      {"the validation line, then garbage", Misbehaviour::none, header + "\x01garbage\n",
       "does not parse as a drive database"},
      {"a page without the validation line", Misbehaviour::none, "<html>Moved</html>\n",
       "no validation line"},
      {"a text that is not UTF-8", Misbehaviour::none, kNew + "\xff\xfe", "not UTF-8 text"},
      {"a body cut short without a length", Misbehaviour::closeMidBody, kNew,
       "ends before its table does"},
      {"a whole database past the size limit", Misbehaviour::none, big, "larger than the limit"},
      {"a body without end", Misbehaviour::endless, kNew, "larger than the limit"},
      {"a length of 512 MiB", Misbehaviour::hugeLength, kNew, "larger than the limit"},
      {"a redirect of a plain address", Misbehaviour::redirect, elsewhere,
       "the server answered with HTTP status 302"},
      {"no answer", Misbehaviour::hang, kNew, "Operation timed out"},
  };
}

// Row i served below "/i/".
std::vector<Route> numbered(const std::vector<HostileRoute>& rows) {
  std::vector<Route> routes;
  for (std::size_t i = 0; i < rows.size(); ++i)
    routes.emplace_back("/" + std::to_string(i) + "/", rows[i].misbehaviour, rows[i].body);
  return routes;
}

TEST_F(HostileUpdateTest, EveryBadAnswerIsRefusedWithItsReasonAndTheStoredFileStays) {
  FaultHttpServer good({Route{"/", Misbehaviour::none, kNew}});
  const auto rows = hostileRoutes(good.base() + "/smartdb/drivedb.h");
  FaultHttpServer server(numbered(rows));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    const DatabaseUpdateReport report = update({server.base() + "/" + std::to_string(i)});
    ASSERT_EQ(report.attempts.size(), 1u);
    EXPECT_EQ(report.attempts[0].failure.reason.rfind(rows[i].reason, 0), 0u)
        << report.attempts[0].failure.message();
    EXPECT_FALSE(report.stored);
    const auto lines = machine_->calls("nslog");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().stringOr("line"), "download from '" + report.attempts[0].address +
                                                 "' failed: " + report.attempts[0].failure.reason);
    expectOldDatabase();
  }
  EXPECT_TRUE(good.requested().empty()) << "no redirect was followed";
}

TEST_F(HostileUpdateTest, AddressesThatAreNotHttpsOrGivenAsHttpAreNotFetched) {
  for (const char* source : {"file:///etc", "ftp://127.0.0.1", "127.0.0.1:8080", "//example.org"}) {
    SCOPED_TRACE(source);
    const DatabaseUpdateReport report = update({source});
    ASSERT_EQ(report.attempts.size(), 1u);
    // Refused by the update itself, before the transport was asked.
    EXPECT_EQ(report.attempts[0].failure.reason,
              "not an https:// address (http:// only when given as such)");
    expectOldDatabase();
  }
}

TEST_F(HostileUpdateTest, AfterAnyRunOfBadAnswersTheNextGoodOneIsStored) {
  FaultHttpServer good({Route{"/", Misbehaviour::none, kNew}});
  const auto rows = hostileRoutes(good.base() + "/smartdb/drivedb.h");
  FaultHttpServer server(numbered(rows));
  // Every bad answer in one job, last first: nothing changes.
  std::vector<std::string> sources;
  for (std::size_t i = rows.size(); i-- > 0;)
    sources.push_back(server.base() + "/" + std::to_string(i));
  const DatabaseUpdateReport refused = update(sources);
  EXPECT_EQ(refused.attempts.size(), rows.size());
  for (const auto& attempt : refused.attempts) EXPECT_TRUE(attempt.failure.failed());
  expectOldDatabase();

  sources.push_back(good.base());
  const DatabaseUpdateReport stored = update(sources);
  EXPECT_TRUE(stored.stored);
  EXPECT_FALSE(stored.attempts.back().failure.failed());
  EXPECT_TRUE(readAll(KVSmartDeviceDatabase::dbPath()) == kNew);
  EXPECT_NE(KVSmartDeviceDatabase::lookupDriveModel("ACME R5700-42", ""), nullptr);
}

// A signed file and its signature where smartmontools publishes them; the
// signature covers the text with its Id keyword unexpanded.
TEST_F(HostileUpdateTest, WithAKeyringOnlyATextItsKeySignedIsStored) {
  if (!fs::exists("/usr/bin/gpgv")) GTEST_SKIP() << "gpgv is not installed";
  const std::string signedText = readAll(signatureFile("drivedb.h"));
  const std::string signature = readAll(signatureFile("drivedb.h.raw.asc"));
  std::string altered = signedText;
  altered.replace(altered.find("ACME S5800"), 10, "ACME X5800");
  FaultHttpServer server(
      {Route{"/good/smartdb/drivedb.h.raw.asc", Misbehaviour::none, signature},
       Route{"/good/", Misbehaviour::none, signedText},
       Route{"/altered/smartdb/drivedb.h.raw.asc", Misbehaviour::none, signature},
       Route{"/altered/", Misbehaviour::none, altered},
       Route{"/unsigned/smartdb/drivedb.h.raw.asc", Misbehaviour::notFound, ""},
       Route{"/unsigned/", Misbehaviour::none, signedText}});
  struct Case {
    const char* name;
    const char* keyring;
    const char* source;
    const char* reason;  // nothing: stored
  } cases[] = {
      {"a text changed after signing", "signer.gpg", "/altered",
       "signature: the signature does not match the file"},
      {"no signature published", "signer.gpg", "/unsigned", "signature: http://127.0.0.1"},
      {"a key the keyring does not hold", "stranger.gpg", "/good",
       "signature: signed with a key the keyring does not hold"},
      {"the keyring's own key", "signer.gpg", "/good", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KVSmartDeviceDatabase::setSignatureKeyring(signatureFile(c.keyring));
    const DatabaseUpdateReport report = update({server.base() + c.source});
    ASSERT_EQ(report.attempts.size(), 1u);
    if (c.reason) {
      EXPECT_EQ(report.attempts[0].failure.reason.rfind(c.reason, 0), 0u)
          << report.attempts[0].failure.message();
      expectOldDatabase();
    } else {
      EXPECT_TRUE(report.stored) << report.attempts[0].failure.message();
      EXPECT_TRUE(readAll(KVSmartDeviceDatabase::dbPath()) == signedText);
      EXPECT_NE(KVSmartDeviceDatabase::lookupDriveModel("ACME S5800", ""), nullptr);
    }
  }
}

}  // namespace
}  // namespace sentrel
