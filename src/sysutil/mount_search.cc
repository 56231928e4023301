#include "sysutil/mount_search.h"

#include "sysutil/affixes.h"

namespace sentrel::sysutil {

std::optional<std::string> deviceMountedAt(const MountTable& table, std::string_view mountPoint) {
  for (const auto& m : table) {
    if (m.on == mountPoint) return m.from;
  }
  return std::nullopt;
}

std::optional<std::string> mountPointOf(const MountTable& table, std::string_view devicePath,
                                        std::string_view shortName) {
  // Both are plain text tests, so /dev/disk3s1 also finds /dev/disk3s10.
  for (const auto& m : table) {
    if (hasPrefix(m.from, devicePath) || containsText(m.from, shortName)) return m.on;
  }
  return std::nullopt;
}

std::optional<std::string_view> pathTail(std::string_view path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::nullopt;
  return path.substr(slash);
}

std::optional<std::string> typeByTail(const MountTable& table, std::string_view path) {
  auto tail = pathTail(path);
  if (!tail) return std::nullopt;
  for (const auto& m : table) {
    if (pathTail(m.on) == tail) return m.type;
  }
  return std::nullopt;
}

}  // namespace sentrel::sysutil
