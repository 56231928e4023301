// The literal texts that every match of a drive database pattern must
// contain, so a lookup can pass over a pattern without compiling or running
// it when the drive's model holds none of them.
//
// A pattern is read as ICU reads it (no flags: case-sensitive, "." not
// matching line breaks), but only as far as the extraction understands it:
// literal characters, escaped punctuation, ".", bracketed sets, groups
// "(...)" and "(?:...)", alternation, the anchors "^" and "$", the
// one-character classes "\d", "\w", "\s" (and their capitals) and the
// quantifiers "?", "*", "+" and "{n}", "{n,}", "{n,m}" (lazy or
// possessive). Anything else (inline flags, look-arounds, back references,
// "\Q", numeric escapes, a lone "]" or "}") gives no literals: such a
// pattern is tried on every model, so the lookup still answers what a full
// scan answers.
//
// The claim is conservative: a pattern may fail to match a subject that
// holds its literals, never the other way round. Texts are UTF-8 and the
// literals are byte strings; a subject that is not UTF-8 must be matched
// without the filter (ICU reads its bad bytes as U+FFFD).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sentrel::drivedb {

// For each top-level alternative of a pattern, the literals a match of it
// contains, longest first. A subject can be matched by the pattern only if,
// for some alternative, it contains every literal of that alternative.
// No alternatives at all means no filter: the pattern is always tried.
struct PatternLiterals {
  std::vector<std::vector<std::string>> alternatives;

  bool always() const { return alternatives.empty(); }
  friend bool operator==(const PatternLiterals&, const PatternLiterals&) = default;
};

// The literals of one pattern; always() when the pattern uses syntax the
// extraction does not understand, or an alternative needs no literal.
PatternLiterals requiredLiterals(std::string_view pattern);

// Whether a match is possible by the literals alone: true when always(),
// or when one alternative's literals are all in `subject`.
bool mayMatch(const PatternLiterals& literals, std::string_view subject);

}  // namespace sentrel::drivedb
