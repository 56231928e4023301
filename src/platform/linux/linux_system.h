// The Linux backend's child processes, user defaults and mounts. Declared
// here so the backend can hold them and the tests can run them on this
// machine with a store of their own.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "sentrel/platform.h"

namespace sentrel::platform {

// Starts a tool by its absolute path with posix_spawn: no shell, an empty
// environment, standard output on a pipe read to its end, standard input
// and standard error inherited and no other descriptor of the host. The
// child is always waited for; the pipe is closed on every path and is
// close-on-exec, so no other child inherits it.
class LinuxProcesses final : public Processes {
 public:
  std::optional<std::string> run(std::string_view tool,
                                 const std::vector<std::string>& arguments) override;
};

// The kernel's mount table (/proc/self/mountinfo) and statfs(2).
class LinuxMounts final : public Mounts {
 public:
  std::vector<MountEntry> mountTable() override;
  std::optional<FileSystemStats> statfs(std::string_view path) override;
};

// Parses the text of /proc/self/mountinfo into entries in table order,
// decoding the octal escapes the kernel writes for blanks and backslashes.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// The mount that holds an absolute, resolved path: the last entry whose
// mount point is the longest path prefix of it (a later mount over the same
// point hides the earlier one). Empty when none is.
std::optional<MountEntry> mountHolding(const std::vector<MountEntry>& table, std::string_view path);

// User defaults kept as one JSON dictionary per application, written
// atomically after every change and read afresh on every lookup, so two
// processes of one host see each other's values.
class LinuxUserDefaults final : public UserDefaults {
 public:
  // `locate` answers the store's path; it is asked on every use, so the
  // host's name may be configured after the backend was made.
  LinuxUserDefaults(std::function<std::string()> locate, Files& files);
  std::optional<Value> get(std::string_view key) override;
  void set(std::string_view key, const Value& value) override;

 private:
  Dict load(const std::string& path);

  std::function<std::string()> locate_;
  Files& files_;
  std::mutex mutex_;
};

// The store of a host named `bundleName`: CONFIG/BUNDLENAME/defaults.json,
// where CONFIG is xdgFolder(XDG_CONFIG_HOME, HOME, ".config").
std::string userDefaultsFile(std::string_view bundleName, std::string_view home);

}  // namespace sentrel::platform
