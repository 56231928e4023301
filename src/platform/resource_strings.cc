#include "platform/resource_strings.h"

namespace sentrel::platform {

std::string resourcePathIn(std::string_view root, std::string_view folder, std::string_view name) {
  std::string path(root);
  if (!folder.empty()) path.append("/").append(folder);
  return path.append("/").append(name);
}

const StringsTable& ResourceStrings::tableNamed(std::string_view table) {
  auto it = tables_.find(table);
  if (it != tables_.end()) return it->second;
  std::string file = (table.empty() ? std::string("Localizable") : std::string(table)) + ".strings";
  StringsTable parsed;
  if (auto text = read_(file)) {
    if (auto t = parseStringsFile(*text, nullptr)) parsed = std::move(*t);
  }
  return tables_.emplace(std::string(table), std::move(parsed)).first->second;
}

std::string ResourceStrings::lookup(std::string_view key, std::string_view fallback,
                                    std::string_view table) {
  std::lock_guard lock(mutex_);
  const StringsTable& t = tableNamed(table);
  auto it = t.find(key);
  if (it != t.end()) return it->second;
  return std::string(fallback.empty() ? key : fallback);
}

}  // namespace sentrel::platform
