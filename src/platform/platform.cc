// The seam itself: the installed platform and the default search of the
// registry. Which backend the process runs on
// by default is the backend's business (defaultPlatform()).
#include "sentrel/platform.h"

#include <atomic>

namespace sentrel::platform {

namespace {
std::atomic<Platform*> installed{nullptr};
std::atomic<std::uint64_t> installations{0};
}  // namespace

std::optional<Value> Registry::searchProperty(RegistryEntry entry, std::string_view key,
                                              bool searchParents) {
  std::optional<RegistryEntry> at = entry;
  while (at) {
    if (auto props = properties(*at)) {
      if (const Value* v = props->find(key)) return *v;
    }
    if (!searchParents) break;
    at = parent(*at);
  }
  return std::nullopt;
}

Platform& current() {
  // The installed platform is handed out for change: it cannot point to const.
  // cppcheck-suppress constVariable
  if (Platform* p = installed.load(std::memory_order_acquire)) return *p;
  return defaultPlatform();
}

std::uint64_t generation() {
  return installations.load(std::memory_order_acquire);
}

ScopedPlatform::ScopedPlatform(Platform& platform)
    : previous_(installed.exchange(&platform, std::memory_order_acq_rel)) {
  installations.fetch_add(1, std::memory_order_acq_rel);
}

ScopedPlatform::~ScopedPlatform() {
  installed.store(previous_, std::memory_order_release);
  installations.fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace sentrel::platform
