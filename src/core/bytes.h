// Fixed-width little-endian fields of drive data (ATA sectors, NVMe pages,
// identify words, SAT registers) and the SMART checksum: the one place that
// assembles integers from bytes. Nothing here can read past its view:
//
//   load16(bytes, at)   a field at a computed offset; bytes past the end of
//                       the view read as zero, so a decoder handed a damaged
//                       layout still never reads outside its buffer
//   u16<At>(view)       a field at a fixed offset of a fixed-size view,
//                       checked when it is compiled
//   recordAt<N>(...)    the N bytes of a record, whole or not at all
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace sentrel::bytes {

// ---- Fields at computed offsets ----

// `width` bytes (at most 8) starting at `at`, least significant first.
constexpr std::uint64_t loadLE(std::span<const std::uint8_t> bytes, std::size_t at,
                               std::size_t width) {
  std::uint64_t v = 0;
  for (std::size_t i = width; i-- > 0;) {
    std::size_t pos = at + i;
    std::uint8_t b = pos < bytes.size() && pos >= at ? bytes[pos] : 0;
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
constexpr std::uint64_t load48(std::span<const std::uint8_t> bytes, std::size_t at) {
  return loadLE(bytes, at, 6);
}
constexpr std::uint64_t load64(std::span<const std::uint8_t> bytes, std::size_t at) {
  return loadLE(bytes, at, 8);
}

// The 8 bytes at `at`, least significant first, in one load: for bulk
// work (hashing) over bytes the caller has checked are there.
inline std::uint64_t load64At(const unsigned char* at) {
  std::uint64_t v;
  std::memcpy(&v, at, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// ---- Fields at fixed offsets of fixed-size views ----

// `Width` bytes at `At`, least significant first.
template <std::size_t At, std::size_t Width, std::size_t N>
requires(Width >= 1 && Width <= 8 && At + Width <= N) constexpr std::uint64_t
    loadLE(std::span<const std::uint8_t, N> bytes) {
  std::uint64_t v = 0;
  for (std::size_t i = Width; i-- > 0;) v = v << 8 | bytes[At + i];
  return v;
}

template <std::size_t At, std::size_t N>
requires(At < N) constexpr std::uint8_t u8(std::span<const std::uint8_t, N> bytes) {
  return bytes[At];
}
template <std::size_t At, std::size_t N>
constexpr std::uint16_t u16(std::span<const std::uint8_t, N> bytes) {
  return static_cast<std::uint16_t>(loadLE<At, 2>(bytes));
}
template <std::size_t At, std::size_t N>
constexpr std::uint32_t u24(std::span<const std::uint8_t, N> bytes) {
  return static_cast<std::uint32_t>(loadLE<At, 3>(bytes));
}
template <std::size_t At, std::size_t N>
constexpr std::uint32_t u32(std::span<const std::uint8_t, N> bytes) {
  return static_cast<std::uint32_t>(loadLE<At, 4>(bytes));
}
template <std::size_t At, std::size_t N>
constexpr std::uint64_t u64(std::span<const std::uint8_t, N> bytes) {
  return loadLE<At, 8>(bytes);
}

// A 128-bit counter (NVMe health log), kept exact as its two halves.
struct Counter128 {
  std::uint64_t lo = 0;
  std::uint64_t hi = 0;
  friend bool operator==(const Counter128&, const Counter128&) = default;
};

template <std::size_t At, std::size_t N>
requires(At + 16 <= N) constexpr Counter128 u128(std::span<const std::uint8_t, N> bytes) {
  return Counter128{.lo = loadLE<At, 8>(bytes), .hi = loadLE<At + 8, 8>(bytes)};
}

// ---- Records ----

// The `Len` bytes of a fixed field.
template <std::size_t At, std::size_t Len, std::size_t N>
requires(At + Len <= N) constexpr std::span<const std::uint8_t, Len> field(
    std::span<const std::uint8_t, N> bytes) {
  return bytes.template subspan<At, Len>();
}

// The `Len` bytes at a computed offset; nothing when they would run past
// the end of the buffer.
template <std::size_t Len, std::size_t N>
requires(Len <= N) constexpr std::optional<std::span<const std::uint8_t, Len>> recordAt(
    std::span<const std::uint8_t, N> bytes, std::size_t at) {
  if (at > N - Len) return std::nullopt;
  return std::span<const std::uint8_t, Len>(bytes.data() + at, Len);
}

// ---- The SMART checksum ----

// True when the bytes of a SMART sector (data, thresholds, logs) sum to 0
// modulo 256, as the checksum in the last byte makes a sound sector do.
constexpr bool checksumSound(std::span<const std::uint8_t> sector) {
  unsigned sum = 0;
  for (std::uint8_t b : sector) sum += b;
  return (sum & 0xFF) == 0;
}

// Sets the last byte so the sector's checksum is sound.
constexpr void sealChecksum(std::span<std::uint8_t> sector) {
  if (sector.empty()) return;
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < sector.size(); ++i) sum += sector[i];
  sector.back() = static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

}  // namespace sentrel::bytes
