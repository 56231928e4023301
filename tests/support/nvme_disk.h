// An NVMe disk built in code: a plausible controller's identify and health
// pages behind a namespace entry, for tests to change field by field.
#pragma once

#include <string>

#include "support/machines.h"
#include "support/pages.h"

namespace sentrel::testing {

using IdentifyPage = Page<4096>;
using HealthPage = Page<512>;

// Vendor, serial, model, firmware and one power state.
inline IdentifyPage sampleIdentify() {
  IdentifyPage id;
  id.u16(0, 0x144d).u16(2, 0x144d);
  id.text(4, "S4EWNX0R123456A", 20)
      .text(24, "Samsung SSD 970 EVO Plus 1TB", 40)
      .text(64, "2B2QEXM7", 8);
  id.u8(72, 2).le(73, 0x002538, 3).u8(77, 9).u16(78, 4);
  id.u16(256, 0x0017).u8(260, 0x15).u8(261, 0x03).u8(262, 63).u8(263, 0);
  id.u32(516, 1).u16(520, 0x005f);
  id.u16(2048, 750);
  return id;
}

// The medium, its driver, the namespace's entry (the one that says "NVMe
// SMART Capable" and carries the "nvme" block) and the controller.
inline Dict nvmeDisk(const std::string& bsd, const std::string& uuid) {
  HealthPage health;
  health.u16(1, 310).u8(3, 100).u8(4, 10).u8(5, 3);
  health.u64(32, 48213775).u64(48, 61842317).u64(112, 1214).u64(128, 6231).u64(144, 87);
  Dict disk = sataDisk(bsd);
  Dict& entry = *disk.find("ancestors")->ifArray()->at(1).ifDict();
  entry.set("name", "IONVMeBlockStorageDevice");
  entry.set("class", "IONVMeBlockStorageDevice");
  entry.erase("ata");
  entry.set("nvme", Dict{{"identify", sampleIdentify().sector()}, {"health", health.sector()}});
  Dict& props = *entry.find("properties")->ifDict();
  props.erase("SMART Capable");
  props.set("Serial Number", "S4EWNX0R123456A");
  props.set("Model", "Samsung SSD 970 EVO Plus 1TB");
  props.set("Device Characteristics", Dict{{"Medium Type", "Solid State"},
                                           {"Product Revision Level", "2B2QEXM7"},
                                           {"Serial Number", "S4EWNX0R123456A"}});
  props.set("Protocol Characteristics", Dict{{"Physical Interconnect", "PCI-Express"},
                                             {"Physical Interconnect Location", "Internal"}});
  props.set("Logical Block Size", 512);
  props.set("NVMe SMART Capable", true);
  props.set("NamespaceUUID", uuid);
  return disk;
}

inline Dict& nvmeBlock(Dict& disk) {
  return *disk.find("ancestors")->ifArray()->at(1).ifDict()->find("nvme")->ifDict();
}

}  // namespace sentrel::testing
