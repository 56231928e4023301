// User defaults on Linux, which has no per-application defaults store of its
// own: one JSON dictionary per application in the user's configuration
// folder, as the XDG base-directory convention places such files.
#include <cstdlib>

#include "platform/linux/linux_platform.h"
#include "platform/linux/linux_system.h"
#include "sentrel/value_io.h"

namespace sentrel::platform {

std::string userDefaultsFile(std::string_view bundleName, std::string_view home) {
  return xdgFolder(std::getenv("XDG_CONFIG_HOME"), home, ".config") + "/" +
         std::string(bundleName) + "/defaults.json";
}

LinuxUserDefaults::LinuxUserDefaults(std::function<std::string()> locate, Files& files)
    : locate_(std::move(locate)), files_(files) {}

// A store that is missing or unreadable holds nothing; the next write
// replaces a damaged one.
Dict LinuxUserDefaults::load(const std::string& path) {
  auto text = files_.readFile(path, nullptr);
  if (!text) return {};
  auto value = fromJson(*text, nullptr);
  if (!value || !value->ifDict()) return {};
  return std::move(*value->ifDict());
}

std::optional<Value> LinuxUserDefaults::get(std::string_view key) {
  std::lock_guard lock(mutex_);
  Dict all = load(locate_());
  if (const Value* v = all.find(key)) return *v;
  return std::nullopt;
}

void LinuxUserDefaults::set(std::string_view key, const Value& value) {
  std::lock_guard lock(mutex_);
  std::string path = locate_();
  Dict all = load(path);
  all.set(std::string(key), value);
  std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0)
    files_.createDirectories(path.substr(0, slash), nullptr);
  files_.writeFileAtomically(path, toJson(Value(std::move(all))), nullptr);
}

}  // namespace sentrel::platform
