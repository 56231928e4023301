// Small simulated machines built in code, so each test states the one fact
// it varies.
#pragma once

#include <memory>
#include <string>

#include "sentrel/platform.h"
#include "sentrel/sim_machine.h"
#include "sentrel/value.h"

namespace sentrel::testing {

// A whole SATA disk: medium, block-storage driver, the drive entry (serial,
// model, characteristics, "SMART Capable", an "ata" block) and an AHCI
// controller at the root.
Dict sataDisk(const std::string& bsd);

// The parts of a disk a test changes.
Dict& description(Dict& disk);
Dict& driveEntry(Dict& disk);        // the SMART-capable entry's properties
Dict& ataBlock(Dict& disk);
Dict& controllerEntry(Dict& disk);   // the controller's properties
void addVolume(Dict& disk, const std::string& bsd, const std::string& name);

// A 512-byte sector as {"$hex": ...}, filled by `fill`.
Value sector(std::uint8_t fill = 0);

// A machine with the given disks (and any other top-level keys) that is
// installed as the platform for the life of this object.
class TestMachine {
 public:
  explicit TestMachine(Dict description);
  explicit TestMachine(std::initializer_list<Dict> disks);
  sim::Machine& machine() { return *machine_; }
  sim::Machine* operator->() { return machine_.get(); }

 private:
  std::unique_ptr<sim::Machine> machine_;
  std::unique_ptr<platform::ScopedPlatform> installed_;
};

}  // namespace sentrel::testing
