// NVMe pages and an NVMe disk built in code for the NVMe tests: each test
// fills in the few fields it is about and leaves the rest zero.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "sentrel/value.h"
#include "sentrel/value_io.h"
#include "support/machines.h"

namespace sentrel::testing {

template <std::size_t N>
struct Page {
  std::array<std::uint8_t, N> bytes{};

  // `width` bytes of `value` at `at`, least significant first.
  Page& le(std::size_t at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
      bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
    return *this;
  }
  Page& u8(std::size_t at, std::uint8_t v) { return le(at, v, 1); }
  Page& u16(std::size_t at, std::uint16_t v) { return le(at, v, 2); }
  Page& u32(std::size_t at, std::uint32_t v) { return le(at, v, 4); }
  Page& u64(std::size_t at, std::uint64_t v) { return le(at, v, 8); }
  // A text field of `len` bytes, padded with `pad`.
  Page& text(std::size_t at, std::string_view s, std::size_t len, char pad = ' ') {
    for (std::size_t i = 0; i < len; ++i)
      bytes.at(at + i) = static_cast<std::uint8_t>(i < s.size() ? s[i] : pad);
    return *this;
  }

  std::span<const std::uint8_t, N> view() const { return bytes; }
  // The page as a simulated machine's sector value.
  Value sector() const { return Value(Dict{{"$hex", toHex(Data(bytes.begin(), bytes.end()))}}); }
};

using IdentifyPage = Page<4096>;
using HealthPage = Page<512>;
using ErrorLogPage = Page<4096>;
using FirmwareLogPage = Page<512>;

// Identify data of a plausible controller: vendor, serial, model, firmware
// and one power state.
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

inline HealthPage sampleHealth() {
  HealthPage h;
  h.u16(1, 310).u8(3, 100).u8(4, 10).u8(5, 3);
  h.u64(32, 48213775).u64(48, 61842317).u64(112, 1214).u64(128, 6231).u64(144, 87);
  return h;
}

// An internal NVMe disk: the medium, its block-storage driver, the
// namespace's block-storage device (the entry that says "NVMe SMART
// Capable" and carries the "nvme" block) and the controller.
inline Dict nvmeDisk(const std::string& bsd, const std::string& uuid) {
  Dict disk = sataDisk(bsd);
  Dict& entry = *disk.find("ancestors")->ifArray()->at(1).ifDict();
  entry.set("name", "IONVMeBlockStorageDevice");
  entry.set("class", "IONVMeBlockStorageDevice");
  entry.erase("ata");
  entry.set("nvme",
            Dict{{"identify", sampleIdentify().sector()}, {"health", sampleHealth().sector()}});
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

// The parts of an NVMe disk a test changes.
inline Dict& nvmeEntry(Dict& disk) {
  return *disk.find("ancestors")->ifArray()->at(1).ifDict();
}
inline Dict& nvmeBlock(Dict& disk) {
  return *nvmeEntry(disk).find("nvme")->ifDict();
}
inline Dict& nvmeProperties(Dict& disk) {
  return *nvmeEntry(disk).find("properties")->ifDict();
}

}  // namespace sentrel::testing
