#include "drivedb/pattern_syntax.h"

#include <cstddef>

#include "sentrel/drivedb_parser.h"

namespace sentrel::drivedb {

namespace {

constexpr int kDeepestGroup = 64;

bool isAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isPrintable(char c) {
  return c >= 0x20 && c <= 0x7E;
}

PrintableSet printableWhere(bool (*test)(char)) {
  PrintableSet out;
  for (char c = 0x20; c <= 0x7E; ++c)
    if (test(c)) out.set(static_cast<std::size_t>(c));
  return out;
}

const PrintableSet& allPrintable() {
  static const PrintableSet all = printableWhere([](char) { return true; });
  return all;
}

// ICU's \d, \w and \s (Unicode digits, word characters and white space),
// and their capitals, as far as printable ASCII goes; empty for a letter
// that is not one of them.
std::optional<PrintableSet> classOf(char letter) {
  static const PrintableSet digits = printableWhere([](char c) { return c >= '0' && c <= '9'; });
  static const PrintableSet word =
      printableWhere([](char c) { return isAsciiAlnum(c) || c == '_'; });
  static const PrintableSet space = printableWhere([](char c) { return c == ' '; });
  switch (letter) {
    case 'd':
      return digits;
    case 'D':
      return allPrintable() & ~digits;
    case 'w':
      return word;
    case 'W':
      return allPrintable() & ~word;
    case 's':
      return space;
    case 'S':
      return allPrintable() & ~space;
    default:
      return std::nullopt;
  }
}

PatternNode oneOf(std::optional<PrintableSet> chars) {
  PatternNode n;
  n.kind = PatternNode::Kind::oneOf;
  n.chars = chars;
  return n;
}

PatternNode assertion(char which) {
  PatternNode n;
  n.kind = PatternNode::Kind::assertion;
  n.assertion = which;
  return n;
}

class Reader {
 public:
  explicit Reader(std::string_view pattern) : p_(pattern) {}

  std::optional<PatternNode> topLevel() {
    PatternNode tree = alternatives(0);
    if (!understood_ || i_ != p_.size()) return std::nullopt;  // a stray ")"
    return tree;
  }

 private:
  bool atEnd() const { return i_ >= p_.size(); }
  char peek() const { return p_[i_]; }
  void refuse() {
    understood_ = false;
    i_ = p_.size();
  }

  // Always a choice, of one branch or more.
  PatternNode alternatives(int depth) {
    PatternNode out;
    out.kind = PatternNode::Kind::choice;
    if (depth > kDeepestGroup) {
      refuse();
      return out;
    }
    out.children.push_back(sequence(depth));
    while (understood_ && !atEnd() && peek() == '|') {
      ++i_;
      out.children.push_back(sequence(depth));
    }
    return out;
  }

  PatternNode sequence(int depth) {
    PatternNode out;
    out.kind = PatternNode::Kind::sequence;
    while (understood_ && !atEnd() && peek() != '|' && peek() != ')') {
      std::optional<PatternNode> a = atom(depth);
      if (!a) {
        refuse();
        break;
      }
      PatternNode piece = std::move(*a);
      unsigned least = 1, most = 1;
      if (quantifier(least, most)) {
        PatternNode repeated;
        repeated.kind = PatternNode::Kind::repeat;
        repeated.least = least;
        repeated.most = most;
        repeated.children.push_back(std::move(piece));
        piece = std::move(repeated);
      }
      if (!understood_) break;
      out.children.push_back(std::move(piece));
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
      most = c == '?' ? 1 : PatternNode::kUnbounded;
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
      most = PatternNode::kUnbounded;
      if (!atEnd() && peek() != '}' && !number(most)) return false;
    }
    if (atEnd() || peek() != '}' || most < least) return false;
    ++i_;
    return true;
  }

  // At most four digits.
  bool number(unsigned& out) {
    const std::size_t start = i_;
    out = 0;
    while (!atEnd() && peek() >= '0' && peek() <= '9') {
      if (i_ - start >= 4) return false;
      out = out * 10 + static_cast<unsigned>(peek() - '0');
      ++i_;
    }
    return i_ != start;
  }

  std::optional<PatternNode> atom(int depth) {
    const char c = peek();
    switch (c) {
      case '(':
        return group(depth);
      case '[':
        return set();
      case '.':
        ++i_;
        return oneOf(allPrintable());
      case '^':
      case '$':
        ++i_;
        return assertion(c);
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

  std::optional<PatternNode> group(int depth) {
    ++i_;  // '('
    if (!atEnd() && peek() == '?') {
      if (i_ + 1 >= p_.size() || p_[i_ + 1] != ':') return std::nullopt;  // flags, look-arounds
      i_ += 2;
    }
    PatternNode branches = alternatives(depth + 1);
    if (!understood_ || atEnd() || peek() != ')') return std::nullopt;
    ++i_;
    return branches;
  }

  // A bracketed set. Only a flat one is read: a nested one, a "]" right at
  // its start or "\Q" in it could end somewhere else than the first plain
  // "]". Its characters are known exactly when it holds only printable
  // ASCII characters, escaped punctuation, ranges between two of them,
  // "\d", "\w", "\s" and their capitals, with "-" only first or last, and
  // none of the characters ICU's set syntax gives a meaning ("&", "$",
  // "{", "}", ":", "^" after the start).
  std::optional<PatternNode> set() {
    ++i_;  // '['
    bool negated = false;
    if (!atEnd() && peek() == '^') {
      negated = true;
      ++i_;
    }
    if (!atEnd() && peek() == ']') return std::nullopt;
    const std::size_t first = i_;
    PrintableSet members;
    bool exact = true;
    int previous = -1;  // the last single character, which a range may start at
    while (!atEnd()) {
      const char c = peek();
      if (c == ']') {
        ++i_;
        if (!exact) return oneOf(std::nullopt);
        return oneOf(negated ? allPrintable() & ~members : members);
      }
      if (c == '[') return std::nullopt;
      if (c == '\\') {
        if (i_ + 1 >= p_.size() || p_[i_ + 1] == 'Q') return std::nullopt;
        const char e = p_[i_ + 1];
        i_ += 2;
        if (std::optional<PrintableSet> cls = classOf(e)) {
          members |= *cls;
          previous = -1;
        } else if (isPrintable(e) && !isAsciiAlnum(e)) {
          members.set(static_cast<std::size_t>(e));
          previous = static_cast<unsigned char>(e);
        } else {
          exact = false;
        }
        continue;
      }
      ++i_;
      if (c == '-' && i_ - 1 != first && !atEnd() && peek() != ']') {
        // A range from the character before to the one after.
        const char to = peek();
        // "--" is ICU's set difference: a range may not start or end with "-".
        if (previous < 0 || previous == '-' || !isPrintable(to) || to == '\\' || to == '[' ||
            to == '-' || to < previous || isSetSpecial(to)) {
          exact = false;
          continue;
        }
        for (int k = previous; k <= to; ++k) members.set(static_cast<std::size_t>(k));
        ++i_;
        previous = -1;
        continue;
      }
      if (!isPrintable(c) || isSetSpecial(c)) {
        exact = false;
        previous = -1;
        continue;
      }
      members.set(static_cast<std::size_t>(c));
      previous = static_cast<unsigned char>(c);
    }
    return std::nullopt;
  }

  static bool isSetSpecial(char c) {
    return c == '&' || c == '$' || c == '{' || c == '}' || c == ':' || c == '^';
  }

  std::optional<PatternNode> escape() {
    if (i_ + 1 >= p_.size()) return std::nullopt;
    const char c = p_[i_ + 1];
    i_ += 2;
    if (isAsciiAlnum(c)) {
      switch (c) {
        case 'd':
        case 'D':
        case 'w':
        case 'W':
        case 's':
        case 'S':
          return oneOf(classOf(c));
        // One character (or a line break pair, or a grapheme) of a class
        // not modelled.
        case 'h':
        case 'H':
        case 'v':
        case 'V':
        case 'R':
        case 'X':
          return oneOf(std::nullopt);
        case 'b':
        case 'B':
        case 'A':
        case 'z':
        case 'Z':
        case 'G':
          return assertion(c);
        default:
          return std::nullopt;  // numeric escapes, back references, \Q, \p{...}, ...
      }
    }
    // Escaped punctuation or space stands for itself.
    if (isPrintable(c)) {
      PatternNode n;
      n.kind = PatternNode::Kind::character;
      n.text = std::string(1, c);
      return n;
    }
    return std::nullopt;
  }

  // One literal character: all bytes of its UTF-8 sequence, so a
  // quantifier after it repeats the whole character.
  std::optional<PatternNode> character() {
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
    PatternNode n;
    n.kind = PatternNode::Kind::character;
    n.text = std::string(p_.substr(i_, length));
    i_ += length;
    return n;
  }

  std::string_view p_;
  std::size_t i_ = 0;
  bool understood_ = true;
};

}  // namespace

std::optional<PatternNode> parsePattern(std::string_view pattern) {
  // ICU reads bad UTF-8 as U+FFFD, which a subject may hold as such.
  if (!isValidUtf8(pattern)) return std::nullopt;
  return Reader(pattern).topLevel();
}

}  // namespace sentrel::drivedb
