// What a match must contain, worked out bottom-up over the pattern: for
// each piece, whether it matches one fixed text only, the text every match
// of it starts and ends with, and texts every match of it contains
// somewhere. Joining two pieces joins the end of the first to the start of
// the second; a choice keeps what all its branches share; a piece that may
// repeat zero times promises nothing.
#include "drivedb/pattern_literals.h"

#include <algorithm>
#include <cstddef>
#include <optional>

#include "sentrel/drivedb_parser.h"

namespace sentrel::drivedb {

namespace {

// Bounds that keep the work and the result small whatever the pattern.
constexpr std::size_t kLongestLiteral = 64;
constexpr std::size_t kMostFactors = 8;
constexpr std::size_t kMostLiteralsPerAlternative = 4;
constexpr int kDeepestGroup = 64;
constexpr unsigned kLargestCount = 1000;

// What is known of the texts one piece of a pattern matches.
struct Piece {
  bool exact = false;                // it matches `prefix` only (then suffix == prefix)
  std::string prefix;                // every match starts with it
  std::string suffix;                // every match ends with it
  std::vector<std::string> factors;  // every match contains each

  static Piece text(std::string t) {
    Piece p;
    p.exact = true;
    p.prefix = t;
    p.suffix = std::move(t);
    return p;
  }
};

bool containsText(std::string_view haystack, std::string_view needle) {
  return haystack.find(needle) != std::string_view::npos;
}

// Longest first, without empty texts, repeats, or texts that a longer one
// already contains; at most `most` of them.
void prune(std::vector<std::string>& texts, std::size_t most) {
  std::stable_sort(texts.begin(), texts.end(),
                   [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  std::vector<std::string> kept;
  for (std::string& t : texts) {
    if (t.empty() || kept.size() == most) continue;
    if (std::none_of(kept.begin(), kept.end(),
                     [&](const std::string& k) { return containsText(k, t); }))
      kept.push_back(std::move(t));
  }
  texts = std::move(kept);
}

// Keeps a text within kLongestLiteral bytes; a start keeps its first bytes,
// an end its last ones, so each stays a start or an end of every match.
std::string head(std::string t) {
  if (t.size() > kLongestLiteral) t.resize(kLongestLiteral);
  return t;
}
std::string tail(std::string t) {
  if (t.size() > kLongestLiteral) t.erase(0, t.size() - kLongestLiteral);
  return t;
}

void bound(Piece& p) {
  if (p.exact && p.prefix.size() > kLongestLiteral) p.exact = false;
  p.prefix = head(std::move(p.prefix));
  p.suffix = tail(std::move(p.suffix));
  for (std::string& f : p.factors) f = head(std::move(f));
  prune(p.factors, kMostFactors);
}

// `a` followed by `b`.
Piece join(Piece a, Piece b) {
  Piece out;
  out.factors = std::move(a.factors);
  out.factors.insert(out.factors.end(), std::make_move_iterator(b.factors.begin()),
                     std::make_move_iterator(b.factors.end()));
  if (a.exact && b.exact) {
    out.exact = true;
    out.prefix = a.prefix + b.prefix;
    out.suffix = out.prefix;
  } else {
    out.factors.push_back(a.suffix + b.prefix);
    out.prefix = a.exact ? a.prefix + b.prefix : std::move(a.prefix);
    out.suffix = b.exact ? a.suffix + b.suffix : std::move(b.suffix);
  }
  bound(out);
  return out;
}

// Every text a piece promises, as candidates for literals.
std::vector<std::string> promises(const Piece& p) {
  std::vector<std::string> out = p.factors;
  out.push_back(p.prefix);
  out.push_back(p.suffix);
  return out;
}

// One of the branches.
Piece choice(std::vector<Piece> branches) {
  if (branches.size() == 1) return std::move(branches.front());
  Piece out;
  out.exact = std::all_of(branches.begin(), branches.end(), [&](const Piece& b) {
    return b.exact && b.prefix == branches.front().prefix;
  });
  out.prefix = branches.front().prefix;
  out.suffix = branches.front().suffix;
  for (const Piece& b : branches) {
    std::size_t n = 0;
    while (n < out.prefix.size() && n < b.prefix.size() && out.prefix[n] == b.prefix[n]) ++n;
    out.prefix.resize(n);
    std::size_t m = 0;
    while (m < out.suffix.size() && m < b.suffix.size() &&
           out.suffix[out.suffix.size() - 1 - m] == b.suffix[b.suffix.size() - 1 - m])
      ++m;
    out.suffix.erase(0, out.suffix.size() - m);
  }
  // A text every branch promises (inside something it promises) stays.
  for (const std::string& candidate : promises(branches.front())) {
    if (candidate.empty()) continue;
    const bool shared = std::all_of(branches.begin() + 1, branches.end(), [&](const Piece& b) {
      const std::vector<std::string> theirs = promises(b);
      return std::any_of(theirs.begin(), theirs.end(),
                         [&](const std::string& t) { return containsText(t, candidate); });
    });
    if (shared) out.factors.push_back(candidate);
  }
  bound(out);
  return out;
}

// `p` repeated from `least` to `most` times.
Piece repeat(Piece p, unsigned least, unsigned most) {
  if (least == 0) return Piece{};  // it may match nothing at all
  if (!p.exact) return p;          // the first copy starts it, the last ends it
  // The copies every match starts (and ends) with, as far as the bound
  // allows; only all of them make an exact text.
  std::string copies;
  bool complete = true;
  for (unsigned i = 0; i < least; ++i) {
    if (copies.size() > kLongestLiteral) {
      complete = false;
      break;
    }
    copies += p.prefix;
  }
  if (least == most && complete) {
    Piece out = Piece::text(std::move(copies));
    out.factors = std::move(p.factors);
    bound(out);
    return out;
  }
  Piece out;
  out.prefix = copies;
  out.suffix = std::move(copies);
  out.factors = std::move(p.factors);
  bound(out);
  return out;
}

bool isAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Reads a pattern; `understood` turns false at the first construct it does
// not know, and the result then means nothing.
class Reader {
 public:
  explicit Reader(std::string_view pattern) : p_(pattern) {}

  std::optional<std::vector<Piece>> topLevel() {
    std::vector<Piece> branches = alternatives(0);
    if (!understood_ || i_ != p_.size()) return std::nullopt;  // a stray ")"
    return branches;
  }

 private:
  bool atEnd() const { return i_ >= p_.size(); }
  char peek() const { return p_[i_]; }
  void refuse() {
    understood_ = false;
    i_ = p_.size();
  }

  std::vector<Piece> alternatives(int depth) {
    std::vector<Piece> branches;
    if (depth > kDeepestGroup) {
      refuse();
      return branches;
    }
    branches.push_back(sequence(depth));
    while (understood_ && !atEnd() && peek() == '|') {
      ++i_;
      branches.push_back(sequence(depth));
    }
    return branches;
  }

  Piece sequence(int depth) {
    Piece out = Piece::text("");
    while (understood_ && !atEnd() && peek() != '|' && peek() != ')') {
      std::optional<Piece> a = atom(depth);
      if (!a) {
        refuse();
        break;
      }
      Piece piece = std::move(*a);
      unsigned least = 1, most = 1;
      if (quantifier(least, most)) piece = repeat(std::move(piece), least, most);
      if (!understood_) break;
      out = join(std::move(out), std::move(piece));
    }
    return out;
  }

  // A quantifier after an atom, with its lazy or possessive mark; false when
  // none follows. Two quantifiers in a row are not understood.
  bool quantifier(unsigned& least, unsigned& most) {
    if (atEnd()) return false;
    const char c = peek();
    if (c == '?' || c == '*' || c == '+') {
      ++i_;
      least = c == '+' ? 1 : 0;
      most = c == '?' ? 1 : kLargestCount;
    } else if (c == '{') {
      if (!interval(least, most)) {
        refuse();
        return false;
      }
    } else {
      return false;
    }
    if (!atEnd() && (peek() == '?' || peek() == '+')) ++i_;
    if (!atEnd() && (peek() == '?' || peek() == '*' || peek() == '+' || peek() == '{')) refuse();
    return true;
  }

  // {n}, {n,} or {n,m}.
  bool interval(unsigned& least, unsigned& most) {
    ++i_;  // '{'
    if (!number(least)) return false;
    most = least;
    if (!atEnd() && peek() == ',') {
      ++i_;
      most = kLargestCount;
      if (!atEnd() && peek() != '}' && !number(most)) return false;
    }
    if (atEnd() || peek() != '}' || most < least) return false;
    ++i_;
    return true;
  }

  bool number(unsigned& out) {
    const std::size_t start = i_;
    out = 0;
    while (!atEnd() && peek() >= '0' && peek() <= '9') {
      if (i_ - start >= 4) return false;
      out = out * 10 + static_cast<unsigned>(peek() - '0');
      ++i_;
    }
    if (i_ == start) return false;
    out = std::min(out, kLargestCount);
    return true;
  }

  std::optional<Piece> atom(int depth) {
    const char c = peek();
    switch (c) {
      case '(':
        return group(depth);
      case '[':
        return skipSet() ? std::optional<Piece>(Piece{}) : std::nullopt;
      case '.':
        ++i_;
        return Piece{};
      case '^':
      case '$':
        ++i_;
        return Piece::text("");  // matches no character
      case '\\':
        return escape();
      case '*':
      case '+':
      case '?':
      case '{':
      case ']':
      case '}':
        return std::nullopt;
      default:
        return character();
    }
  }

  std::optional<Piece> group(int depth) {
    ++i_;  // '('
    if (!atEnd() && peek() == '?') {
      if (i_ + 1 >= p_.size() || p_[i_ + 1] != ':') return std::nullopt;  // flags, look-arounds
      i_ += 2;
    }
    std::vector<Piece> branches = alternatives(depth + 1);
    if (!understood_ || atEnd() || peek() != ')') return std::nullopt;
    ++i_;
    return choice(std::move(branches));
  }

  // A bracketed set matches one character we know nothing of. Only a flat
  // set is understood: a nested one, a "]" right at its start or "\Q" in
  // it could end somewhere else than the first plain "]".
  bool skipSet() {
    ++i_;  // '['
    if (!atEnd() && peek() == '^') ++i_;
    if (!atEnd() && peek() == ']') return false;
    while (!atEnd()) {
      const char c = peek();
      if (c == ']') {
        ++i_;
        return true;
      }
      if (c == '[') return false;
      if (c == '\\') {
        if (i_ + 1 >= p_.size() || p_[i_ + 1] == 'Q') return false;
        ++i_;
      }
      ++i_;
    }
    return false;
  }

  std::optional<Piece> escape() {
    if (i_ + 1 >= p_.size()) return std::nullopt;
    const char c = p_[i_ + 1];
    i_ += 2;
    if (isAsciiAlnum(c)) {
      switch (c) {
        // One character (or a line break pair, or a grapheme) of a class.
        case 'd':
        case 'D':
        case 'w':
        case 'W':
        case 's':
        case 'S':
        case 'h':
        case 'H':
        case 'v':
        case 'V':
        case 'R':
        case 'X':
          return Piece{};
        // Assertions: they match no character.
        case 'b':
        case 'B':
        case 'A':
        case 'z':
        case 'Z':
        case 'G':
          return Piece::text("");
        default:
          return std::nullopt;  // numeric escapes, back references, \Q, \p{...}, ...
      }
    }
    // Escaped punctuation or space stands for itself.
    if (c >= 0x20 && c <= 0x7E) return Piece::text(std::string(1, c));
    return std::nullopt;
  }

  // One literal character: all bytes of its UTF-8 sequence, so a
  // quantifier after it repeats the whole character.
  std::optional<Piece> character() {
    const auto lead = static_cast<unsigned char>(peek());
    std::size_t length = lead < 0x80    ? 1
                         : lead >= 0xF0 ? 4
                         : lead >= 0xE0 ? 3
                         : lead >= 0xC0 ? 2
                                        : 0;
    if (length == 0 || i_ + length > p_.size()) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(p_[i_ + k]) & 0xC0) != 0x80) return std::nullopt;
    }
    Piece out = Piece::text(std::string(p_.substr(i_, length)));
    i_ += length;
    return out;
  }

  std::string_view p_;
  std::size_t i_ = 0;
  bool understood_ = true;
};

}  // namespace

PatternLiterals requiredLiterals(std::string_view pattern) {
  // ICU reads bad UTF-8 as U+FFFD, which a subject may hold as such.
  if (!isValidUtf8(pattern)) return {};
  std::optional<std::vector<Piece>> branches = Reader(pattern).topLevel();
  if (!branches) return {};
  PatternLiterals out;
  for (const Piece& branch : *branches) {
    std::vector<std::string> literals = promises(branch);
    prune(literals, kMostLiteralsPerAlternative);
    if (literals.empty()) return {};  // this alternative may match anything
    out.alternatives.push_back(std::move(literals));
  }
  return out;
}

bool mayMatch(const PatternLiterals& literals, std::string_view subject) {
  if (literals.always()) return true;
  return std::any_of(literals.alternatives.begin(), literals.alternatives.end(),
                     [&](const std::vector<std::string>& all) {
                       return std::all_of(all.begin(), all.end(), [&](const std::string& l) {
                         return containsText(subject, l);
                       });
                     });
}

}  // namespace sentrel::drivedb
