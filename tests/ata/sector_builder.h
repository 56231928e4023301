// A 512-byte ATA sector that tests fill field by field, little-endian, as a
// drive would, and then hand to a decoder or a simulated drive.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "sentrel/value.h"
#include "sentrel/value_io.h"

namespace sentrel::testing {

struct SectorBuilder {
  std::array<std::uint8_t, 512> bytes{};

  SectorBuilder& put(std::size_t at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
      bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
    return *this;
  }
  SectorBuilder& put8(std::size_t at, std::uint8_t v) { return put(at, v, 1); }
  SectorBuilder& put16(std::size_t at, std::uint16_t v) { return put(at, v, 2); }
  SectorBuilder& put24(std::size_t at, std::uint32_t v) { return put(at, v, 3); }
  SectorBuilder& put32(std::size_t at, std::uint32_t v) { return put(at, v, 4); }

  // Sets byte 511 so the sector sums to 0 modulo 256.
  SectorBuilder& checksum() {
    bytes[511] = 0;
    unsigned sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    bytes[511] = static_cast<std::uint8_t>(-sum);
    return *this;
  }

  std::span<const std::uint8_t, 512> view() const { return bytes; }
  // The sector as the simulated machine takes it.
  Value sim() const { return Value(Dict{{"$hex", toHex(Data(bytes.begin(), bytes.end()))}}); }
};

}  // namespace sentrel::testing
