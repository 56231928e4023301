// Downloads through the real libcurl transport from servers on 127.0.0.1
// that hang, stop half way or answer garbage. The transport's time-outs are
// set to about a second, so a hang ends in a failed download, and the
// database update goes on to its next address.
//
// No test measures time. Each waits for its answer with a guard far past the
// time-outs, which only turns a hang into a failure instead of a stuck run.
#include <gtest/gtest.h>

#include "support/fault_printers.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <future>

#include "platform/linux/linux_platform.h"
#include "sentrel/drive_database.h"
#include "sentrel/sim_machine.h"
#include "support/fault_http_server.h"
#include "support/fault_texts.h"

namespace sentrel {
namespace {

using namespace std::chrono_literals;
using testing::FaultHttpServer;
using testing::Misbehaviour;
using testing::Route;

constexpr auto kGuard = 60s;
// Short enough for a test, long enough for a loaded machine to answer on loopback.
constexpr platform::DownloadTimeouts kShortTimeouts{.connect = 1000ms, .total = 1500ms};

const std::string kOld = testing::drivedbText(5600, 40);
const std::string kNew = testing::drivedbText(5700, 60);

bool mentionsTimeout(std::string error) {
  std::transform(error.begin(), error.end(), error.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return error.find("timeout") != std::string::npos || error.find("timed out") != std::string::npos;
}

// A log line of an address that failed, with its reason cut off.
std::string withoutReason(const std::string& line) {
  const std::size_t reason = line.find("' failed: ");
  return reason == std::string::npos ? line : line.substr(0, reason) + "' failed";
}

class ShortTimeouts {
 public:
  ShortTimeouts() : saved_(platform::downloadTimeouts()) {
    platform::setDownloadTimeouts(kShortTimeouts);
  }
  ~ShortTimeouts() { platform::setDownloadTimeouts(saved_); }

 private:
  platform::DownloadTimeouts saved_;
};

// One download through the Linux transport; nothing when its completion
// did not come within the guard.
std::optional<platform::DownloadResult> fetch(const std::string& url,
                                              std::size_t maxBytes = std::size_t{8} << 20) {
  auto done = std::make_shared<std::promise<platform::DownloadResult>>();
  std::future<platform::DownloadResult> result = done->get_future();
  platform::linuxDownloads().start(
      url, maxBytes, [done](platform::DownloadResult r) { done->set_value(std::move(r)); });
  if (result.wait_for(kGuard) != std::future_status::ready) return std::nullopt;
  return result.get();
}

TEST(DownloadTransportFaultsTest, TheDefaultTimeoutsAreTenAndOneHundredTwentySeconds) {
  platform::DownloadTimeouts defaults;
  EXPECT_EQ(defaults.connect, 10s);
  EXPECT_EQ(defaults.total, 120s);
}

// Each misbehaviour of a server ends in the bytes it sent or in a failure
// that says why (a time-out, an HTTP status, a body past the limit).
TEST(DownloadTransportFaultsTest, EachMisbehaviourEndsInAFailureOrTheBytesSent) {
  ShortTimeouts limits;
  const std::string cut = kNew.substr(0, kNew.size() / 2);
  const std::size_t limit = kNew.size() * 3;
  struct Case {
    const char* name;
    Misbehaviour misbehaviour;
    std::optional<std::string> body;  // what the transport hands over
    const char* reason;               // part of the failure's reason, in lower case
  } cases[] = {
      {"a whole answer", Misbehaviour::none, kNew, nullptr},
      {"no answer at all", Misbehaviour::hang, std::nullopt, "timed out"},
      {"a body that stops half way", Misbehaviour::stallMidBody, std::nullopt, "timed out"},
      {"a Content-Length past the body", Misbehaviour::longContentLength, std::nullopt, "transfer"},
      {"a chunked body cut half way", Misbehaviour::chunkedCut, std::nullopt, "transfer"},
      {"an answer that is not HTTP", Misbehaviour::notHttp, std::nullopt, "http"},
      {"a connection closed without a byte", Misbehaviour::closeAtOnce, std::nullopt, "empty"},
      // Without a length or chunks, the end of the connection is the end of
      // the body: nothing in HTTP tells this from a whole answer.
      {"a body without a length cut half way", Misbehaviour::closeMidBody, cut, nullptr},
      {"an error page", Misbehaviour::notFound, std::nullopt, "http status 404"},
      {"a server in trouble", Misbehaviour::serverError, std::nullopt, "http status 503"},
      {"a body without end", Misbehaviour::endless, std::nullopt, "larger than the limit"},
      {"a length past the limit", Misbehaviour::hugeLength, std::nullopt, "larger than the limit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FaultHttpServer server({Route{"/", c.misbehaviour, kNew}});
    std::optional<platform::DownloadResult> result = fetch(server.base() + "/drivedb.h", limit);
    ASSERT_TRUE(result) << "the download did not end within the guard";
    EXPECT_EQ(result->body.has_value(), c.body.has_value());
    if (result->body && c.body) {
      EXPECT_TRUE(*result->body == *c.body) << result->body->size() << " bytes";
    }
    if (!c.body) {
      EXPECT_TRUE(result->failure.failed());
      std::string reason = result->failure.reason;
      std::transform(reason.begin(), reason.end(), reason.begin(),
                     [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
      EXPECT_NE(reason.find(c.reason), std::string::npos) << result->failure.message();
    }
  }
}

// An http:// address is fetched as given, but never followed anywhere; and
// nothing but http:// and https:// is fetched at all.
TEST(DownloadTransportFaultsTest, PlainHttpIsNeverRedirectedAndOtherSchemesAreRefused) {
  FaultHttpServer target({Route{"/", Misbehaviour::none, kNew}});
  FaultHttpServer server({Route{"/", Misbehaviour::redirect, target.base() + "/drivedb.h"}});
  std::optional<platform::DownloadResult> redirected = fetch(server.base() + "/drivedb.h");
  ASSERT_TRUE(redirected);
  EXPECT_FALSE(redirected->body);
  EXPECT_EQ(redirected->failure.reason, "the server answered with HTTP status 302");
  EXPECT_TRUE(target.requested().empty()) << "the redirect was not followed";

  for (const std::string& url :
       std::vector<std::string>{"file:///etc/passwd", "ftp://127.0.0.1/drivedb.h",
                                "127.0.0.1:" + server.base().substr(17) + "/drivedb.h"}) {
    SCOPED_TRACE(url);
    std::optional<platform::DownloadResult> refused = fetch(url);
    ASSERT_TRUE(refused);
    EXPECT_FALSE(refused->body);
    EXPECT_EQ(refused->failure.reason.rfind("refused: only https://", 0), 0u)
        << refused->failure.message();
  }
  EXPECT_EQ(server.requested().size(), 1u) << "the address without a scheme was not fetched";
}

TEST(DownloadTransportFaultsTest, AHostThatNeverCompletesTheConnectionTimesOut) {
  ShortTimeouts limits;
  testing::UnreachableServer server;
  std::optional<platform::DownloadResult> result = fetch(server.base() + "/drivedb.h");
  ASSERT_TRUE(result) << "the download did not end within the guard";
  EXPECT_FALSE(result->body);
  EXPECT_TRUE(mentionsTimeout(result->failure.reason)) << result->failure.message();
}

// The update's poll of its download: every 300 ms sleep it asks for is
// counted, not slept; a millisecond's pause keeps the poll from spinning
// while the real transport runs.
class PollClock final : public platform::Clock {
 public:
  void sleep(std::chrono::milliseconds duration) override {
    {
      std::lock_guard lock(mutex_);
      asked_.push_back(duration);
    }
    std::this_thread::sleep_for(1ms);
  }
  std::vector<std::chrono::milliseconds> asked() {
    std::lock_guard lock(mutex_);
    return asked_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::chrono::milliseconds> asked_;
};

class UpdateDownloadFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("sentrel-download-faults-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    platform::Failure error;
    machine_ = sim::Machine::fromJsonText("{}", folder_.string(), &error);
    ASSERT_TRUE(machine_) << error;
    platform_ = machine_->platform();
    platform_.downloads = &platform::linuxDownloads();
    platform_.clock = &clock_;
    installed_.emplace(platform_);
    saved_ = KVSmartDeviceDatabase::downloadSources();
    platform_.notifications->observe(KVSmartDeviceDatabase::kDatabaseUpdated,
                                     [this] { ++notified_; });
    std::filesystem::create_directories(KVSmartDeviceDatabase::dbfolder());
    std::ofstream(KVSmartDeviceDatabase::dbPath(), std::ios::binary) << kOld;
    ASSERT_TRUE(KVSmartDeviceDatabase::unpackDriveDBFile());
  }
  void TearDown() override {
    platform_.queues->wait(KVSmartDeviceDatabase::dlq());
    KVSmartDeviceDatabase::setDownloadSources(saved_);
    installed_.reset();
    machine_.reset();
    std::filesystem::remove_all(folder_);
  }

  // Runs one update job; false when it did not end within the guard.
  bool runUpdate() {
    KVSmartDeviceDatabase::updateDB();
    auto ended = std::async(std::launch::async,
                            [this] { platform_.queues->wait(KVSmartDeviceDatabase::dlq()); });
    if (ended.wait_for(kGuard) != std::future_status::ready) return false;
    platform_.queues->drainMain();
    return true;
  }
  std::vector<std::string> logLines() {
    std::vector<std::string> out;
    for (const Dict& d : machine_->calls("nslog")) out.push_back(d.stringOr("line"));
    return out;
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
  std::string installedVersion() {
    auto db = KVSmartDeviceDatabase::driveDatabase();
    return db ? db->version : "(none)";
  }

  ShortTimeouts limits_;
  std::filesystem::path folder_;
  std::unique_ptr<sim::Machine> machine_;
  PollClock clock_;
  platform::Platform platform_;
  std::optional<platform::ScopedPlatform> installed_;
  std::vector<std::string> saved_;
  int notified_ = 0;
};

// The addresses of a list of bases, each with the fixed path of its place
// (the fourth path for every place after it).
std::vector<std::string> addressesOf(const std::vector<std::string>& bases) {
  static const char* paths[] = {
      "/smartdb/drivedb.h",
      ("/p/smartmontools/code/5728/tree//branches/RELEASE_7_5_DRIVEDB/smartmontools/"
       "drivedb.h?format=raw"),
      "/smartmontools/smartmontools/refs/heads/main/lib/drivedb.h",
      "/mirror/smartmontools/raw/master/drivedb.h",
  };
  std::vector<std::string> out;
  for (std::size_t i = 0; i < bases.size(); ++i)
    out.push_back(bases[i] + paths[std::min<std::size_t>(i, 3)]);
  return out;
}

TEST_F(UpdateDownloadFaultsTest, AddressesThatHangOrBreakFailAndTheNextOneDelivers) {
  FaultHttpServer server({Route{"/hang/", Misbehaviour::hang, kNew},
                          Route{"/stall/", Misbehaviour::stallMidBody, kNew},
                          Route{"/short/", Misbehaviour::longContentLength, kNew},
                          Route{"/good/", Misbehaviour::none, kNew}});
  const std::vector<std::string> bases{server.base() + "/hang", server.base() + "/stall",
                                       server.base() + "/short", server.base() + "/good"};
  KVSmartDeviceDatabase::setDownloadSources(bases);
  ASSERT_TRUE(runUpdate()) << "the update did not end within the guard";
  const auto urls = addressesOf(bases);
  std::vector<std::string> lines;
  for (const std::string& line : logLines()) lines.push_back(withoutReason(line));
  EXPECT_EQ(lines, (std::vector<std::string>{"download from '" + urls[0] + "' failed",
                                             "download from '" + urls[1] + "' failed",
                                             "download from '" + urls[2] + "' failed",
                                             "download from '" + urls[3] + "' successful"}));
  EXPECT_EQ(stored(), "new");
  EXPECT_EQ(installedVersion(), testing::drivedbVersion(5700));
  EXPECT_EQ(notified_, 1);
  const auto asked = clock_.asked();
  EXPECT_FALSE(asked.empty()) << "the job polled its downloads";
  for (auto d : asked) EXPECT_EQ(d, 300ms);
}

TEST_F(UpdateDownloadFaultsTest, EveryAddressFailingInADifferentWayLeavesTheDatabaseAlone) {
  FaultHttpServer server({Route{"/hang/", Misbehaviour::hang, kNew},
                          Route{"/chunked/", Misbehaviour::chunkedCut, kNew},
                          Route{"/garbage/", Misbehaviour::notHttp, kNew},
                          // Cut before the validation line arrived.
                          Route{"/cut/", Misbehaviour::closeMidBody, kNew, 10}});
  testing::UnreachableServer unreachable;
  const std::vector<std::string> bases{server.base() + "/hang", unreachable.base(),
                                       server.base() + "/chunked", server.base() + "/garbage",
                                       server.base() + "/cut"};
  KVSmartDeviceDatabase::setDownloadSources(bases);
  ASSERT_TRUE(runUpdate()) << "the update did not end within the guard";
  const auto urls = addressesOf(bases);
  std::vector<std::string> failed, lines;
  for (const std::string& url : urls) failed.push_back("download from '" + url + "' failed");
  for (const std::string& line : logLines()) lines.push_back(withoutReason(line));
  EXPECT_EQ(lines, failed);
  EXPECT_EQ(stored(), "old");
  EXPECT_EQ(installedVersion(), testing::drivedbVersion(5600));
  EXPECT_EQ(notified_, 1);
  EXPECT_EQ(server.requested().size(), 4u) << "every address was tried";
}

}  // namespace
}  // namespace sentrel
