// Capturing a drive as a simulated machine. A Capture stands between the
// library and a machine (the real one or a simulated one): while its
// platform is installed it records every SMART plug-in creation and every
// drive command with its answer. `write` then stores one disk, its registry
// path, its partitions and everything its drive answered as a machine folder
// that `Machine::load` replays: `sentrel --sim DIR device DISK` prints what
// `sentrel device DISK` printed on the machine itself.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "sentrel/export.h"
#include "sentrel/platform.h"

namespace sentrel::sim {

class SENTREL_API Capture {
 public:
  explicit Capture(platform::Platform& machine);
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  // The machine with recording plug-ins; install it while the drive is read.
  platform::Platform& platform();

  // Writes FOLDER/machine.json, its sector files and the host's string
  // tables and drive database into FOLDER, which is made when missing and
  // must otherwise be empty or an earlier capture (marked by the file
  // .sentrel-capture), which this one replaces. No file is written through
  // a symbolic link. False, with `failure` saying why, when the disk is
  // unknown, the folder holds something else, or a file cannot be written.
  bool write(const std::string& folder, std::string_view bsdName, platform::Failure* failure);

  // The drive database file the reading used, which the replay is given as
  // its own; by default the host's resource copy.
  void setDatabaseFile(std::string path) { databaseFile_ = std::move(path); }

  // How many drive commands were recorded.
  std::size_t commandCount() const;

  struct Recorder;

 private:
  std::unique_ptr<Recorder> recorder_;
  std::string databaseFile_;
};

}  // namespace sentrel::sim
