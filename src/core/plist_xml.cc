// The XML property-list form: a small reader for exactly the elements a
// property list has (plist, dict, key, array, string, integer, real, true,
// false, date, data), with the XML pieces tools put around them (the
// declaration, a DOCTYPE, comments, CDATA sections, character entities).
// Every read is checked against the end of the text.
#include <charconv>
#include <cmath>
#include <limits>

#include "core/plist_formats.h"
#include "core/text.h"
#include "sentrel/plist_reader.h"

namespace sentrel::plist {

namespace {

struct Failure {
  std::size_t at;
  std::string message;
};

struct Tag {
  std::string_view name;
  bool selfClosing = false;
};

bool isNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == ':' || c == '.' || c == '-';
}

bool isXmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

int base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Base64 with white space anywhere and the padding optional.
std::optional<Data> decodeBase64(std::string_view text) {
  Data out;
  std::uint32_t bits = 0;
  int count = 0;
  bool padding = false;
  for (char c : text) {
    if (isXmlSpace(c)) continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    int d = base64Digit(c);
    if (d < 0 || padding) return std::nullopt;
    bits = bits << 6 | static_cast<std::uint32_t>(d);
    if (++count == 4) {
      out.push_back(static_cast<std::uint8_t>(bits >> 16));
      out.push_back(static_cast<std::uint8_t>(bits >> 8));
      out.push_back(static_cast<std::uint8_t>(bits));
      bits = 0;
      count = 0;
    }
  }
  if (count == 1) return std::nullopt;
  if (count == 2) out.push_back(static_cast<std::uint8_t>(bits >> 4));
  if (count == 3) {
    out.push_back(static_cast<std::uint8_t>(bits >> 10));
    out.push_back(static_cast<std::uint8_t>(bits >> 2));
  }
  return out;
}

class XmlReader {
 public:
  explicit XmlReader(std::string_view s) : s_(s) {}

  Value document() {
    if (s_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    skipMisc();
    if (pos_ >= s_.size() || s_[pos_] != '<') fail("not a property list");
    Tag tag = openTag();
    Value root;
    if (tag.name == "plist") {
      if (tag.selfClosing) fail("the plist element holds no value");
      skipSpaceAndComments();
      if (startsWith("</")) fail("the plist element holds no value");
      root = value(openTag(), 1);
      skipSpaceAndComments();
      closeTag("plist");
    } else {
      root = value(tag, 0);
    }
    skipMisc();
    if (pos_ != s_.size()) fail("unexpected content after the property list");
    return root;
  }

  std::size_t lineOf(std::size_t at) const {
    std::size_t line = 1;
    for (std::size_t i = 0; i < at && i < s_.size(); ++i) line += s_[i] == '\n';
    return line;
  }

 private:
  [[noreturn]] void fail(std::string message) { throw Failure{pos_, std::move(message)}; }

  bool startsWith(std::string_view prefix) const {
    return s_.substr(pos_, prefix.size()) == prefix;
  }

  void skipPast(std::string_view end, const char* what) {
    std::size_t hit = s_.find(end, pos_);
    if (hit == std::string_view::npos) fail(std::string("unterminated ") + what);
    pos_ = hit + end.size();
  }

  void skipSpace() {
    while (pos_ < s_.size() && isXmlSpace(s_[pos_])) ++pos_;
  }

  void skipSpaceAndComments() {
    for (;;) {
      skipSpace();
      if (!startsWith("<!--")) return;
      skipPast("-->", "comment");
    }
  }

  // What may stand outside the root element: the declaration, processing
  // instructions, comments and a DOCTYPE (with an internal subset).
  void skipMisc() {
    for (;;) {
      skipSpaceAndComments();
      if (startsWith("<?")) {
        skipPast("?>", "processing instruction");
      } else if (startsWith("<!DOCTYPE")) {
        skipDoctype();
      } else {
        return;
      }
    }
  }

  void skipDoctype() {
    int brackets = 0;
    char quote = 0;
    for (pos_ += 9; pos_ < s_.size(); ++pos_) {
      char c = s_[pos_];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '[') {
        ++brackets;
      } else if (c == ']') {
        --brackets;
      } else if (c == '>' && brackets <= 0) {
        ++pos_;
        return;
      }
    }
    fail("unterminated DOCTYPE");
  }

  Tag openTag() {
    if (pos_ >= s_.size() || s_[pos_] != '<') fail("expected an element");
    ++pos_;
    std::size_t start = pos_;
    while (pos_ < s_.size() && isNameChar(s_[pos_])) ++pos_;
    Tag tag{s_.substr(start, pos_ - start)};
    if (tag.name.empty()) fail("expected an element name");
    // Attributes (the plist's version) carry nothing the value needs.
    char quote = 0;
    for (; pos_ < s_.size(); ++pos_) {
      char c = s_[pos_];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        tag.selfClosing = s_[pos_ - 1] == '/';
        ++pos_;
        return tag;
      } else if (c == '<') {
        break;
      }
    }
    fail("unterminated <" + std::string(tag.name) + "> tag");
  }

  void closeTag(std::string_view name) {
    if (!startsWith("</")) fail("expected </" + std::string(name) + ">");
    pos_ += 2;
    if (s_.substr(pos_, name.size()) != name) fail("expected </" + std::string(name) + ">");
    pos_ += name.size();
    skipSpace();
    if (pos_ >= s_.size() || s_[pos_] != '>') fail("expected </" + std::string(name) + ">");
    ++pos_;
  }

  // The character content of a text element up to its end tag.
  std::string textOf(const Tag& tag) {
    std::string out;
    if (tag.selfClosing) return out;
    for (;;) {
      std::size_t stop = s_.find_first_of("<&", pos_);
      if (stop == std::string_view::npos) fail("unterminated <" + std::string(tag.name) + ">");
      out.append(s_.substr(pos_, stop - pos_));
      pos_ = stop;
      if (s_[pos_] == '&') {
        entity(out);
      } else if (startsWith("<![CDATA[")) {
        pos_ += 9;
        std::size_t end = s_.find("]]>", pos_);
        if (end == std::string_view::npos) fail("unterminated CDATA section");
        out.append(s_.substr(pos_, end - pos_));
        pos_ = end + 3;
      } else if (startsWith("<!--")) {
        skipPast("-->", "comment");
      } else if (startsWith("</")) {
        closeTag(tag.name);
        break;
      } else {
        fail("unexpected element inside <" + std::string(tag.name) + ">");
      }
    }
    if (!text::isValidUtf8(out)) fail("text that is not UTF-8");
    return out;
  }

  void entity(std::string& out) {
    std::size_t semi = s_.find(';', pos_);
    if (semi == std::string_view::npos || semi - pos_ > 12) fail("malformed character entity");
    std::string_view name = s_.substr(pos_ + 1, semi - pos_ - 1);
    if (name == "amp") {
      out += '&';
    } else if (name == "lt") {
      out += '<';
    } else if (name == "gt") {
      out += '>';
    } else if (name == "quot") {
      out += '"';
    } else if (name == "apos") {
      out += '\'';
    } else if (name.size() > 1 && name[0] == '#') {
      bool hex = name[1] == 'x' || name[1] == 'X';
      std::string_view digits = name.substr(hex ? 2 : 1);
      std::uint32_t code = 0;
      auto [end, ec] =
          std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
      if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() ||
          code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        fail("malformed character entity");
      text::appendUtf8(out, code);
    } else {
      fail("unknown entity &" + std::string(name) + ";");
    }
    pos_ = semi + 1;
  }

  Value value(const Tag& tag, int depth) {
    if (depth > kMaxPropertyListDepth) fail("nested too deeply");
    std::string_view name = tag.name;
    if (name == "dict") return dict(tag, depth);
    if (name == "array") return array(tag, depth);
    if (name == "string") return Value(textOf(tag));
    if (name == "integer") return integer(textOf(tag));
    if (name == "real") return real(textOf(tag));
    if (name == "true" || name == "false") {
      if (!text::trimWhitespace(textOf(tag)).empty()) fail("<true/> and <false/> hold nothing");
      return Value(name == "true");
    }
    if (name == "date") {
      std::string date(text::trimWhitespace(textOf(tag)));
      if (date.empty()) fail("an empty <date>");
      return Value(std::move(date));
    }
    if (name == "data") {
      auto bytes = decodeBase64(textOf(tag));
      if (!bytes) fail("<data> that is not base64");
      return Value(std::move(*bytes));
    }
    if (name == "key") fail("a <key> outside a dictionary");
    fail("unknown element <" + std::string(name) + ">");
  }

  Value dict(const Tag& tag, int depth) {
    Dict d;
    if (tag.selfClosing) return Value(std::move(d));
    for (;;) {
      skipSpaceAndComments();
      if (startsWith("</")) break;
      Tag keyTag = openTag();
      if (keyTag.name != "key") fail("expected a <key> in the dictionary");
      std::string key = textOf(keyTag);
      skipSpaceAndComments();
      if (startsWith("</")) fail("the key \"" + key + "\" has no value");
      d.set(std::move(key), value(openTag(), depth + 1));
    }
    closeTag("dict");
    return Value(std::move(d));
  }

  Value array(const Tag& tag, int depth) {
    Array a;
    if (tag.selfClosing) return Value(std::move(a));
    for (;;) {
      skipSpaceAndComments();
      if (startsWith("</")) break;
      a.push_back(value(openTag(), depth + 1));
    }
    closeTag("array");
    return Value(std::move(a));
  }

  // Decimal with an optional sign, or hex after "0x".
  Value integer(std::string_view raw) {
    std::string_view t = text::trimWhitespace(raw);
    bool negative = !t.empty() && t[0] == '-';
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) t.remove_prefix(1);
    int base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
      base = 16;
      t.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), magnitude, base);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size())
      fail("<integer> that is not a 64-bit number");
    if (!negative) {
      if (magnitude <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return Value(static_cast<std::int64_t>(magnitude));
      return Value(magnitude);
    }
    if (magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1)
      fail("<integer> that is not a 64-bit number");
    return Value(static_cast<std::int64_t>(0 - magnitude));
  }

  Value real(std::string_view raw) {
    std::string t = text::asciiLower(text::trimWhitespace(raw));
    if (t == "nan") return Value(std::numeric_limits<double>::quiet_NaN());
    if (t == "inf" || t == "+inf" || t == "infinity" || t == "+infinity")
      return Value(std::numeric_limits<double>::infinity());
    if (t == "-inf" || t == "-infinity") return Value(-std::numeric_limits<double>::infinity());
    std::string_view digits(t);
    if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
    double d = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), d);
    if (digits.empty() || end != digits.data() + digits.size() ||
        (ec != std::errc() && ec != std::errc::result_out_of_range))
      fail("<real> that is not a number");
    if (ec == std::errc::result_out_of_range) {
      // Too large for a double is infinite, too small is zero, as a
      // conversion that rounds would have it.
      bool exponent = digits.find('e') != std::string_view::npos;
      bool tiny = exponent ? digits.find("e-") != std::string_view::npos
                           : digits.find_first_not_of("-0.") == std::string_view::npos ||
                                 digits.substr(digits[0] == '-' ? 1 : 0, 2) == "0." ||
                                 digits[digits[0] == '-' ? 1 : 0] == '.';
      d = tiny ? 0.0 : std::numeric_limits<double>::infinity();
      if (digits[0] == '-') d = -d;
    }
    return Value(d);
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

}  // namespace

std::optional<Value> parseXml(std::string_view bytes, ReadError* error) {
  XmlReader reader(bytes);
  try {
    return reader.document();
  } catch (const Failure& f) {
    if (error) *error = {"line " + std::to_string(reader.lineOf(f.at)), f.message};
    return std::nullopt;
  }
}

}  // namespace sentrel::plist
