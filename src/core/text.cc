#include "core/text.h"

#include <algorithm>
#include <cstdint>

namespace sentrel::text {

namespace {

// Decodes one UTF-8 sequence at s[i]; answers its length, or 0 when the
// bytes there are not well-formed.
std::size_t decode(std::string_view s, std::size_t i, char32_t& out) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char b0 = byte(i);
  if (b0 < 0x80) {
    out = b0;
    return 1;
  }
  std::size_t len;
  char32_t cp;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    unsigned char b = byte(i + k);
    if ((b & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (b & 0x3F);
  }
  if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  out = cp;
  return len;
}

// The start of the UTF-8 sequence that ends just before `end`.
std::size_t previousStart(std::string_view s, std::size_t end) {
  std::size_t i = end - 1;
  while (i > 0 && end - i < 4 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
  return i;
}

}  // namespace

bool isValidUtf8(std::string_view s) {
  char32_t c;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = decode(s, i, c);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool isWhitespaceOrNewline(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

std::string_view trimWhitespace(std::string_view s) {
  std::size_t begin = 0, end = s.size();
  char32_t c;
  while (begin < end) {
    std::size_t n = decode(s, begin, c);
    if (n == 0 || !isWhitespaceOrNewline(c)) break;
    begin += n;
  }
  while (end > begin) {
    std::size_t start = previousStart(s, end);
    if (start < begin) break;
    std::size_t n = decode(s, start, c);
    if (n != end - start || !isWhitespaceOrNewline(c)) break;
    end = start;
  }
  return s.substr(begin, end - begin);
}

std::string_view trimChars(std::string_view s, std::string_view set) {
  std::size_t begin = s.find_first_not_of(set);
  if (begin == std::string_view::npos) return {};
  std::size_t end = s.find_last_not_of(set);
  return s.substr(begin, end - begin + 1);
}

std::string_view lastPathComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path == "/") return path;
  std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string asciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string replaceAll(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string out;
  out.reserve(s.size());
  std::size_t at = 0;
  for (;;) {
    std::size_t hit = s.find(from, at);
    if (hit == std::string_view::npos) break;
    out.append(s, at, hit - at);
    out.append(to);
    at = hit + from.size();
  }
  out.append(s, at, std::string_view::npos);
  return out;
}

int compareNumeric(std::string_view a, std::string_view b, bool ignoreCase) {
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  auto lower = [ignoreCase](char c) {
    return ignoreCase && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && isDigit(a[ei])) ++ei;
      while (ej < b.size() && isDigit(b[ej])) ++ej;
      std::string_view ra = a.substr(i, ei - i), rb = b.substr(j, ej - j);
      ra.remove_prefix(std::min(ra.find_first_not_of('0'), ra.size()));
      rb.remove_prefix(std::min(rb.find_first_not_of('0'), rb.size()));
      if (ra.size() != rb.size()) return ra.size() < rb.size() ? -1 : 1;
      if (int c = ra.compare(rb)) return c < 0 ? -1 : 1;
      i = ei;
      j = ej;
      continue;
    }
    char ca = lower(a[i]), cb = lower(b[j]);
    if (ca != cb) return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

std::int32_t leadingInteger(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r' ||
                          s[i] == '\v' || s[i] == '\f'))
    ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::int64_t n = 0;
  constexpr std::int64_t kLimit = std::int64_t{INT32_MAX} + 1;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
    n = std::min(n * 10 + (s[i] - '0'), kLimit);
  if (negative) return static_cast<std::int32_t>(-n);
  return static_cast<std::int32_t>(std::min<std::int64_t>(n, INT32_MAX));
}

bool isAtOrBelow(std::string_view path, std::string_view folder) {
  if (folder == "/") return !path.empty() && path.front() == '/';
  return !folder.empty() && path.substr(0, folder.size()) == folder &&
         (path.size() == folder.size() || path[folder.size()] == '/');
}

}  // namespace sentrel::text

namespace sentrel {

std::string formatObject(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::null:
      return "(null)";
    case Value::Kind::boolean:
      return *v.ifBool() ? "1" : "0";
    case Value::Kind::integer:
      return std::to_string(*v.ifInt());
    case Value::Kind::unsignedInteger:
      return std::to_string(*v.ifUInt());
    case Value::Kind::real:
      return formatReal(*v.ifReal());
    case Value::Kind::real32:
      return formatReal32(*v.ifReal32());
    case Value::Kind::string:
      return *v.ifString();
    case Value::Kind::styledText:
      return v.ifStyledText()->text;
    case Value::Kind::color:
      return colorName(*v.ifColor());
    default:
      return kindName(v.kind());
  }
}

}  // namespace sentrel
