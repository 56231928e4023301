// The Linux backend: the machine's own disks (see linux_drives.h), files,
// user, child processes, mounts, user defaults, syslog, sleeps, downloads.
#include "platform/linux/linux_platform.h"
#include "platform/linux/linux_drives.h"
#include "platform/linux/linux_system.h"
#include "platform/resource_strings.h"
#include "platform/thread_queues.h"

#include <pwd.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace sentrel::platform {

namespace {

LinuxOptions& options() {
  static LinuxOptions o;
  return o;
}

std::string envOr(const char* name, std::string fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : std::move(fallback);
}

// A field of the password entry of the effective user; "" when there is none.
std::string passwordField(char* passwd::*field) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
    return "";
  return entry.*field ? std::string(entry.*field) : std::string();
}

// $HOME, else the password entry's home folder, else "/".
std::string linuxHomeDirectory() {
  std::string home = envOr("HOME", "");
  if (!home.empty()) return home;
  home = passwordField(&passwd::pw_dir);
  return home.empty() ? "/" : home;
}

class LinuxBundles final : public Bundles {
 public:
  std::string hostBundleName() override { return options().bundleName; }
  std::string hostBundleIdentifier() override { return options().bundleIdentifier; }
  std::optional<std::string> hostResourcePath(std::string_view name,
                                              std::string_view folder) override {
    return hostResourceFile(options(), name, folder);
  }
  std::string localizedString(std::string_view key, std::string_view fallback,
                              std::string_view table) override {
    return strings_.lookup(key, fallback, table);
  }
  std::optional<Image> systemImage(std::string_view name) override {
    return Image{std::string(name), 0, 0};
  }
  std::optional<std::string> bundleIdentifier(std::string_view) override { return std::nullopt; }
  std::optional<Image> bundleImage(std::string_view, std::string_view) override {
    return std::nullopt;
  }

 private:
  ResourceStrings strings_{[this](const std::string& file) -> std::optional<std::string> {
    auto path = hostResourcePath(file, "");
    return path ? linuxFiles().readFile(*path, nullptr) : std::nullopt;
  }};
};

class LinuxUser final : public User {
 public:
  std::string userName() override {
    std::string name = passwordField(&passwd::pw_name);
    return name.empty() ? envOr("USER", "") : name;
  }
  std::string homeDirectory() override { return linuxHomeDirectory(); }
  std::string applicationSupportDirectory() override {
    return dataHomeFor(options().dataHome, ::geteuid(), std::getenv("XDG_DATA_HOME"),
                       homeDirectory());
  }
  std::string cacheDirectory() override {
    return xdgFolder(std::getenv("XDG_CACHE_HOME"), homeDirectory(), ".cache");
  }
};

class SystemLog final : public Log {
 public:
  void nslog(std::string_view line) override { syslog(LOG_NOTICE, line); }
  void syslog(int priority, std::string_view line) override {
    ::syslog(priority, "%.*s", static_cast<int>(line.size()), line.data());
  }
};

class RealClock final : public Clock {
 public:
  void sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

struct LinuxPlatform {
  LinuxDrives drives{options().disks};
  LinuxBundles bundles;
  LinuxUser user;
  LinuxProcesses processes;
  LinuxUserDefaults userDefaults{
      [this] { return userDefaultsFile(bundles.hostBundleName(), user.homeDirectory()); },
      linuxFiles()};
  LinuxMounts mounts;
  SystemLog log;
  RealClock clock;
  ThreadQueues queues;
  ObserverList notifications;
  Platform platform{&drives.registry(),
                    &drives.diskArbitration(),
                    &drives.plugIns(),
                    &bundles,
                    &linuxFiles(),
                    &user,
                    &processes,
                    &userDefaults,
                    &mounts,
                    &log,
                    &clock,
                    &linuxDownloads(),
                    &queues,
                    &notifications};
};

}  // namespace

std::string xdgFolder(const char* value, std::string_view home, std::string_view underHome) {
  if (value && value[0] == '/') return value;
  return std::string(home) + "/" + std::string(underHome);
}

std::string dataHomeFor(std::string_view configured, unsigned uid, const char* xdgDataHome,
                        std::string_view home) {
  if (!configured.empty()) return std::string(configured);
  if (uid == 0) return "/var/lib";
  return xdgFolder(xdgDataHome, home, ".local/share");
}

std::optional<std::string> hostResourceFile(const LinuxOptions& options, std::string_view name,
                                            std::string_view folder) {
  auto present = [](const std::string& path) { return ::access(path.c_str(), F_OK) == 0; };
  if (name == "drivedb.h" && folder == "driveDatabase") {
    for (const std::string& path : options.systemDriveDatabases)
      if (present(path)) return path;
  }
  if (options.resourceDir.empty()) return std::nullopt;
  std::string path = resourcePathIn(options.resourceDir, folder, name);
  if (!present(path)) return std::nullopt;
  return path;
}

std::string installedResourceDir() {
  return SENTREL_INSTALLED_RESOURCE_DIR;
}

std::string userConfigHome() {
  return xdgFolder(std::getenv("XDG_CONFIG_HOME"), linuxHomeDirectory(), ".config");
}

void configureLinuxPlatform(LinuxOptions o) {
  options() = std::move(o);
}

std::uint64_t fileSizeLimit() {
  return options().maxFileSize;
}

namespace {
LinuxPlatform& theLinuxPlatform() {
  // Never destroyed: queue workers and downloads may outlive main.
  static LinuxPlatform* p = new LinuxPlatform;
  return *p;
}
}  // namespace

Platform& linuxPlatform() {
  return theLinuxPlatform().platform;
}

// This backend is the machine the process runs on.
Platform& defaultPlatform() {
  return linuxPlatform();
}

}  // namespace sentrel::platform
