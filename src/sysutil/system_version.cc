// The running system's version, remembered in the host's user defaults so
// the version tool runs once per installation, and the Time Machine tool.
#include "sentrel/platform.h"
#include "sentrel/sysutil.h"
#include "sysutil/tools.h"
#include "sysutil/version_rules.h"

namespace sentrel {

std::optional<std::string> KVGetCurrentSystemString() {
  platform::Platform& p = platform::current();
  if (auto stored = p.userDefaults->get(kCurrentSWVersKey)) {
    if (const std::string* s = stored->ifString()) return *s;
  }
  auto output = p.processes->run(sysutil::kVersionTool, {"-productVersion"});
  // Output that cannot be read is not stored, so the next call asks again.
  if (!output || !sysutil::isAscii(*output)) return std::nullopt;
  std::string version(sysutil::firstLine(*output));
  p.userDefaults->set(kCurrentSWVersKey, Value(version));
  return version;
}

Dict KVGetCurrentSystemDictionary() {
  platform::Platform& p = platform::current();
  if (auto stored = p.userDefaults->get(kCurrentSWVersDictKey)) {
    if (const Dict* d = stored->ifDict()) return *d;
  }
  auto output = p.processes->run(sysutil::kVersionTool, {});
  // A tool that cannot be started leaves nothing stored, so a later call
  // tries again; output that is not ASCII is stored as an empty dictionary.
  if (!output) return {};
  Dict lines = sysutil::isAscii(*output) ? sysutil::versionToolDictionary(*output) : Dict{};
  p.log->nslog(sysutil::describeDictionary(lines));
  p.userDefaults->set(kCurrentSWVersDictKey, Value(lines));
  return lines;
}

std::int64_t KVCompareCurrentSystemVersionWith(std::optional<std::string_view> version) {
  std::optional<std::string> running = KVGetCurrentSystemString();
  std::optional<std::string_view> runningView;
  if (running) runningView = *running;
  return sysutil::compareSystemVersions(runningView, version);
}

std::optional<Value> tmutil(const std::vector<std::string>& arguments) {
  return sysutil::runPropertyListTool(sysutil::kTimeMachineTool, arguments);
}

}  // namespace sentrel
