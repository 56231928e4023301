// The background update of the stored drive database: four addresses tried
// in order on the serial queue, the first text with the smartmontools header
// line stored atomically and parsed, and "databaseUpdated" posted from the
// main queue.
#include <atomic>
#include <chrono>
#include <mutex>

#include "core/text.h"
#include "sentrel/drive_database.h"
#include "sentrel/platform.h"

namespace sentrel {

namespace {

constexpr std::string_view kValidationLine = "* drivedb.h - smartmontools drive database file";
constexpr std::chrono::milliseconds kPollInterval{300};

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
  std::atomic<bool> offline{false};
};

Settings& settings() {
  static Settings s;
  return s;
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

bool acceptable(const std::optional<std::string>& text) {
  return text && text->find(kValidationLine) != std::string::npos;
}

// The slot a download's completion fills and the job reads once it is full.
class ResultSlot {
 public:
  void deliver(std::optional<std::string> text) {
    std::lock_guard lock(mutex_);
    text_ = std::move(text);
    delivered_ = true;
  }
  std::optional<std::optional<std::string>> take() {
    std::lock_guard lock(mutex_);
    if (!delivered_) return std::nullopt;
    return std::move(text_);
  }

 private:
  std::mutex mutex_;
  bool delivered_ = false;
  std::optional<std::string> text_;
};

// Downloads one address and waits, polling, until its completion delivers:
// the UTF-8 text, or nothing.
std::optional<std::string> download(platform::Platform& p, const std::string& url) {
  auto slot = std::make_shared<ResultSlot>();
  p.downloads->start(url, [slot](platform::DownloadResult result) {
    if (result.body && !text::isValidUtf8(*result.body)) result.body.reset();
    slot->deliver(std::move(result.body));
  });
  for (;;) {
    if (auto delivered = slot->take()) return std::move(*delivered);
    p.clock->sleep(kPollInterval);
  }
}

// Stores an accepted text; false (logged) when that fails.
bool store(platform::Platform& p, const std::string& text) {
  platform::Failure error;
  if (p.files->writeFileAtomically(KVSmartDeviceDatabase::dbPath(), text, &error)) return true;
  p.log->nslog("copy database failed: " + error.message());
  return false;
}

void postUpdated(platform::Platform& p) {
  p.queues->asyncMain([notifications = p.notifications] {
    notifications->post(KVSmartDeviceDatabase::kDatabaseUpdated);
  });
}

void updateJob(platform::Platform p) {
  for (const std::string& url : addresses()) {
    std::optional<std::string> text = download(p, url);
    if (!acceptable(text)) {
      p.log->nslog("download from '" + url + "' failed");
      continue;
    }
    p.log->nslog("download from '" + url + "' successful");
    if (!store(p, *text)) return;
    KVSmartDeviceDatabase::unpackDriveDBFile();
    break;
  }
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
  std::optional<std::string> text = p.files->readFile(tempPath(), nullptr);
  if (text && !text::isValidUtf8(*text)) text.reset();
  if (acceptable(text)) {
    p.log->nslog("download database successful");
    if (!store(p, *text)) return;
    unpackDriveDBFile();
  } else {
    p.log->nslog("download database failed ");
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

}  // namespace sentrel
