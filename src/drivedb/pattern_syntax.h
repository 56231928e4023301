// How a drive database pattern reads, as far as Sentrel reads it itself:
// the tree of one ICU pattern (no flags: case-sensitive, "." not matching
// line breaks) made of literal characters, escaped punctuation, ".",
// bracketed sets, groups "(...)" and "(?:...)", alternation, assertions
// ("^", "$", "\b", ...), the one-character classes ("\d", "\w", "\s", their
// capitals, "\h", "\v", "\R", "\X") and the quantifiers "?", "*", "+",
// "{n}", "{n,}" and "{n,m}" (lazy or possessive). Inline flags,
// look-arounds, back references, "\Q", numeric and property escapes, a
// lone "]" or "}", or a group nested past 64 levels are not read: ICU
// alone decides such a pattern.
//
// Two readers use the tree: the literals every match must contain
// (pattern_literals.h), which need only know where characters and
// repeats are, and the automaton that matches printable ASCII without ICU
// (pattern_automaton.h), which needs to know exactly which characters each
// node matches and refuses a tree where it does not.
#pragma once

#include <bitset>
#include <climits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sentrel::drivedb {

// The printable ASCII characters, ' ' to '~', by code.
using PrintableSet = std::bitset<128>;

struct PatternNode {
  enum class Kind {
    character,  // one literal character: `text` holds its UTF-8 bytes
    oneOf,      // one character of a class or set: `chars`, when exactly known
    assertion,  // matches no character: `assertion` is '^', '$' or the escape's letter
    sequence,   // `children` one after another (none: the empty text)
    choice,     // one of `children`
    repeat,     // `children[0]` from `least` to `most` times
  };
  Kind kind = Kind::sequence;
  std::string text;
  // For oneOf: which printable ASCII characters it matches, when the set's
  // syntax was simple enough to know (not for "\h", "\R", "[\p{L}]", a
  // range of non-ASCII characters, ...).
  std::optional<PrintableSet> chars;
  char assertion = 0;
  unsigned least = 1;
  unsigned most = 1;  // kUnbounded for no upper bound
  std::vector<PatternNode> children;

  static constexpr unsigned kUnbounded = ~0u;
};

// The tree of a pattern; empty when the pattern uses syntax not read here,
// or is not UTF-8.
std::optional<PatternNode> parsePattern(std::string_view pattern);

}  // namespace sentrel::drivedb
