#include "sysutil/version_rules.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "core/icu_regex.h"
#include "core/text.h"

namespace sentrel::sysutil {

namespace {

bool isLetterOrBlank(UChar32 c) {
  if (c == '\t') return true;
  switch (icu::charType(static_cast<char32_t>(c))) {
    case U_UPPERCASE_LETTER:
    case U_LOWERCASE_LETTER:
    case U_TITLECASE_LETTER:
    case U_MODIFIER_LETTER:
    case U_OTHER_LETTER:
    case U_NON_SPACING_MARK:
    case U_ENCLOSING_MARK:
    case U_COMBINING_SPACING_MARK:
    case U_SPACE_SEPARATOR:
      return true;
    default:
      return false;
  }
}

// A word the log shows without quotes.
bool isPlainWord(std::string_view s) {
  if (s.empty()) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$';
  });
}

std::string quoted(std::string_view s) {
  if (isPlainWord(s)) return std::string(s);
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out + "\"";
}

}  // namespace

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string_view firstLine(std::string_view text) {
  return text.substr(0, text.find('\n'));
}

Dict versionToolDictionary(std::string_view text) {
  Dict out;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view value = line.substr(colon + 1);
    value = value.substr(0, value.find(':'));
    out.set(std::string(line.substr(0, colon)), Value(text::trimWhitespace(value)));
  }
  return out;
}

std::string_view trimLettersAndBlanks(std::string_view text) {
  if (text.size() > static_cast<std::size_t>(INT32_MAX)) return text;
  const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int32_t>(text.size());
  // One pass forward: what is kept runs from the first character that is
  // not a letter or a blank (or not UTF-8) to the end of the last one.
  std::int32_t begin = length, end = length;
  for (std::int32_t next = 0; next < length;) {
    const std::int32_t start = next;
    UChar32 c;
    U8_NEXT(s, next, length, c);
    if (c >= 0 && isLetterOrBlank(c)) continue;
    if (begin == length) begin = start;
    end = next;
  }
  return text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

std::int64_t compareSystemVersions(std::optional<std::string_view> running,
                                   std::optional<std::string_view> given) {
  if (!given || !running || given->empty()) return 0;
  return text::compareNumeric(*running, trimLettersAndBlanks(*given), /*ignoreCase=*/false);
}

std::string describeDictionary(const Dict& dict) {
  std::vector<const Dict::Entry*> entries;
  for (const auto& e : dict) entries.push_back(&e);
  std::sort(entries.begin(), entries.end(),
            [](const Dict::Entry* a, const Dict::Entry* b) { return a->key < b->key; });
  std::string out = "{\n";
  for (const Dict::Entry* e : entries)
    out += "    " + quoted(e->key) + " = " + quoted(text::formatObject(e->value)) + ";\n";
  return out + "}";
}

}  // namespace sentrel::sysutil
