// Byte pages built in code (ATA sectors, NVMe pages): a test fills the few
// fields it is about, little-endian as a drive writes them, and leaves the
// rest zero.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "sentrel/value.h"
#include "sentrel/value_io.h"

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
  // Sets the last byte so the page sums to 0 modulo 256.
  Page& checksum() {
    bytes[N - 1] = 0;
    unsigned sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    bytes[N - 1] = static_cast<std::uint8_t>(-sum);
    return *this;
  }

  std::span<const std::uint8_t, N> view() const { return bytes; }
  // The page as a simulated machine's sector value.
  Value sector() const { return Value(Dict{{"$hex", toHex(Data(bytes.begin(), bytes.end()))}}); }
};

using Sector = Page<512>;

}  // namespace sentrel::testing
