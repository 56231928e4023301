#include "nvme/nvme_text.h"

#include <cstdio>

#include "core/text.h"

namespace sentrel::nvme {

namespace {

// The space separators of Unicode (category Zs) and the tab. Unlike the
// white-space-and-newline set, line ends are not among them.
bool isSpaceSeparator(char32_t c) {
  return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

std::size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

// The code point of the well-formed sequence at s[at, at + len).
char32_t codePoint(std::string_view s, std::size_t at, std::size_t len) {
  static constexpr unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t c = static_cast<unsigned char>(s[at]) & kLeadMask[len];
  for (std::size_t k = 1; k < len; ++k) c = c << 6 | (static_cast<unsigned char>(s[at + k]) & 0x3F);
  return c;
}

}  // namespace

std::string_view trimSpaceSeparators(std::string_view s) {
  std::size_t begin = 0;
  std::size_t end = s.size();
  while (begin < end) {
    std::size_t len = sequenceLength(static_cast<unsigned char>(s[begin]));
    if (begin + len > end || !isSpaceSeparator(codePoint(s, begin, len))) break;
    begin += len;
  }
  while (end > begin) {
    std::size_t start = end - 1;
    while (start > begin && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
    if (end - start > 4 || !isSpaceSeparator(codePoint(s, start, end - start))) break;
    end = start;
  }
  return s.substr(begin, end - begin);
}

std::optional<std::string> fieldText(std::span<const std::uint8_t> bytes) {
  std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!text::isValidUtf8(raw)) return std::nullopt;
  return std::string(trimSpaceSeparators(raw));
}

std::string hexText(std::uint64_t value, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%0*llx", digits, static_cast<unsigned long long>(value));
  return buf;
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::uint8_t b : bytes) out += hexText(b, 2) + ' ';
  return out;
}

}  // namespace sentrel::nvme
