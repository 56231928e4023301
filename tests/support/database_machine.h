// A simulated machine in a fresh folder of real files, installed as the
// platform for the drive database tests. Its files pass through FaultFiles,
// so a test can make a store fail; downloads come from the description's
// "downloads" or, with Transport::loopback, from libcurl with time-outs of
// about a second. Sleeps are counted and cut to a millisecond, so a job
// that polls its download neither waits nor spins. Whatever a test changes
// of the class-wide update settings is put back when the machine goes.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/linux_platform.h"
#include "platform/linux/linux_system.h"
#include "sentrel/drive_database.h"
#include "sentrel/sim_machine.h"
#include "support/fault_files.h"
#include "support/fault_printers.h"

namespace sentrel::testing {

class CountingClock final : public platform::Clock {
 public:
  void sleep(std::chrono::milliseconds duration) override {
    {
      std::lock_guard lock(mutex_);
      asked_.push_back(duration);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::vector<std::chrono::milliseconds> asked() {
    std::lock_guard lock(mutex_);
    return asked_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::chrono::milliseconds> asked_;
};

inline std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "(no file)";
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class DatabaseMachine {
 public:
  enum class Transport { sim, loopback };

  // `files` are written into the machine folder before `json` is loaded.
  explicit DatabaseMachine(const std::string& json = "{}",
                           const std::map<std::string, std::string>& files = {},
                           Transport transport = Transport::sim)
      : folder(std::filesystem::temp_directory_path() /
               ("sentrel-db-" + std::to_string(::getpid()) + "-" + std::to_string(next()))) {
    std::filesystem::remove_all(folder);
    for (const auto& [name, text] : files) {
      std::filesystem::create_directories((folder / name).parent_path());
      std::ofstream(folder / name, std::ios::binary) << text;
    }
    std::filesystem::create_directories(folder);
    platform::Failure error;
    machine = sim::Machine::fromJsonText(json, folder.string(), &error);
    if (!machine) {
      ADD_FAILURE() << error;
      machine = sim::Machine::fromJsonText("{}", folder.string(), &error);
    }
    platform_ = machine->platform();
    files_ = std::make_unique<FaultFiles>(*platform_.files);
    platform_.files = files_.get();
    platform_.clock = &clock;
    if (transport == Transport::loopback) {
      platform_.downloads = &platform::linuxDownloads();
      platform_.processes = &processes_;
      platform::setDownloadTimeouts(
          {.connect = std::chrono::milliseconds(1000), .total = std::chrono::milliseconds(1500)});
    }
    installed_.emplace(platform_);
    platform_.notifications->observe(KVSmartDeviceDatabase::kDatabaseUpdated,
                                     [this] { ++notified; });
  }
  ~DatabaseMachine() {
    platform_.queues->wait(KVSmartDeviceDatabase::dlq());
    KVSmartDeviceDatabase::setDownloadSources(sources_);
    KVSmartDeviceDatabase::setMaximumDownloadSize(maxSize_);
    KVSmartDeviceDatabase::setSignatureKeyring(keyring_);
    platform::setDownloadTimeouts(timeouts_);
    installed_.reset();
    machine.reset();
    std::filesystem::remove_all(folder);
  }
  DatabaseMachine(const DatabaseMachine&) = delete;
  DatabaseMachine& operator=(const DatabaseMachine&) = delete;

  platform::Platform& platform() { return platform_; }
  FaultFiles& files() { return *files_; }

  // Stores `text` as the database file and installs what it parses to.
  void store(const std::string& text) {
    std::filesystem::create_directories(KVSmartDeviceDatabase::dbfolder());
    std::ofstream(KVSmartDeviceDatabase::dbPath(), std::ios::binary) << text;
    KVSmartDeviceDatabase::unpackDriveDBFile();
    machine->clearJournal();
    notified = 0;
  }
  std::string stored() const { return readText(KVSmartDeviceDatabase::dbPath()); }
  std::vector<std::string> storedFolder() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(KVSmartDeviceDatabase::dbfolder()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::string installedVersion() {
    std::string version = KVSmartDeviceDatabase::installedVersion();
    return version.empty() ? "(none)" : version;
  }
  std::vector<std::string> logLines() const {
    std::vector<std::string> out;
    for (const Dict& d : machine->calls("nslog")) out.push_back(d.stringOr("line"));
    return out;
  }
  // One update job from `sources` run to its end, the main queue delivered.
  DatabaseUpdateReport update(std::vector<std::string> sources) {
    KVSmartDeviceDatabase::setDownloadSources(std::move(sources));
    KVSmartDeviceDatabase::updateDB();
    platform_.queues->wait(KVSmartDeviceDatabase::dlq());
    platform_.queues->drainMain();
    return KVSmartDeviceDatabase::lastUpdateReport();
  }

  const std::filesystem::path folder;
  std::unique_ptr<sim::Machine> machine;
  CountingClock clock;
  std::atomic<int> notified{0};

 private:
  static int next() {
    static std::atomic<int> n{0};
    return n++;
  }

  std::unique_ptr<FaultFiles> files_;
  platform::LinuxProcesses processes_;
  platform::Platform platform_;
  std::optional<platform::ScopedPlatform> installed_;
  std::vector<std::string> sources_ = KVSmartDeviceDatabase::downloadSources();
  std::size_t maxSize_ = KVSmartDeviceDatabase::maximumDownloadSize();
  std::string keyring_ = KVSmartDeviceDatabase::signatureKeyring();
  platform::DownloadTimeouts timeouts_ = platform::downloadTimeouts();
};

}  // namespace sentrel::testing
