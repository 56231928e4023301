// What the fuzz targets share: a reader that hands out a fuzz input as bytes
// and fixed-size blocks, and checks of the texts the library writes.
//
// Blocks are copied into heap buffers of exactly their size, so a decoder
// that reads one byte past its sector is caught by AddressSanitizer at once.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sentrel/value.h"

namespace sentrel::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  // The next byte, or 0 once the input is used up.
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  // The next two bytes, least significant first.
  std::uint16_t u16() {
    const std::uint8_t lo = byte();
    return static_cast<std::uint16_t>(lo | byte() << 8);
  }

  // The next `n` bytes; the part past the end of the input reads as zeros.
  std::vector<std::uint8_t> block(std::size_t n) {
    std::vector<std::uint8_t> out(n, 0);
    const std::size_t take = std::min(n, size_ - at_);
    std::copy_n(data_ + at_, take, out.begin());
    at_ += take;
    return out;
  }

  // Everything not yet read.
  std::string_view rest() {
    std::string_view out(reinterpret_cast<const char*>(data_) + at_, size_ - at_);
    at_ = size_;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A fixed-extent view of a block that `block(N)` returned.
template <std::size_t N>
std::span<const std::uint8_t, N> fixed(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() != N) std::abort();
  return std::span<const std::uint8_t, N>(bytes.data(), N);
}

// Ends the run as a finding: libFuzzer saves the input that got here.
[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "fuzz check failed: %s\n%.*s\n", what,
               static_cast<int>(std::min<std::size_t>(detail.size(), 4000)), detail.data());
  std::abort();
}

// The code point at s[i], moving i past it; nothing (and i one byte on)
// when the bytes there are not well-formed UTF-8: a stray continuation
// byte, a truncated or overlong sequence, a surrogate, past U+10FFFF.
// Written out here rather than taken from the library, so the checks do
// not share its mistakes.
inline std::optional<char32_t> nextCodePoint(std::string_view s, std::size_t& i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i++);
  if (c < 0x80) return c;
  const std::size_t n = c >= 0xC2 && c <= 0xDF   ? 1
                        : c >= 0xE0 && c <= 0xEF ? 2
                        : c >= 0xF0 && c <= 0xF4 ? 3
                                                 : 0;
  if (n == 0 || s.size() - i < n) return std::nullopt;
  char32_t cp = c & (0x3F >> n);
  for (std::size_t k = 0; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return std::nullopt;
    cp = cp << 6 | (b(i + k) & 0x3F);
  }
  if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return std::nullopt;
  i += n;
  return cp;
}

inline bool wellFormedUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();)
    if (!nextCodePoint(s, i)) return false;
  return true;
}

// Ends the run unless the text is UTF-8.
inline void checkText(std::string_view s, const char* what) {
  if (!wellFormedUtf8(s)) fail(what, s);
}

// Fails unless every text inside the value, keys included, is UTF-8.
inline void checkTexts(const Value& v) {
  if (const std::string* s = v.ifString()) {
    checkText(*s, "a text is not UTF-8");
  } else if (const StyledText* t = v.ifStyledText()) {
    checkText(t->text, "a styled text is not UTF-8");
  } else if (const Array* a = v.ifArray()) {
    for (const Value& item : *a) checkTexts(item);
  } else if (const Dict* d = v.ifDict()) {
    for (const auto& e : *d) {
      checkText(e.key, "a key is not UTF-8");
      checkTexts(e.value);
    }
  }
}

}  // namespace sentrel::fuzz
