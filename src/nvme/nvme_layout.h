// The NVMe data structures the reader decodes, as fixed-size byte views, and
// little-endian field loads that cannot reach past the end of a view: a
// load at a fixed offset is checked when it is compiled, and a record at a
// computed offset is handed out only when it lies wholly inside its buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace sentrel::nvme {

inline constexpr std::size_t kIdentifySize = 4096;    // Identify Controller
inline constexpr std::size_t kHealthSize = 512;       // SMART / Health Information
inline constexpr std::size_t kErrorLogSize = 4096;    // Error Information, 64 entries
inline constexpr std::size_t kFirmwareLogSize = 512;  // Firmware Slot Information

using IdentifyView = std::span<const std::uint8_t, kIdentifySize>;
using HealthView = std::span<const std::uint8_t, kHealthSize>;
using ErrorLogView = std::span<const std::uint8_t, kErrorLogSize>;
using FirmwareLogView = std::span<const std::uint8_t, kFirmwareLogSize>;

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

// A 128-bit counter of the health log, kept exact as its two halves.
struct Counter128 {
  std::uint64_t lo = 0;
  std::uint64_t hi = 0;
  friend bool operator==(const Counter128&, const Counter128&) = default;
};

template <std::size_t At, std::size_t N>
requires(At + 16 <= N) constexpr Counter128 u128(std::span<const std::uint8_t, N> bytes) {
  return Counter128{.lo = loadLE<At, 8>(bytes), .hi = loadLE<At + 8, 8>(bytes)};
}

}  // namespace sentrel::nvme
