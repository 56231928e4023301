// Matching a drive database pattern against printable ASCII without ICU.
//
// Nearly every pattern of smartmontools' file is a plain regular
// expression: characters, sets, groups, alternation, repeats and the
// anchors "^" and "$". Whether such a pattern matches somewhere in a
// subject does not depend on the engine, so a small automaton answers what
// ICU answers, and a lookup of an ASCII model need not load or run ICU at
// all. The automaton is built only where every node of the pattern's tree
// (pattern_syntax.h) says exactly which characters it matches, and runs
// only on subjects of printable ASCII (' ' to '~'), where "." and "$" have
// no line breaks to mind. Everything else goes to ICU.
//
// ICU refuses a pattern that starts with a quantifier ("*", "+" or "?":
// nothing to repeat), so such a pattern never matches; its automaton says
// so without asking ICU. (Entries whose model is the inner lines of a
// block comment, as the file's reading keeps them, start that way.)
//
// The automaton keeps the set of states a match may be in, one step per
// subject character, so a match takes time in proportion to the subject's
// length times the pattern's size: no pattern can make it backtrack
// without end, and none needs ICU's time limit.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "drivedb/pattern_syntax.h"

namespace sentrel::drivedb {

class PatternAutomaton {
 public:
  // Empty when the pattern is not read (pattern_syntax.h), or its tree
  // holds a node whose characters are not exactly known, an assertion
  // other than "^" and "$", a character outside printable ASCII, or
  // repeats that would make it larger than kMostStates.
  static std::optional<PatternAutomaton> of(std::string_view pattern);
  static std::optional<PatternAutomaton> of(const PatternNode& tree);

  static constexpr std::size_t kMostStates = 4096;

  // True when every byte of `subject` is printable ASCII: what findsIn
  // may be given.
  static bool canMatch(std::string_view subject);

  // Whether the pattern matches somewhere in `subject` (canMatch).
  bool findsIn(std::string_view subject) const;

  // True for a pattern ICU cannot compile, which matches nothing.
  bool matchesNothing() const { return states_.empty(); }

  std::size_t stateCount() const { return states_.size(); }

 private:
  struct State {
    enum class Kind : std::uint8_t { oneOf, split, start, end, match };
    Kind kind = Kind::match;
    std::uint32_t out = 0;    // the next state (split: the first way)
    std::uint32_t other = 0;  // split: the second way
    std::uint32_t set = 0;    // oneOf: an index into sets_
  };
  class Builder;

  bool addClosure(std::vector<std::uint32_t>& list, std::uint32_t state, std::size_t position,
                  std::size_t length, std::vector<std::uint32_t>& marks,
                  std::uint32_t generation) const;

  std::vector<State> states_;
  std::vector<PrintableSet> sets_;
  std::uint32_t start_ = 0;
};

}  // namespace sentrel::drivedb
