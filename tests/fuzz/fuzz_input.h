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

  // The next text up to (not including) a zero byte or the end.
  std::string_view text() {
    const std::size_t begin = at_;
    while (at_ < size_ && data_[at_] != 0) ++at_;
    std::string_view out(reinterpret_cast<const char*>(data_) + begin, at_ - begin);
    if (at_ < size_) ++at_;  // the zero byte
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
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  if (!detail.empty()) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(std::min<std::size_t>(detail.size(), 4000)),
                 detail.data());
  }
  std::abort();
}

// Well-formed UTF-8: no stray continuation bytes, no truncated or overlong
// sequences, no surrogates, nothing past U+10FFFF. Written out here rather
// than taken from the library, so the check does not share its mistakes.
inline bool wellFormedUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t n;
    char32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      n = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (s.size() - i <= n) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      if ((b(i + k) & 0xC0) != 0x80) return false;
      cp = cp << 6 | (b(i + k) & 0x3F);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += n + 1;
  }
  return true;
}

// Fails unless every text inside the value, keys included, is UTF-8.
inline void checkTexts(const Value& v) {
  if (const std::string* s = v.ifString()) {
    if (!wellFormedUtf8(*s)) fail("a text is not UTF-8", *s);
  } else if (const StyledText* t = v.ifStyledText()) {
    if (!wellFormedUtf8(t->text)) fail("a styled text is not UTF-8", t->text);
  } else if (const Array* a = v.ifArray()) {
    for (const Value& item : *a) checkTexts(item);
  } else if (const Dict* d = v.ifDict()) {
    for (const auto& e : *d) {
      if (!wellFormedUtf8(e.key)) fail("a key is not UTF-8", e.key);
      checkTexts(e.value);
    }
  }
}

}  // namespace sentrel::fuzz
