// Which entries of a database a model string can match, found from the
// literals of their model patterns (pattern_literals.h) without running a
// single pattern.
//
// Each alternative of each pattern is filed under its longest literal. A
// search walks the model once, looking every pair of adjacent bytes up in
// a table of those literals' first two bytes; an alternative whose literal
// is found there is a candidate, confirmed when the model also holds its
// other literals. Entries whose pattern has no literals are always
// candidates.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "drivedb/pattern_literals.h"

namespace sentrel::drivedb {

// The literals of every entry's model pattern, flat: entry e has the
// alternatives [entryStart[e], entryStart[e + 1]), alternative a the
// literals [alternativeStart[a], alternativeStart[a + 1]), longest first.
// The texts are views into whatever holds them (PatternLiterals, a cache's
// bytes), which must outlive the table and every index made from it.
struct LiteralTable {
  std::vector<std::uint32_t> entryStart{0};
  std::vector<std::uint32_t> alternativeStart{0};
  std::vector<std::string_view> literals;

  std::size_t entryCount() const { return entryStart.size() - 1; }
  // Appends one entry's literals (views into `entry`).
  void add(const PatternLiterals& entry);
  // The literals of entry `e` as PatternLiterals (copies).
  PatternLiterals entry(std::size_t e) const;
};

class LiteralIndex {
 public:
  LiteralIndex() = default;
  // Keeps views into the table's texts.
  explicit LiteralIndex(const LiteralTable& table);

  // The entries, in ascending order, whose pattern may match `subject` by
  // its literals (mayMatch). `subject` must be UTF-8 (see pattern_literals.h).
  std::vector<std::uint32_t> candidates(std::string_view subject) const;

 private:
  struct Alternative {
    std::uint32_t entry;
    std::string_view key;      // its longest literal
    std::uint32_t firstOther;  // its other literals: others_[firstOther, endOther)
    std::uint32_t endOther;
  };

  // Adds the entry of alternative `a` when the subject also holds its
  // other literals.
  void confirm(std::uint32_t a, std::string_view subject, std::vector<std::uint32_t>& out) const;

  std::vector<Alternative> alternatives_;
  std::vector<std::string_view> others_;
  // Alternatives by the first byte of their key (one-byte keys) and by a
  // hash of its first two bytes (longer keys), each as ranges of byKey_.
  std::vector<std::uint32_t> singleStart_;
  std::vector<std::uint32_t> pairStart_;
  std::vector<std::uint32_t> byKey_;
  std::vector<std::uint32_t> always_;  // entries tried on every subject
};

}  // namespace sentrel::drivedb
