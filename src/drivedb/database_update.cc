// The background update of the stored drive database: the addresses tried
// in order on the serial queue, the first text that proves itself a drive
// database (and, with a keyring, signed) stored atomically and parsed, and
// "databaseUpdated" posted from the main queue. A text that does not prove
// itself never replaces the stored file.
#include <atomic>
#include <chrono>
#include <mutex>
#include <utility>

#include "drivedb/drivedb_signature.h"
#include "sentrel/drive_database.h"
#include "sentrel/drivedb_parser.h"
#include "sentrel/platform.h"

namespace sentrel {

namespace {

using platform::Failure;

constexpr std::string_view kValidationLine = "* drivedb.h - smartmontools drive database file";
constexpr std::chrono::milliseconds kPollInterval{300};
constexpr std::size_t kDefaultMaximumSize = std::size_t{8} << 20;
// A detached signature is a few hundred bytes.
constexpr std::size_t kMaximumSignatureSize = std::size_t{64} << 10;
constexpr const char* kGpgv = "/usr/bin/gpgv";

// The fixed path of each address, by position.
constexpr std::string_view kPaths[] = {
    "/smartdb/drivedb.h",
    "/p/smartmontools/code/5728/tree//branches/RELEASE_7_5_DRIVEDB/smartmontools/"
    "drivedb.h?format=raw",
    "/smartmontools/smartmontools/refs/heads/main/lib/drivedb.h",
    "/mirror/smartmontools/raw/master/drivedb.h",
};

struct Settings {
  std::mutex mutex;
  std::vector<std::string> sources{"https://www.smartmontools.org", "https://sourceforge.net",
                                   "https://raw.githubusercontent.com", "https://github.com"};
  std::size_t maximumSize = kDefaultMaximumSize;
  std::string keyring = SENTREL_DRIVEDB_KEYRING;
  DatabaseUpdateReport lastReport;
  std::atomic<bool> offline{false};
};

Settings& settings() {
  static Settings s;
  return s;
}

// What one job works with, fixed when it starts.
struct JobSettings {
  std::size_t maximumSize;
  std::string keyring;
};

JobSettings jobSettings() {
  std::lock_guard lock(settings().mutex);
  return {settings().maximumSize, settings().keyring};
}

std::vector<std::string> addresses() {
  std::vector<std::string> out;
  std::vector<std::string> bases = KVSmartDeviceDatabase::downloadSources();
  for (std::size_t i = 0; i < bases.size(); ++i) {
    std::string base = bases[i];
    while (!base.empty() && base.back() == '/') base.pop_back();
    out.push_back(base + std::string(kPaths[std::min(i, std::size(kPaths) - 1)]));
  }
  return out;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// Only HTTPS is fetched, unless the host gave an http:// address as such.
Failure schemeRefusal(const std::string& url) {
  if (startsWithIgnoringCase(url, "https://") || startsWithIgnoringCase(url, "http://")) return {};
  return platform::failureOf(Failure::Kind::unsupported, url,
                             "not an https:// address (http:// only when given as such)");
}

// A text cut short still parses: the entries before the cut are whole, and
// an entry cut inside its options reads as a shorter one. A whole file
// closes its table ("};", in smartmontools' own file inside a comment)
// after the last entry opens ("{ \"").
bool closesItsTable(const std::string& text) {
  const std::size_t close = text.rfind("};");
  return close != std::string::npos && close > text.rfind("{ \"");
}

// Why a text cannot replace the stored database; none when it can.
Failure textRefusal(const std::string& subject, const std::string& text, std::size_t maximumSize) {
  const auto refuse = [&](std::string reason) {
    return platform::failureOf(Failure::Kind::badData, subject, std::move(reason));
  };
  if (text.size() > maximumSize) return platform::failureOfSize(subject, maximumSize);
  if (!isValidUtf8(text)) return refuse("not UTF-8 text");
  if (text.find(kValidationLine) == std::string::npos)
    return refuse("no validation line (\"" + std::string(kValidationLine) + "\")");
  std::optional<DriveDatabase> parsed = parseDriveDatabase(text);
  if (!parsed) return refuse("does not parse as a drive database (no version marker)");
  if (parsed->drives.empty()) return refuse("does not parse as a drive database (no drive entry)");
  if (!closesItsTable(text)) return refuse("ends before its table does (cut short)");
  return {};
}

// The slot a download's completion fills and the job reads once it is full.
class ResultSlot {
 public:
  void deliver(platform::DownloadResult result) {
    std::lock_guard lock(mutex_);
    result_ = std::move(result);
  }
  std::optional<platform::DownloadResult> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(result_, std::nullopt);
  }

 private:
  std::mutex mutex_;
  std::optional<platform::DownloadResult> result_;
};

// Downloads one address and waits, polling, until its completion delivers.
platform::DownloadResult download(platform::Platform& p, const std::string& url,
                                  std::size_t maximumSize) {
  auto slot = std::make_shared<ResultSlot>();
  p.downloads->start(url, maximumSize,
                     [slot](platform::DownloadResult result) { slot->deliver(std::move(result)); });
  for (;;) {
    if (auto delivered = slot->take()) {
      if (!delivered->body && !delivered->failure.failed())
        delivered->failure =
            platform::failureOf(Failure::Kind::noResponse, url, "the download brought nothing");
      return std::move(*delivered);
    }
    p.clock->sleep(kPollInterval);
  }
}

// Checks that `keyring`'s key signed `text`: gpgv reads the text as
// smartmontools signs it and the signature from two files beside the
// stored database, which are removed again.
Failure signatureRefusal(platform::Platform& p, const std::string& subject, const std::string& text,
                         const std::string& signature, const std::string& keyring) {
  const std::string data = KVSmartDeviceDatabase::dbPath() + ".new.raw";
  const std::string detached = data + ".asc";
  const auto refuse = [&](Failure::Kind kind, std::string reason) {
    return platform::failureOf(kind, subject, "signature: " + std::move(reason));
  };
  Failure written;
  if (!p.files->writeFileAtomically(data, drivedb::signedText(text), &written) ||
      !p.files->writeFileAtomically(detached, signature, &written)) {
    p.files->removeFile(data);
    return refuse(Failure::Kind::io, "cannot be checked: " + written.message());
  }
  std::optional<std::string> status = p.processes->run(
      kGpgv, {"--keyring", keyring, "--status-fd", "1", "--logger-fd", "1", detached, data});
  p.files->removeFile(data);
  p.files->removeFile(detached);
  if (!status)
    return refuse(Failure::Kind::unsupported,
                  "cannot be checked: " + std::string(kGpgv) + " could not be run");
  if (std::optional<std::string> why = drivedb::signatureRefusal(*status))
    return refuse(Failure::Kind::badData, *why);
  return {};
}

// One address: its text when it may replace the stored database, else
// nothing with `refused` saying why.
std::optional<std::string> acceptedText(platform::Platform& p, const std::string& url,
                                        const JobSettings& job, Failure& refused) {
  refused = schemeRefusal(url);
  if (refused.failed()) return std::nullopt;
  platform::DownloadResult result = download(p, url, job.maximumSize);
  if (!result.body) {
    refused = std::move(result.failure);
    return std::nullopt;
  }
  refused = textRefusal(url, *result.body, job.maximumSize);
  if (refused.failed()) return std::nullopt;
  if (!job.keyring.empty()) {
    const std::string signatureUrl = drivedb::signatureAddress(url);
    platform::DownloadResult signature = download(p, signatureUrl, kMaximumSignatureSize);
    if (!signature.body) {
      refused = platform::failureOf(signature.failure.kind, url,
                                    "signature: " + signature.failure.message());
      return std::nullopt;
    }
    refused = signatureRefusal(p, url, *result.body, *signature.body, job.keyring);
    if (refused.failed()) return std::nullopt;
  }
  return std::move(result.body);
}

// Stores an accepted text; false (logged) when that fails.
bool store(platform::Platform& p, const std::string& text, Failure& error) {
  if (p.files->writeFileAtomically(KVSmartDeviceDatabase::dbPath(), text, &error)) return true;
  p.log->nslog("copy database failed: " + error.message());
  return false;
}

void postUpdated(platform::Platform& p) {
  p.queues->asyncMain([notifications = p.notifications] {
    notifications->post(KVSmartDeviceDatabase::kDatabaseUpdated);
  });
}

void keepReport(DatabaseUpdateReport report) {
  std::lock_guard lock(settings().mutex);
  settings().lastReport = std::move(report);
}

void updateJob(platform::Platform p) {
  const JobSettings job = jobSettings();
  DatabaseUpdateReport report;
  for (const std::string& url : addresses()) {
    Failure refused;
    std::optional<std::string> text = acceptedText(p, url, job, refused);
    report.attempts.push_back({url, refused});
    if (!text) {
      p.log->nslog("download from '" + url + "' failed: " + refused.reason);
      continue;
    }
    p.log->nslog("download from '" + url + "' successful");
    if (!store(p, *text, report.storeFailure)) return keepReport(std::move(report));
    report.stored = true;
    KVSmartDeviceDatabase::unpackDriveDBFile();
    break;
  }
  keepReport(std::move(report));
  postUpdated(p);
}

}  // namespace

void KVSmartDeviceDatabase::updateDB() {
  if (offline()) return;
  // The job keeps the areas of the platform installed now (a copy of the
  // bundle of pointers), whatever is installed when it runs.
  platform::Platform p = platform::current();
  p.files->createDirectories(dbfolder(), nullptr);
  p.queues->async(dlq(), [p] { updateJob(p); });
}

void KVSmartDeviceDatabase::downloadDidFinish() {
  platform::Platform& p = platform::current();
  const JobSettings job = jobSettings();
  const std::string path = tempPath();
  Failure refused;
  std::optional<std::string> text = p.files->readFile(path, &refused);
  if (text) refused = textRefusal(path, *text, job.maximumSize);
  if (!refused.failed() && !job.keyring.empty()) {
    const std::string signaturePath = path + ".raw.asc";
    std::optional<std::string> signature = p.files->readFile(signaturePath, &refused);
    if (signature) refused = signatureRefusal(p, path, *text, *signature, job.keyring);
  }
  if (refused.failed()) {
    p.log->nslog("download database failed ");
  } else {
    p.log->nslog("download database successful");
    Failure error;
    if (!store(p, *text, error)) return;
    unpackDriveDBFile();
  }
  postUpdated(p);
}

void KVSmartDeviceDatabase::downloadDidFailWithError(std::string_view error) {
  platform::Platform& p = platform::current();
  p.log->nslog("download database failed: " + std::string(error));
  postUpdated(p);
}

std::vector<std::string> KVSmartDeviceDatabase::downloadSources() {
  std::lock_guard lock(settings().mutex);
  return settings().sources;
}

void KVSmartDeviceDatabase::setDownloadSources(std::vector<std::string> baseAddresses) {
  std::lock_guard lock(settings().mutex);
  settings().sources = std::move(baseAddresses);
}

bool KVSmartDeviceDatabase::offline() {
  return settings().offline.load();
}
void KVSmartDeviceDatabase::setOffline(bool offline) {
  settings().offline.store(offline);
}

std::size_t KVSmartDeviceDatabase::maximumDownloadSize() {
  std::lock_guard lock(settings().mutex);
  return settings().maximumSize;
}
void KVSmartDeviceDatabase::setMaximumDownloadSize(std::size_t bytes) {
  std::lock_guard lock(settings().mutex);
  settings().maximumSize = bytes;
}

std::string KVSmartDeviceDatabase::signatureKeyring() {
  std::lock_guard lock(settings().mutex);
  return settings().keyring;
}
void KVSmartDeviceDatabase::setSignatureKeyring(std::string path) {
  std::lock_guard lock(settings().mutex);
  settings().keyring = std::move(path);
}

DatabaseUpdateReport KVSmartDeviceDatabase::lastUpdateReport() {
  std::lock_guard lock(settings().mutex);
  return settings().lastReport;
}

}  // namespace sentrel
