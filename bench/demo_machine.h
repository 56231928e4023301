// The bundled demo machine (examples/demo-mac) installed as the platform for
// the life of the object, with Debian's drive database installed when
// smartmontools is there (else none: lookups then find nothing).
#pragma once

#include <memory>
#include <string>

#include "sentrel/drive_database.h"
#include "sentrel/sim_machine.h"
#include "support/debian_drivedb.h"

namespace sentrel::bench {

class DemoMachine {
 public:
  DemoMachine() {
    machine_ = sim::Machine::load(SENTREL_SOURCE_DIR "/examples/demo-mac", &error_);
    if (!machine_) return;
    installed_ = std::make_unique<platform::ScopedPlatform>(machine_->platform());
    if (const DriveDatabase* db = testing::debianDatabase())
      KVSmartDeviceDatabase::installDriveDatabase(*db);
  }
  bool ok() const { return machine_ != nullptr; }
  std::string error() const { return error_.message(); }
  sim::Machine& machine() { return *machine_; }

 private:
  platform::Failure error_;
  std::unique_ptr<sim::Machine> machine_;
  std::unique_ptr<platform::ScopedPlatform> installed_;
};

}  // namespace sentrel::bench
