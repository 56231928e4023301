#include "drivedb/text_scan.h"

#include "sentrel/drivedb_parser.h"

namespace sentrel::drivedb {

namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;

// The code point that starts at `at` and its length in bytes; kInvalid with
// length 1 for a malformed sequence, so callers always make progress.
char32_t decodeAt(std::string_view s, std::size_t at, std::size_t& length) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(at);
  length = 1;
  if (lead < 0x80) return lead;
  std::size_t need;
  char32_t c;
  char32_t minimum;
  if ((lead & 0xE0) == 0xC0) {
    need = 1;
    c = lead & 0x1F;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    need = 2;
    c = lead & 0x0F;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    need = 3;
    c = lead & 0x07;
    minimum = 0x10000;
  } else {
    return kInvalid;
  }
  if (at + need >= s.size()) return kInvalid;  // the sequence runs past the end
  for (std::size_t i = 1; i <= need; ++i) {
    const unsigned char next = byte(at + i);
    if ((next & 0xC0) != 0x80) return kInvalid;
    c = (c << 6) | (next & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return kInvalid;
  length = need + 1;
  return c;
}

// The code point that ends just before `end`, and where it starts.
char32_t decodeBefore(std::string_view s, std::size_t end, std::size_t& start) {
  start = end - 1;
  // A sequence is at most four bytes: step back over up to three continuations.
  while (start > 0 && end - start < 4 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) {
    --start;
  }
  std::size_t length;
  char32_t c = decodeAt(s, start, length);
  if (c == kInvalid || start + length != end) {
    start = end - 1;
    return kInvalid;
  }
  return c;
}

bool isSpaceSeparator(char32_t c) {
  return c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

bool isFieldTrim(char c) {
  return c == '"' || c == '{' || c == ' ' || c == '\n';
}

}  // namespace

bool isBlank(char32_t c) {
  return c == '\t' || isSpaceSeparator(c);
}

bool isWhiteSpace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029 || isSpaceSeparator(c);
}

std::string_view trimWhiteSpace(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t length;
    if (!isWhiteSpace(decodeAt(text, begin, length))) break;
    begin += length;
  }
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t start;
    if (!isWhiteSpace(decodeBefore(text, end, start))) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

std::string_view trimFieldSet(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isFieldTrim(text[begin])) ++begin;
  while (end > begin && isFieldTrim(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  std::size_t at = text.find(from);
  if (at == std::string_view::npos) return std::string(text);
  out.reserve(text.size() + (to.size() > from.size() ? 16 * (to.size() - from.size()) : 0));
  std::size_t start = 0;
  while (at != std::string_view::npos) {
    out.append(text, start, at - start);
    out.append(to);
    start = at + from.size();
    at = text.find(from, start);
  }
  out.append(text, start);
  return out;
}

void replaceAllInPlace(std::string& text, std::string_view from, std::string_view to) {
  if (text.find(from) == std::string::npos) return;
  text = replaceAll(text, from, to);
}

std::vector<std::string_view> splitAtBlanks(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t start = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t length;
    if (isBlank(decodeAt(text, at, length))) {
      if (at > start) words.push_back(text.substr(start, at - start));
      start = at + length;
    }
    at += length;
  }
  if (at > start) words.push_back(text.substr(start, at - start));
  return words;
}

std::size_t countOccurrences(std::string_view text, std::string_view needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string_view::npos;
       at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

}  // namespace sentrel::drivedb

namespace sentrel {

bool isValidUtf8(std::string_view bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    // Runs of ASCII are the common case: skip them a byte at a time cheaply.
    if (static_cast<unsigned char>(bytes[at]) < 0x80) {
      ++at;
      continue;
    }
    std::size_t length;
    if (drivedb::decodeAt(bytes, at, length) == drivedb::kInvalid) return false;
    at += length;
  }
  return true;
}

}  // namespace sentrel
