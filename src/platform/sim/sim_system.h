// The simulated machine's child processes, user defaults and mounts: the
// tools answer the output the description gives for their exact argument
// list, user defaults change in memory, and the mount table and file-system
// statistics are the described ones.
#pragma once

#include <mutex>

#include "platform/sim/sim_model.h"
#include "sentrel/sim_machine.h"

namespace sentrel::sim {

class SimProcesses final : public platform::Processes {
 public:
  SimProcesses(Machine& machine, const SimModel& model) : machine_(machine), model_(model) {}
  // The output of the first tool entry with this path and exactly these
  // arguments; nothing (a tool that cannot be started) when none matches.
  std::optional<std::string> run(std::string_view tool,
                                 const std::vector<std::string>& arguments) override;

 private:
  Machine& machine_;
  const SimModel& model_;
};

class SimUserDefaults final : public platform::UserDefaults {
 public:
  SimUserDefaults(Machine& machine, const SimModel& model)
      : machine_(machine), values_(model.userDefaults) {}
  std::optional<Value> get(std::string_view key) override;
  // Journaled, so a test can see what was stored and when.
  void set(std::string_view key, const Value& value) override;

 private:
  Machine& machine_;
  std::mutex mutex_;
  Dict values_;
};

class SimMounts final : public platform::Mounts {
 public:
  explicit SimMounts(const SimModel& model) : model_(model) {}
  std::vector<platform::MountEntry> mountTable() override { return model_.mounts; }
  // The statistics of the described file system that holds the path: the
  // entry whose path is the longest prefix of it, component by component.
  std::optional<platform::FileSystemStats> statfs(std::string_view path) override;

 private:
  const SimModel& model_;
};

}  // namespace sentrel::sim
