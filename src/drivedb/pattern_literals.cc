// What a match must contain, worked out bottom-up over the pattern: for
// each piece, whether it matches one fixed text only, the text every match
// of it starts and ends with, and texts every match of it contains
// somewhere. Joining two pieces joins the end of the first to the start of
// the second; a choice keeps what all its branches share; a piece that may
// repeat zero times promises nothing.
#include "drivedb/pattern_literals.h"

#include <algorithm>
#include <cstddef>

#include "drivedb/pattern_syntax.h"

namespace sentrel::drivedb {

namespace {

// Bounds that keep the work and the result small whatever the pattern.
constexpr std::size_t kLongestLiteral = 64;
constexpr std::size_t kMostFactors = 8;
constexpr std::size_t kMostLiteralsPerAlternative = 4;

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

// What is known of the texts a node of the tree matches.
Piece pieceOf(const PatternNode& node) {
  switch (node.kind) {
    case PatternNode::Kind::character:
      return Piece::text(node.text);
    case PatternNode::Kind::oneOf:
      return Piece{};  // one character we know nothing of
    case PatternNode::Kind::assertion:
      return Piece::text("");  // matches no character
    case PatternNode::Kind::sequence: {
      Piece out = Piece::text("");
      for (const PatternNode& child : node.children) out = join(std::move(out), pieceOf(child));
      return out;
    }
    case PatternNode::Kind::choice: {
      std::vector<Piece> branches;
      for (const PatternNode& child : node.children) branches.push_back(pieceOf(child));
      return choice(std::move(branches));
    }
    case PatternNode::Kind::repeat:
      return repeat(pieceOf(node.children.front()), node.least, node.most);
  }
  return Piece{};
}

}  // namespace

PatternLiterals requiredLiterals(std::string_view pattern) {
  const std::optional<PatternNode> tree = parsePattern(pattern);
  if (!tree) return {};
  // The tree is a choice of its top-level alternatives.
  PatternLiterals out;
  for (const PatternNode& branch : tree->children) {
    std::vector<std::string> literals = promises(pieceOf(branch));
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
