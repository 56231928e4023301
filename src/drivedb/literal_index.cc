#include "drivedb/literal_index.h"

#include <algorithm>
#include <cstring>

namespace sentrel::drivedb {

namespace {

constexpr std::uint32_t kPairBits = 12;

std::uint32_t pairBucket(unsigned char first, unsigned char second) {
  const std::uint32_t pair = static_cast<std::uint32_t>(first) << 8 | second;
  return (pair * 0x9E3779B1u) >> (32 - kPairBits);
}

// Turns counts per slot into the starts of each slot's range, the first
// at `total` (one more element than slots, the last one the end).
void countsToStarts(std::vector<std::uint32_t>& starts, std::uint32_t total) {
  for (std::uint32_t& s : starts) {
    const std::uint32_t count = s;
    s = total;
    total += count;
  }
}

}  // namespace

void LiteralTable::add(const PatternLiterals& entry) {
  for (const std::vector<std::string>& all : entry.alternatives) {
    literals.insert(literals.end(), all.begin(), all.end());
    alternativeStart.push_back(static_cast<std::uint32_t>(literals.size()));
  }
  entryStart.push_back(static_cast<std::uint32_t>(alternativeStart.size() - 1));
}

PatternLiterals LiteralTable::entry(std::size_t e) const {
  PatternLiterals out;
  for (std::uint32_t a = entryStart[e]; a < entryStart[e + 1]; ++a)
    out.alternatives.emplace_back(literals.begin() + alternativeStart[a],
                                  literals.begin() + alternativeStart[a + 1]);
  return out;
}

LiteralIndex::LiteralIndex(const LiteralTable& table) {
  alternatives_.reserve(table.alternativeStart.size() - 1);
  for (std::uint32_t entry = 0; entry < table.entryCount(); ++entry) {
    if (table.entryStart[entry] == table.entryStart[entry + 1]) always_.push_back(entry);
    for (std::uint32_t a = table.entryStart[entry]; a < table.entryStart[entry + 1]; ++a) {
      const std::uint32_t first = table.alternativeStart[a], end = table.alternativeStart[a + 1];
      const auto firstOther = static_cast<std::uint32_t>(others_.size());
      others_.insert(others_.end(), table.literals.begin() + first + 1,
                     table.literals.begin() + end);
      alternatives_.push_back(Alternative{entry, table.literals[first], firstOther,
                                          static_cast<std::uint32_t>(others_.size())});
    }
  }

  // Alternatives by the first byte or the first two bytes of their key.
  singleStart_.assign(256 + 1, 0);
  pairStart_.assign((1u << kPairBits) + 1, 0);
  const auto slotOf = [](std::vector<std::uint32_t>& singles, std::vector<std::uint32_t>& pairs,
                         std::string_view key) -> std::uint32_t& {
    const auto first = static_cast<unsigned char>(key[0]);
    return key.size() == 1 ? singles[first]
                           : pairs[pairBucket(first, static_cast<unsigned char>(key[1]))];
  };
  for (const Alternative& a : alternatives_) ++slotOf(singleStart_, pairStart_, a.key);
  // Both kinds of range share byKey_: the pairs' come after the singles'.
  countsToStarts(singleStart_, 0);
  countsToStarts(pairStart_, singleStart_.back());
  byKey_.resize(alternatives_.size());
  std::vector<std::uint32_t> nextSingle(singleStart_.begin(), singleStart_.end() - 1);
  std::vector<std::uint32_t> nextPair(pairStart_.begin(), pairStart_.end() - 1);
  for (std::uint32_t a = 0; a < alternatives_.size(); ++a)
    byKey_[slotOf(nextSingle, nextPair, alternatives_[a].key)++] = a;
}

void LiteralIndex::confirm(std::uint32_t a, std::string_view subject,
                           std::vector<std::uint32_t>& out) const {
  const Alternative& alternative = alternatives_[a];
  for (std::uint32_t o = alternative.firstOther; o < alternative.endOther; ++o) {
    if (subject.find(others_[o]) == std::string_view::npos) return;
  }
  out.push_back(alternative.entry);
}

std::vector<std::uint32_t> LiteralIndex::candidates(std::string_view subject) const {
  std::vector<std::uint32_t> out = always_;
  if (alternatives_.empty()) return out;
  std::vector<bool> seen(alternatives_.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(subject.data());
  const std::size_t n = subject.size();
  for (std::size_t i = 0; i < n; ++i) {
    for (std::uint32_t s = singleStart_[bytes[i]]; s < singleStart_[bytes[i] + 1u]; ++s) {
      const std::uint32_t a = byKey_[s];
      if (!seen[a]) {
        seen[a] = true;
        confirm(a, subject, out);
      }
    }
    if (i + 1 == n) break;
    const std::uint32_t bucket = pairBucket(bytes[i], bytes[i + 1]);
    for (std::uint32_t s = pairStart_[bucket]; s < pairStart_[bucket + 1]; ++s) {
      const std::uint32_t a = byKey_[s];
      const std::string_view key = alternatives_[a].key;
      if (seen[a] || key.size() > n - i || std::memcmp(key.data(), bytes + i, key.size()) != 0)
        continue;
      seen[a] = true;
      confirm(a, subject, out);
    }
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

}  // namespace sentrel::drivedb
