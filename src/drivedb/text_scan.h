// Small text operations of the drivedb.h parser, on UTF-8 string views.
// They copy nothing unless they must build a new text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sentrel::drivedb {

// White space as the parser means it: space, tab, line feed and the other
// line breaks (U+000B-U+000D, U+0085, U+2028, U+2029) and every Unicode space
// separator (U+00A0, U+1680, U+2000-U+200A, U+202F, U+205F, U+3000).
bool isWhiteSpace(char32_t c);
// The horizontal blanks only: tab and the space separators, no line breaks.
bool isBlank(char32_t c);

// Removes white space from both ends.
std::string_view trimWhiteSpace(std::string_view text);

// Removes the field trim set from both ends: exactly the double quote, the
// left brace, the space and the line feed (not tab, not carriage return).
std::string_view trimFieldSet(std::string_view text);

// Replaces every occurrence of `from`, scanning left to right and resuming
// after each replacement, so a replacement never takes part in a later match.
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);
// The same in place; leaves the text untouched (and unallocated) when
// `from` does not occur.
void replaceAllInPlace(std::string& text, std::string_view from, std::string_view to);

// Calls `piece(part)` for every part of `text` between occurrences of a
// non-empty `separator`, empty parts included (n separators give n + 1 parts).
template <typename Fn>
void forEachPart(std::string_view text, std::string_view separator, Fn&& piece) {
  std::size_t start = 0;
  for (;;) {
    std::size_t at = text.find(separator, start);
    if (at == std::string_view::npos) {
      piece(text.substr(start));
      return;
    }
    piece(text.substr(start, at - start));
    start = at + separator.size();
  }
}

// The words of a text between runs of blanks (isBlank); no empty words.
std::vector<std::string_view> splitAtBlanks(std::string_view text);

// The number of non-overlapping occurrences of a non-empty `needle`.
std::size_t countOccurrences(std::string_view text, std::string_view needle);

}  // namespace sentrel::drivedb
