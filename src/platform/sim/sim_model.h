// What a simulated machine holds once its folder is loaded. The loader
// builds it; the platform areas of the simulated machine answer from it.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry_tree.h"
#include "sentrel/platform.h"
#include "sentrel/value.h"

namespace sentrel::sim {

using platform::RegistryEntry;
using platform::Status;

// A sector file the description names, read when a command first asks for
// it and kept. The file must be a regular file of exactly `size` bytes;
// otherwise every command that reads it fails with `failure`, which says
// so in the words of a load error ("machine.json: $.disks[0]...: ...").
class SectorFile {
 public:
  SectorFile(platform::Files& files, std::string path, std::string description,
             std::string jsonPath, std::size_t size)
      : files_(files),
        path_(std::move(path)),
        description_(std::move(description)),
        jsonPath_(std::move(jsonPath)),
        size_(size) {}

  // The bytes, or nothing with `failure` set.
  const std::optional<Data>& read(platform::Failure& failure) const;

 private:
  platform::Files& files_;
  std::string path_;
  std::string description_;  // the description's file name
  std::string jsonPath_;
  std::size_t size_;
  mutable std::once_flag once_;
  mutable std::optional<Data> bytes_;
  mutable platform::Failure failure_;
};

// A buffer a command answers with, or nothing when the command fails.
struct SimBuffer {
  std::optional<Data> bytes;
  Status status = 0;                       // used when bytes are present
  std::shared_ptr<const SectorFile> file;  // the bytes, when they come from a file
};

struct SimAta {
  // What each plug-in creation answers in turn; the last one repeats.
  std::vector<Status> openStatuses{0};
  Status queryStatus = 0;
  Status enableStatus = 0;
  Status selftestStatus = 0;
  Status reportStatus = 0;  // what SMART RETURN STATUS itself answers
  bool thresholdExceeded = false;
  SimBuffer identify;
  SimBuffer smartData;
  SimBuffer thresholds;
  std::map<std::uint8_t, SimBuffer> logs;
  // The self-test execution status bytes (SMART data byte 363) the drive
  // reports while a self-test it was asked to start runs: each read of the
  // SMART data takes the next, the last one repeats. Empty: the data never
  // changes.
  std::vector<std::uint8_t> selftestRun;
  // What CHECK POWER MODE answers: the count register (0xFF active), or
  // nothing from a drive that is asleep.
  std::optional<std::uint8_t> powerModeRegister = 0xFF;
  // How long every command takes, really: a slow or hung drive.
  std::chrono::milliseconds delay{0};
  // Where a run stands; shared by the interfaces of one drive.
  struct Run {
    bool started = false;
    std::size_t reads = 0;
  };
  std::shared_ptr<Run> run = std::make_shared<Run>();
};

struct SimNvme {
  Status openStatus = 0;
  Status queryStatus = 0;
  std::uint16_t version = 1;
  std::uint16_t revision = 4;
  SimBuffer identify;         // 4096 bytes
  SimBuffer health;           // 512
  SimBuffer errorLog;         // 4096
  SimBuffer firmwareLog;      // 512
  SimBuffer selfTestLog;      // 564, log page 6
  Status selftestStatus = 0;  // what Device Self-test answers
  // The completion percents the self-test log reports while a test runs
  // (byte 1; byte 0 names the test): each read takes the next, and after
  // the last the log reads as described.
  std::vector<std::uint8_t> selfTestRun;
  std::chrono::milliseconds delay{0};  // as SimAta::delay
  struct Run {
    std::uint8_t code = 0;  // the test running, 0 for none
    std::size_t reads = 0;
  };
  std::shared_ptr<Run> run = std::make_shared<Run>();
};

struct SimNode : platform::TreeNode {
  std::shared_ptr<SimAta> ata;
  std::shared_ptr<SimNvme> nvme;
  // A free handle below one the description gave explicitly: it names nothing.
  bool placeholder = false;
};

struct SimExtension {
  std::string folder;  // the bundle's folder name in the extensions folder
  std::string bundleIdentifier;
  std::vector<std::string> images;
};

// A command-line tool the machine has: what it prints for one exact
// argument list.
struct SimTool {
  std::string tool;  // absolute path
  std::vector<std::string> arguments;
  std::string output;
};

struct SimModel {
  std::string folder;  // absolute path of the machine folder
  std::optional<std::string> systemVersion;
  bool diskArbitrationFails = false;

  std::string bundleName = "Sentrel";
  std::string bundleIdentifier = "org.sentrel.sim";
  std::string userName = "user";
  std::string home;       // absolute
  std::string resources;  // absolute; empty when the host has none
  // Table name ("" for the default table) to key to text.
  std::map<std::string, std::map<std::string, std::string>> localizedStrings;

  std::vector<SimNode> nodes;  // handle h is nodes[h - 1]
  std::vector<RegistryEntry> wholeMedia;
  std::vector<SimExtension> extensions;
  Dict userDefaults;
  // Address to the file its download delivers; nothing: the download fails.
  std::map<std::string, std::optional<std::string>> downloads;
  std::vector<platform::MountEntry> mounts;
  std::map<std::string, platform::FileSystemStats> statfs;  // by the path they describe
  std::vector<SimTool> tools;

  const SimNode* node(RegistryEntry h) const {
    return h >= 1 && h <= nodes.size() && !nodes[h - 1].placeholder ? &nodes[h - 1] : nullptr;
  }
};

}  // namespace sentrel::sim
