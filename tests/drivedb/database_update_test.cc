// The background update of the stored drive database when storing fails,
// when a server on loopback answers something that is not a whole database
// or misbehaves, and when the text must carry a signature. Whatever fails,
// the stored file stays byte for byte the old one, nothing else is left
// beside it, its database still answers, and the next good answer is stored.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cctype>
#include <csignal>

#include "sentrel/drive_database.h"
#include "support/database_machine.h"
#include "support/fault_http_server.h"
#include "support/fault_texts.h"

namespace sentrel {
namespace {

using testing::DatabaseMachine;
using testing::FaultFiles;
using testing::FaultHttpServer;
using testing::Misbehaviour;
using testing::Route;

const std::string kOld = testing::drivedbText(5600, 40);
const std::string kNew = testing::drivedbText(5700, 60);
const std::string kFirst = "http://first.test";
const std::string kSecondAddress =
    "http://second.test/p/smartmontools/code/5728/tree//branches/RELEASE_7_5_DRIVEDB/"
    "smartmontools/drivedb.h?format=raw";
const std::vector<std::string> kStoredFiles{"drivedb.cache", "drivedb.h"};

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Files may grow to `bytes` bytes while this lives: the real Linux store
// then fails part way with EFBIG, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : previous_(std::signal(SIGXFSZ, SIG_IGN)) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  void (*previous_)(int);
};

// Both addresses deliver the new text; the store fails at one of its steps,
// through FaultFiles or for real in the Linux store.
TEST(DatabaseUpdateStoreTest, AFailedStoreKeepsTheOldDatabaseWholeAndTheNextUpdateStores) {
  struct Case {
    const char* name;
    FaultFiles::Write mode;
    std::size_t bytes;   // written before the fault, or the real file size limit
    bool real;           // the Linux store itself fails
    const char* reason;  // after "copy database failed: <path>: "
  } cases[] = {
      {"folder not writable", FaultFiles::Write::refuse, 0, false,
       "cannot create a temporary file: Permission denied"},
      {"disk full after one byte", FaultFiles::Write::fullAfter, 1, false,
       "write failed: No space left on device"},
      {"disk full one byte short", FaultFiles::Write::fullAfter, kNew.size() - 1, false,
       "write failed: No space left on device"},
      {"rename refused", FaultFiles::Write::renameFails, 0, false,
       "rename failed: Permission denied"},
      {"real disk full at once", FaultFiles::Write::pass, 0, true, "write failed: File too large"},
      {"real disk full half way", FaultFiles::Write::pass, kNew.size() / 2, true,
       "write failed: File too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DatabaseMachine m(R"({"downloads": {")" + kFirst + R"(/smartdb/drivedb.h": "new.h", ")" +
                          kSecondAddress + R"(": "new.h"}})",
                      {{"new.h", kNew}});
    m.store(kOld);
    m.files().failWrites(c.mode, c.bytes);
    {
      std::optional<FileSizeLimit> full;
      if (c.real) full.emplace(c.bytes);
      m.update({kFirst, "http://second.test"});
    }
    EXPECT_EQ(m.logLines(),
              (std::vector<std::string>{
                  "download from '" + kFirst + "/smartdb/drivedb.h' successful",
                  "copy database failed: " + KVSmartDeviceDatabase::dbPath() + ": " + c.reason}));
    EXPECT_EQ(m.machine->calls("download").size(), 1u) << "a failed store ends the job";
    EXPECT_TRUE(m.stored() == kOld);
    EXPECT_EQ(m.storedFolder(), kStoredFiles) << "no temporary file is left";
    EXPECT_EQ(m.installedVersion(), testing::drivedbVersion(5600));
    EXPECT_EQ(m.notified, 0);
    if (c.mode == FaultFiles::Write::fullAfter) {
      EXPECT_EQ(m.files().bytesWrittenBeforeFailing(), c.bytes) << "the write really began";
    }

    m.files().failWrites(FaultFiles::Write::pass);
    m.update({kFirst});
    EXPECT_TRUE(m.stored() == kNew);
    EXPECT_EQ(m.installedVersion(), testing::drivedbVersion(5700));
    EXPECT_EQ(m.notified, 1);
  }
}

// The real rename over a folder that stands where the file goes fails; the
// Linux store removes its temporary file.
TEST(DatabaseUpdateStoreTest, ARealRenameThatFailsLeavesNoTemporaryFile) {
  DatabaseMachine m(R"({"downloads": {")" + kFirst + R"(/smartdb/drivedb.h": "new.h"}})",
                    {{"new.h", kNew}});
  std::filesystem::create_directories(KVSmartDeviceDatabase::dbPath() + "/occupied");
  const DatabaseUpdateReport report = m.update({kFirst});
  EXPECT_FALSE(report.stored);
  EXPECT_EQ(report.storeFailure.subject, KVSmartDeviceDatabase::dbPath());
  EXPECT_EQ(m.storedFolder(), std::vector<std::string>{"drivedb.h"});
  EXPECT_EQ(m.notified, 0);
}

struct HostileRow {
  const char* name;
  Misbehaviour misbehaviour;
  std::string body;
  const char* reason;  // in the failure's reason, lower case
};

std::vector<HostileRow> hostileRows(const std::string& elsewhere, std::size_t limit) {
  const std::string header = testing::kDrivedbHeader;
  std::string big = kNew;
  while (big.size() <= limit) big += "/* padding */\n";
  const Misbehaviour whole = Misbehaviour::none;
  return {
      {"an error page", Misbehaviour::notFound, "<html>Not Found</html>", "http status 404"},
      {"a server in trouble", Misbehaviour::serverError, kNew, "http status 503"},
      {"a page without the validation line", whole, "<html>Moved</html>\n", "no validation line"},
      {"the validation line, then garbage", whole, header + "\x01garbage\n",
       "does not parse as a drive database (no version marker)"},
      {"the version entry alone", whole, kNew.substr(0, kNew.find("  { \"DEFAULT\"")) + "};\n",
       "does not parse as a drive database (no drive entry)"},
      {"a text that is not UTF-8", whole, kNew + "\xff\xfe", "not utf-8 text"},
      {"a file cut inside an entry", whole, kNew.substr(0, kNew.size() / 2),
       "ends before its table does"},
      {"a file cut after an entry", whole, kNew.substr(0, kNew.rfind("  {")),
       "ends before its table does"},
      {"a body cut short without a length", Misbehaviour::closeMidBody, kNew,
       "ends before its table does"},
      {"a Content-Length past the body", Misbehaviour::longContentLength, kNew, "transfer"},
      {"a chunked body cut half way", Misbehaviour::chunkedCut, kNew, "transfer"},
      {"an answer that is not HTTP", Misbehaviour::notHttp, kNew, "http"},
      {"a connection closed without a byte", Misbehaviour::closeAtOnce, kNew, "empty"},
      {"a whole database past the size limit", whole, big, "larger than the limit"},
      {"a body without end", Misbehaviour::endless, kNew, "larger than the limit"},
      {"a length of 512 MiB", Misbehaviour::hugeLength, kNew, "larger than the limit"},
      {"a redirect of a plain address", Misbehaviour::redirect, elsewhere, "http status 302"},
      {"no answer", Misbehaviour::hang, kNew, "timed out"},
      {"a body that stops half way", Misbehaviour::stallMidBody, kNew, "timed out"},
  };
}

class DatabaseUpdateHostileTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kLimit = 64 << 10;
  void SetUp() override {
    KVSmartDeviceDatabase::setMaximumDownloadSize(kLimit);
    m_.store(kOld);
  }
  // The stored file is the old one, alone, and its database answers.
  void expectOldDatabase() {
    EXPECT_TRUE(m_.stored() == kOld) << "the stored file changed";
    EXPECT_EQ(m_.storedFolder(), kStoredFiles) << "nothing else is left there";
    EXPECT_NE(KVSmartDeviceDatabase::lookupDriveModel("ACME R5600-7", ""), nullptr);
  }

  DatabaseMachine m_{"{}", {}, DatabaseMachine::Transport::loopback};
};

TEST_F(DatabaseUpdateHostileTest, EveryBadAnswerIsRefusedWithItsReasonAndAfterThemAGoodOneStored) {
  FaultHttpServer good({Route{"/", Misbehaviour::none, kNew}});
  const auto rows = hostileRows(good.base() + "/smartdb/drivedb.h", kLimit);
  std::vector<Route> routes;
  for (std::size_t i = 0; i < rows.size(); ++i)
    routes.emplace_back("/" + std::to_string(i) + "/", rows[i].misbehaviour, rows[i].body);
  FaultHttpServer server(std::move(routes));
  testing::UnreachableServer unreachable;
  std::vector<std::string> all;
  for (std::size_t i = 0; i <= rows.size(); ++i) {
    const bool last = i == rows.size();
    SCOPED_TRACE(last ? "a host that never completes the connection" : rows[i].name);
    all.push_back(last ? unreachable.base() : server.base() + "/" + std::to_string(i));
    const DatabaseUpdateReport report = m_.update({all.back()});
    ASSERT_EQ(report.attempts.size(), 1u);
    const platform::Failure& failure = report.attempts[0].failure;
    EXPECT_NE(lower(failure.reason).find(last ? "timeout" : rows[i].reason), std::string::npos)
        << failure.message();
    EXPECT_FALSE(report.stored);
    EXPECT_EQ(m_.logLines().back(),
              "download from '" + report.attempts[0].address + "' failed: " + failure.reason);
    expectOldDatabase();
  }
  EXPECT_TRUE(good.requested().empty()) << "no redirect was followed";

  // Every bad answer in one job, then the good one: it is stored.
  all.push_back(good.base());
  const DatabaseUpdateReport stored = m_.update(all);
  ASSERT_EQ(stored.attempts.size(), all.size());
  EXPECT_TRUE(stored.stored);
  EXPECT_TRUE(m_.stored() == kNew);
  EXPECT_NE(KVSmartDeviceDatabase::lookupDriveModel("ACME R5700-42", ""), nullptr);
  for (auto asked : m_.clock.asked()) EXPECT_EQ(asked, std::chrono::milliseconds(300));
}

// The keys and the signed file in signature/ were made once with gpg; the
// real gpgv checks them. The signature covers the text with its Id keyword
// unexpanded.
TEST_F(DatabaseUpdateHostileTest, WithAKeyringOnlyATextItsKeySignedIsStored) {
  if (!std::filesystem::exists("/usr/bin/gpgv")) GTEST_SKIP() << "gpgv is not installed";
  const std::string dir = std::string(SENTREL_SOURCE_DIR) + "/tests/drivedb/signature/";
  const std::string signedText = testing::readText(dir + "drivedb.h");
  const std::string signature = testing::readText(dir + "drivedb.h.raw.asc");
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
    KVSmartDeviceDatabase::setSignatureKeyring(dir + c.keyring);
    const DatabaseUpdateReport report = m_.update({server.base() + c.source});
    ASSERT_EQ(report.attempts.size(), 1u);
    if (c.reason) {
      EXPECT_EQ(report.attempts[0].failure.reason.rfind(c.reason, 0), 0u)
          << report.attempts[0].failure.message();
      expectOldDatabase();
    } else {
      EXPECT_TRUE(report.stored) << report.attempts[0].failure.message();
      EXPECT_TRUE(m_.stored() == signedText);
      EXPECT_NE(KVSmartDeviceDatabase::lookupDriveModel("ACME S5800", ""), nullptr);
    }
  }
}

}  // namespace
}  // namespace sentrel
