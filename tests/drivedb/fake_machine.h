// A small hand-written machine for the drive database tests: files served
// from memory (with a count of reads per path), a host bundle with a
// resource folder and a user with a fixed home. Everything else is taken
// from the null platform, which has nothing the database could touch.
#pragma once

#include <cerrno>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/linux_platform.h"
#include "sentrel/platform.h"

namespace sentrel::drivedb_testing {

class MemoryFiles final : public platform::Files {
 public:
  void put(const std::string& path, std::string contents) {
    std::lock_guard lock(mutex_);
    files_[path] = std::move(contents);
  }
  int reads(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto it = reads_.find(path);
    return it == reads_.end() ? 0 : it->second;
  }

  std::optional<std::string> readFile(std::string_view path, platform::Failure* error) override {
    std::lock_guard lock(mutex_);
    ++reads_[std::string(path)];
    auto it = files_.find(std::string(path));
    if (it == files_.end()) {
      if (error) *error = platform::failureFromErrno(std::string(path), ENOENT);
      return std::nullopt;
    }
    return it->second;
  }
  bool writeFileAtomically(std::string_view path, std::string_view contents,
                           platform::Failure*) override {
    put(std::string(path), std::string(contents));
    return true;
  }
  bool writeFileIn(std::string_view folder, std::string_view name, std::string_view contents, bool,
                   platform::Failure*) override {
    put(std::string(folder) + "/" + std::string(name), std::string(contents));
    return true;
  }
  bool createDirectories(std::string_view, platform::Failure*) override { return true; }
  bool removeFile(std::string_view path) override {
    std::lock_guard lock(mutex_);
    return files_.erase(std::string(path)) > 0;
  }
  bool exists(std::string_view path) override {
    std::lock_guard lock(mutex_);
    return files_.count(std::string(path)) > 0;
  }
  std::optional<std::vector<std::string>> listDirectory(std::string_view) override {
    return std::nullopt;
  }
  std::optional<Value> readPropertyList(std::string_view) override { return std::nullopt; }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::string> files_;
  std::map<std::string, int> reads_;
};

// A host bundle whose resources are files below `resourceDir` in `files`.
class FakeBundles final : public platform::Bundles {
 public:
  FakeBundles(platform::Files& files, std::string name, std::string resourceDir)
      : files_(files), name_(std::move(name)), resourceDir_(std::move(resourceDir)) {}

  std::string hostBundleName() override { return name_; }
  std::string hostBundleIdentifier() override { return identifier; }
  std::optional<std::string> hostResourcePath(std::string_view name,
                                              std::string_view folder) override {
    std::string path = resourceDir_ + "/" + std::string(folder) + "/" + std::string(name);
    if (!files_.exists(path)) return std::nullopt;
    return path;
  }
  std::string localizedString(std::string_view key, std::string_view, std::string_view) override {
    return std::string(key);
  }
  std::optional<Image> systemImage(std::string_view) override { return std::nullopt; }
  std::optional<std::string> bundleIdentifier(std::string_view) override { return std::nullopt; }
  std::optional<Image> bundleImage(std::string_view, std::string_view) override {
    return std::nullopt;
  }

  std::string identifier = "org.example.tests";

 private:
  platform::Files& files_;
  std::string name_;
  std::string resourceDir_;
};

class FakeUser final : public platform::User {
 public:
  std::string userName() override { return "tester"; }
  std::string homeDirectory() override { return "/home/tester"; }
  std::string applicationSupportDirectory() override { return "/home/tester/.local/share"; }
  std::string cacheDirectory() override { return caches; }
  // None on a machine of real files, so nothing is written outside the test.
  std::string caches = "/home/tester/.cache";
};

inline constexpr const char* kSupportFolder = "/home/tester/.local/share/TestHost/driveDatabase";
inline constexpr const char* kStoredPath =
    "/home/tester/.local/share/TestHost/driveDatabase/drivedb.h";
inline constexpr const char* kResourceDir = "/app/Resources";
inline constexpr const char* kResourcePath = "/app/Resources/driveDatabase/drivedb.h";

// The machine, installed for the life of the object. `realFiles` serves the
// files of this machine instead of memory (for the real database copy).
class FakeMachine {
 public:
  explicit FakeMachine(std::string bundleName = "TestHost", bool realFiles = false,
                       std::string resourceDir = kResourceDir)
      : bundles_(realFiles ? platform::linuxFiles() : files, std::move(bundleName),
                 std::move(resourceDir)),
        platform_(makePlatform(realFiles)),
        scope_(platform_) {}

  MemoryFiles files;
  FakeBundles& bundles() { return bundles_; }

 private:
  platform::Platform makePlatform(bool realFiles) {
    platform::Platform p = platform::nullPlatform();
    p.files = realFiles ? &platform::linuxFiles() : static_cast<platform::Files*>(&files);
    p.bundles = &bundles_;
    p.user = &user_;
    if (realFiles) user_.caches.clear();
    return p;
  }

  FakeBundles bundles_;
  FakeUser user_;
  platform::Platform platform_;
  platform::ScopedPlatform scope_;
};

}  // namespace sentrel::drivedb_testing
