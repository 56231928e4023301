// Text helpers with the exact semantics the library's rules are written in:
// the platform's white-space-and-newline set, UTF-8 validity, path
// components, numeric ordering of version texts and "%@" formatting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sentrel/value.h"
#include "sentrel/value_io.h"

namespace sentrel::text {

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates,
// nothing above U+10FFFF).
bool isValidUtf8(std::string_view s);

// Appends one code point (below 0x110000, not a surrogate) as UTF-8.
void appendUtf8(std::string& out, char32_t c);

// True for a code point of the white-space-and-newline set: the Unicode
// space separators, line and paragraph separators, tab to carriage return
// and next-line (U+0085).
bool isWhitespaceOrNewline(char32_t c);

// Removes white space and line ends from both ends. Text that is not UTF-8
// is trimmed of ASCII white space only.
std::string_view trimWhitespace(std::string_view s);

// Removes the characters of `set` (single bytes) from both ends.
std::string_view trimChars(std::string_view s, std::string_view set);

// The last component of a path: "/dev/disk2" gives "disk2", "a/b/" gives
// "b", "/" gives "/".
std::string_view lastPathComponent(std::string_view path);

std::string asciiLower(std::string_view s);

// True when `path` is `folder` or lies below it, component by component
// ("/Volumes/A/x" is below "/Volumes/A", "/Volumes/AB" is not; everything
// absolute is below "/").
bool isAtOrBelow(std::string_view path, std::string_view folder);

// Replaces every occurrence of `from`, scanning left to right and resuming
// after each replacement.
std::string replaceAll(std::string_view s, std::string_view from, std::string_view to);

// Orders two texts with runs of digits compared as numbers: "10.9" orders
// before "10.13". Other characters compare by value, or without regard to
// ASCII case when `ignoreCase`. Answers -1, 0 or +1.
int compareNumeric(std::string_view a, std::string_view b, bool ignoreCase = true);

// The decimal integer at the start of a text: leading blanks skipped, an
// optional sign, digits up to the first non-digit; 0 when there are none.
// Saturates at the limits of a 32-bit integer, as reading an int does.
std::int32_t leadingInteger(std::string_view s);

// What "%@" prints for a value (sentrel/value_io.h).
using ::sentrel::formatObject;

}  // namespace sentrel::text
