// Small simulated machines built in code, so each test states the one fact
// it varies.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sentrel/platform.h"
#include "sentrel/sim_machine.h"
#include "sentrel/value.h"
#include "support/fault_printers.h"

namespace sentrel::testing {

// A whole SATA disk: medium, block-storage driver, the drive entry (serial,
// model, characteristics, "SMART Capable", an "ata" block) and an AHCI
// controller at the root.
Dict sataDisk(const std::string& bsd);

// The parts of a disk a test changes.
Dict& description(Dict& disk);
Dict& driveEntry(Dict& disk);  // the SMART-capable entry's properties
Dict& ataBlock(Dict& disk);
Dict& controllerEntry(Dict& disk);  // the controller's properties
void addVolume(Dict& disk, const std::string& bsd, const std::string& name);

// A 512-byte sector as {"$hex": ...}, filled by `fill`.
Value sector(std::uint8_t fill = 0);
// Bytes as a sector value of a machine description.
Value sector(const Data& bytes);

// One attribute of a SMART data sector and its threshold.
struct AttributeSlot {
  std::uint8_t id = 0;
  std::uint16_t flags = 0;
  std::uint8_t current = 100;
  std::uint8_t worst = 100;
  std::uint64_t raw = 0;  // the six raw bytes, least significant first
  std::uint8_t threshold = 0;
};

// A SMART data sector (revision 16 unless given) with a sound checksum.
Data smartDataSector(const std::vector<AttributeSlot>& slots, std::uint16_t revision = 16);
Data thresholdsSector(const std::vector<AttributeSlot>& slots);
// Sets byte 511 so the 512 bytes sum to 0 mod 256.
void sealChecksum(Data& sector);

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
