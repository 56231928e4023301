// The simulated machine: a folder with machine.json and binary sector files
// that stands for a whole computer with its disks. It is the test fixture
// format, the bundled demo and the replay of captured drives. Its format is
// described in docs/sim-machine.md.
//
// It answers the platform areas from its description and journals each
// call it answers: plug-in creation, every drive command with its arguments
// and status, sleeps with their durations, log lines. What it does not
// model it takes from a base platform: plain file operations (a database it
// stores lands in its folder on the base's file system), and the reading
// of the folder itself.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sentrel/export.h"
#include "sentrel/platform.h"
#include "sentrel/value.h"

namespace sentrel::sim {

struct SimModel;

class SENTREL_API Machine {
 public:
  // Loads the machine folder through the base's files. Empty, with
  // `failure` naming the file and saying the JSON path and the problem, when
  // the description is malformed or a sector file is missing or of the
  // wrong size.
  static std::unique_ptr<Machine> load(const std::string& folder, platform::Platform& base,
                                       platform::Failure* failure);
  // Loads a description given as text; sector file names are resolved
  // against `folder`.
  static std::unique_ptr<Machine> fromJsonText(std::string_view json, const std::string& folder,
                                               platform::Platform& base,
                                               platform::Failure* failure);
  // The same with the default platform as the base.
  static std::unique_ptr<Machine> load(const std::string& folder, platform::Failure* failure) {
    return load(folder, platform::defaultPlatform(), failure);
  }
  static std::unique_ptr<Machine> fromJsonText(std::string_view json, const std::string& folder,
                                               platform::Failure* failure) {
    return fromJsonText(json, folder, platform::defaultPlatform(), failure);
  }
  ~Machine();

  platform::Platform& platform();

  // Sleeps are journaled and return at once, unless made real (the demo).
  void setRealSleeps(bool real);

  // Every platform call answered so far, oldest first; each a dictionary
  // with "call" and the call's arguments and result.
  std::vector<Dict> journal() const;
  void clearJournal();
  // The calls whose "call" equals `name`.
  std::vector<Dict> calls(std::string_view name) const;

  // Records one call (used by the machine's platform areas).
  void record(Dict entry);

  const SimModel& model() const { return *model_; }

 private:
  Machine(std::unique_ptr<SimModel> model, platform::Platform& base);
  struct Areas;

  std::unique_ptr<SimModel> model_;
  std::unique_ptr<Areas> areas_;
  mutable std::mutex journalMutex_;
  std::vector<Dict> journal_;
};

}  // namespace sentrel::sim
