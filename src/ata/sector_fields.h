// The 512-byte sectors of ATA SMART logs and data, and the field reads their
// decoders use (core/bytes.h: bounds-checked little-endian loads).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/bytes.h"

namespace sentrel::ata {

inline constexpr std::size_t kSectorBytes = 512;
using SectorView = std::span<const std::uint8_t, kSectorBytes>;

using bytes::load16;
using bytes::load24;
using bytes::load32;
using bytes::load8;
using bytes::loadLE;

// The `N` bytes of a record at `at`; the layouts that call this place every
// record inside the sector, which their static_asserts check.
template <std::size_t N>
std::span<const std::uint8_t, N> recordAt(SectorView sector, std::size_t at) {
  return *bytes::recordAt<N>(sector, at);
}

}  // namespace sentrel::ata
