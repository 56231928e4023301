// Little-endian field reads for the 512-byte sectors of ATA SMART logs and
// data. Every read is bounds-checked against the view it is given: a field
// that would run past the end reads its missing bytes as zero, so a decoder
// handed a damaged layout still never reads outside its buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace sentrel::ata {

inline constexpr std::size_t kSectorBytes = 512;
using SectorView = std::span<const std::uint8_t, kSectorBytes>;

// `width` bytes (at most 8) starting at `at`, least significant first.
constexpr std::uint64_t loadLE(std::span<const std::uint8_t> bytes, std::size_t at,
                               std::size_t width) {
  std::uint64_t v = 0;
  for (std::size_t i = width; i-- > 0;) {
    std::size_t pos = at + i;
    std::uint8_t b = pos < bytes.size() ? bytes[pos] : 0;
    v = (v << 8) | b;
  }
  return v;
}

constexpr std::uint8_t load8(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint8_t>(loadLE(bytes, at, 1));
}
constexpr std::uint16_t load16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(loadLE(bytes, at, 2));
}
constexpr std::uint32_t load24(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(loadLE(bytes, at, 3));
}
constexpr std::uint32_t load32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(loadLE(bytes, at, 4));
}

// The `N` bytes of a record at `at`; the layouts that call this place every
// record inside the sector, which their static_asserts check.
template <std::size_t N>
std::span<const std::uint8_t, N> recordAt(SectorView sector, std::size_t at) {
  return sector.subspan(at).template first<N>();
}

}  // namespace sentrel::ata
