#include "platform/sim/sim_system.h"

#include "core/text.h"

namespace sentrel::sim {

std::optional<std::string> SimProcesses::run(std::string_view tool,
                                             const std::vector<std::string>& arguments) {
  const SimTool* found = nullptr;
  for (const SimTool& t : model_.tools) {
    if (t.tool == tool && t.arguments == arguments) {
      found = &t;
      break;
    }
  }
  Array args(arguments.begin(), arguments.end());
  machine_.record(Dict{
      {"call", "process.run"}, {"tool", tool}, {"arguments", args}, {"started", found != nullptr}});
  if (!found) return std::nullopt;
  return found->output;
}

std::optional<Value> SimUserDefaults::get(std::string_view key) {
  std::lock_guard lock(mutex_);
  if (const Value* v = values_.find(key)) return *v;
  return std::nullopt;
}

void SimUserDefaults::set(std::string_view key, const Value& value) {
  {
    std::lock_guard lock(mutex_);
    values_.set(std::string(key), value);
  }
  machine_.record(Dict{{"call", "userDefaults.set"}, {"key", key}, {"value", value}});
}

std::optional<platform::FileSystemStats> SimMounts::statfs(std::string_view path) {
  const platform::FileSystemStats* best = nullptr;
  std::size_t bestLength = 0;
  for (const auto& [on, stats] : model_.statfs) {
    if (text::isAtOrBelow(path, on) && (!best || on.size() > bestLength)) {
      best = &stats;
      bestLength = on.size();
    }
  }
  if (!best) return std::nullopt;
  return *best;
}

}  // namespace sentrel::sim
