#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "core/text.h"
#include "sentrel/value_io.h"

namespace sentrel {

namespace {

using Json = nlohmann::ordered_json;

// Writes JSON by hand so 32-bit reals keep their shortest float text and
// key order is exactly the dictionary's.
class JsonWriter {
 public:
  explicit JsonWriter(int indent) : indent_(indent) {}

  void write(const Value& v, int depth) {
    switch (v.kind()) {
      case Value::Kind::null:
        out_ += "null";
        break;
      case Value::Kind::boolean:
        out_ += *v.ifBool() ? "true" : "false";
        break;
      case Value::Kind::integer:
        out_ += std::to_string(*v.ifInt());
        break;
      case Value::Kind::unsignedInteger:
        out_ += std::to_string(*v.ifUInt());
        break;
      case Value::Kind::real:
        number(formatReal(*v.ifReal()), std::isfinite(*v.ifReal()));
        break;
      case Value::Kind::real32:
        number(formatReal32(*v.ifReal32()), std::isfinite(*v.ifReal32()));
        break;
      case Value::Kind::string:
        string(*v.ifString());
        break;
      case Value::Kind::styledText:
        string(v.ifStyledText()->text);
        break;
      case Value::Kind::color:
        string(colorName(*v.ifColor()));
        break;
      case Value::Kind::data: {
        Dict d{{"$data", toHex(*v.ifData())}};
        write(Value(std::move(d)), depth);
        break;
      }
      case Value::Kind::image: {
        const Image& image = *v.ifImage();
        Dict d{{"image", image.name}, {"width", image.width}, {"height", image.height}};
        write(Value(std::move(d)), depth);
        break;
      }
      case Value::Kind::array: {
        const Array& a = *v.ifArray();
        if (a.empty()) {
          out_ += "[]";
          break;
        }
        out_ += '[';
        for (std::size_t i = 0; i < a.size(); ++i) {
          if (i) out_ += ',';
          newline(depth + 1);
          write(a[i], depth + 1);
        }
        newline(depth);
        out_ += ']';
        break;
      }
      case Value::Kind::dict: {
        const Dict& d = *v.ifDict();
        if (d.empty()) {
          out_ += "{}";
          break;
        }
        out_ += '{';
        bool first = true;
        for (const auto& entry : d) {
          if (!first) out_ += ',';
          first = false;
          newline(depth + 1);
          string(entry.key);
          out_ += indent_ >= 0 ? ": " : ":";
          write(entry.value, depth + 1);
        }
        newline(depth);
        out_ += '}';
        break;
      }
    }
  }

  std::string take() { return std::move(out_); }

 private:
  // JSON has no NaN or infinity: such a number is written as null.
  void number(const std::string& text, bool finite) { out_ += finite ? text : "null"; }

  void string(const std::string& s) {
    // nlohmann's escaping replaces invalid UTF-8 instead of failing.
    out_ += Json(s).dump(-1, ' ', false, Json::error_handler_t::replace);
  }

  void newline(int depth) {
    if (indent_ < 0) return;
    out_ += '\n';
    out_.append(static_cast<std::size_t>(depth) * static_cast<std::size_t>(indent_), ' ');
  }

  int indent_;
  std::string out_;
};

std::string childPath(const std::string& path, std::string_view key) {
  return path + "." + std::string(key);
}

// Nesting deeper than this is refused, as the property-list reader refuses
// it: a value that deep could not be taken apart again without exhausting
// the stack.
constexpr int kMaxJsonDepth = 256;

// Builds the value while the text is read, in one pass: no JSON tree in
// between, and a path ("$.disks[2].description") made only for an error.
//
// The errors keep their order of precedence: a syntax error anywhere wins,
// then the first key given twice in one object, then the first value (in
// document order) that is nested too deeply or is a malformed {"$data"}.
class ValueBuilder {
 public:
  std::optional<Value> take(ReadError* error) {
    const std::optional<ReadError>& first = syntax_      ? syntax_
                                            : duplicate_ ? duplicate_
                                                         : converted_;
    if (first) {
      if (error) *error = *first;
      return std::nullopt;
    }
    return std::move(root_);
  }

  void scalar(Value value) {
    const std::size_t sequence = sequence_++;
    const bool deep = tooDeepHere(sequence);
    put(deep ? Value() : std::move(value), !deep);
  }
  void startObject() { open(Dict{}); }
  void startArray() { open(Array{}); }

  void key(std::string key) {
    Frame& object = frames_.back();
    if (!duplicate_ && object.value.ifDict()->contains(key)) {
      duplicate_ = ReadError{childPath(pathOf(frames_.size() - 1), key),
                             "the key appears twice in one object"};
      building_ = false;  // nothing that follows can change the outcome
    }
    object.key = std::move(key);
  }

  void endObject() {
    Frame object = std::move(frames_.back());
    frames_.pop_back();
    Value value = std::move(object.value);
    const Dict& d = *value.ifDict();
    if (!object.tooDeep && d.size() == 1 && d.contains("$data")) {
      const std::string* hex = d.find("$data")->ifString();
      std::optional<Data> bytes = hex ? fromHex(*hex) : std::nullopt;
      if (bytes) {
        value = Value(std::move(*bytes));
      } else {
        convertFailed(object.sequence,
                      {childPath(path(), "$data"), "expected a string of hex digit pairs"});
      }
    }
    put(std::move(value), !object.tooDeep);
  }
  void endArray() {
    Frame array = std::move(frames_.back());
    frames_.pop_back();
    put(std::move(array.value), !array.tooDeep);
  }

  void syntaxError(std::string message) { syntax_ = ReadError{"", std::move(message)}; }
  // True while the object or array opened last is an object.
  bool inObject() const { return !frames_.empty() && frames_.back().value.ifDict(); }
  bool nested() const { return !frames_.empty(); }

 private:
  struct Frame {
    Value value;           // the dictionary or array being filled
    std::string key;       // a dictionary's key whose value comes next
    std::size_t sequence;  // where it starts, in document order
    bool tooDeep = false;  // past kMaxJsonDepth: its members are left out
  };

  void open(Value container) {
    const std::size_t sequence = sequence_++;
    const bool deep = tooDeepHere(sequence);
    frames_.push_back(Frame{std::move(container), {}, sequence, deep});
  }

  // Past the limit is an error; the value is then kept as null, so the
  // tree built never grows deeper than the limit.
  bool tooDeepHere(std::size_t sequence) {
    const bool parentTooDeep = !frames_.empty() && frames_.back().tooDeep;
    if (parentTooDeep || frames_.size() <= static_cast<std::size_t>(kMaxJsonDepth))
      return parentTooDeep;
    convertFailed(sequence, {path(), "nested too deeply"});
    return true;
  }

  void put(Value value, bool keep) {
    if (frames_.empty()) {
      root_ = std::move(value);
      return;
    }
    Frame& top = frames_.back();
    if (!building_) return;
    if (!keep) value = Value();
    if (Array* a = top.value.ifArray()) {
      a->push_back(std::move(value));
    } else {
      top.value.ifDict()->set(std::move(top.key), std::move(value));
    }
  }

  void convertFailed(std::size_t sequence, ReadError error) {
    if (!converted_ || sequence < convertedAt_) {
      converted_ = std::move(error);
      convertedAt_ = sequence;
    }
  }

  // The path of the value that starts at the current place.
  std::string path() const { return pathOf(frames_.size()); }
  // The path of what is `depth` levels down: each open container names
  // where its next member goes.
  std::string pathOf(std::size_t depth) const {
    std::string out = "$";
    for (std::size_t i = 0; i < depth; ++i) {
      if (const Array* a = frames_[i].value.ifArray()) {
        out.append("[").append(std::to_string(a->size())).append("]");
      } else {
        out = childPath(out, frames_[i].key);
      }
    }
    return out;
  }

  Value root_;
  std::vector<Frame> frames_;
  std::size_t sequence_ = 0;
  bool building_ = true;
  std::optional<ReadError> syntax_;
  std::optional<ReadError> duplicate_;
  std::optional<ReadError> converted_;
  std::size_t convertedAt_ = 0;
};

// Reads JSON text (RFC 8259: no comments, no trailing commas, strings of
// well-formed UTF-8) and hands each value to the builder. Nesting is kept
// on the builder's stack, not the call stack, so no depth of brackets can
// exhaust it.
class JsonReader {
 public:
  JsonReader(std::string_view text, ValueBuilder& out) : text_(text), out_(out) {}

  // False at the first syntax error, which the builder then holds.
  bool read() {
    for (;;) {
      const Start start = value();
      if (start == Start::failed) return false;
      if (start == Start::opened) continue;  // its first member's value comes next
      // A value is complete: what may follow it at this level.
      for (;;) {
        skipSpace();
        if (!out_.nested()) {
          if (at_ != text_.size()) return fail("unexpected text after the value");
          return true;
        }
        if (at_ == text_.size()) return fail("unexpected end of text");
        const char c = text_[at_];
        const bool object = out_.inObject();
        if (c == ',') {
          ++at_;
          if (object && !memberKey()) return false;
          break;  // the next member's value
        }
        if (c != (object ? '}' : ']'))
          return fail(object ? "expected ',' or '}'" : "expected ',' or ']'");
        ++at_;
        if (object) {
          out_.endObject();
        } else {
          out_.endArray();
        }
      }
    }
  }

 private:
  bool fail(std::string_view what) {
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < at_ && i < text_.size(); ++i) {
      if (text_[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    out_.syntaxError("syntax error at line " + std::to_string(line) + ", column " +
                     std::to_string(column) + ": " + std::string(what));
    return false;
  }

  void skipSpace() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t'))
      ++at_;
  }

  // How a value starts: whole (a scalar, an empty object or array), or an
  // object or array opened, whose first member's value comes next.
  enum class Start { failed, whole, opened };

  Start value() {
    skipSpace();
    if (at_ == text_.size()) return failed("unexpected end of text; expected a value");
    switch (text_[at_]) {
      case '{':
        ++at_;
        out_.startObject();
        skipSpace();
        if (at_ < text_.size() && text_[at_] == '}') {
          ++at_;
          out_.endObject();
          return Start::whole;
        }
        return memberKey() ? Start::opened : Start::failed;
      case '[':
        ++at_;
        out_.startArray();
        skipSpace();
        if (at_ < text_.size() && text_[at_] == ']') {
          ++at_;
          out_.endArray();
          return Start::whole;
        }
        return Start::opened;
      case '"': {
        std::string s;
        if (!string(s)) return Start::failed;
        out_.scalar(Value(std::move(s)));
        return Start::whole;
      }
      case 't':
        return word("true", Value(true)) ? Start::whole : Start::failed;
      case 'f':
        return word("false", Value(false)) ? Start::whole : Start::failed;
      case 'n':
        return word("null", Value()) ? Start::whole : Start::failed;
      default:
        return number() ? Start::whole : Start::failed;
    }
  }
  Start failed(std::string_view what) {
    fail(what);
    return Start::failed;
  }

  // `"key" :` of an object member.
  bool memberKey() {
    skipSpace();
    if (at_ == text_.size() || text_[at_] != '"') return fail("expected a key (a string)");
    std::string key;
    if (!string(key)) return false;
    skipSpace();
    if (at_ == text_.size() || text_[at_] != ':') return fail("expected ':' after a key");
    ++at_;
    out_.key(std::move(key));
    return true;
  }

  bool word(std::string_view w, Value v) {
    if (text_.substr(at_, w.size()) != w) return fail("unexpected character; expected a value");
    at_ += w.size();
    out_.scalar(std::move(v));
    return true;
  }

  bool digits() {
    const std::size_t start = at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
    return at_ > start;
  }

  bool number() {
    const std::size_t start = at_;
    if (text_[at_] == '-') ++at_;
    if (at_ == text_.size() || text_[at_] < '0' || text_[at_] > '9')
      return fail("unexpected character; expected a value");
    if (text_[at_] == '0') {
      ++at_;
    } else {
      digits();
    }
    bool integral = true;
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      integral = false;
      if (!digits()) return fail("expected a digit after '.'");
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      integral = false;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (!digits()) return fail("expected a digit in the exponent");
    }
    const char* first = text_.data() + start;
    const char* last = text_.data() + at_;
    if (integral) {
      // Whole numbers: signed when they fit, else unsigned, else a real.
      std::int64_t i = 0;
      if (std::from_chars(first, last, i).ec == std::errc{}) {
        out_.scalar(Value(i));
        return true;
      }
      std::uint64_t u = 0;
      if (*first != '-' && std::from_chars(first, last, u).ec == std::errc{}) {
        out_.scalar(Value(u));
        return true;
      }
    }
    double d = 0;
    const auto [end, ec] = std::from_chars(first, last, d);
    if (ec == std::errc::result_out_of_range) {
      // Too small rounds to zero; too large has no value.
      const std::string_view text(first, static_cast<std::size_t>(last - first));
      const std::size_t e = text.find_first_of("eE");
      if (e == std::string_view::npos || text[e + 1] != '-')
        return fail("number too large: " + std::string(text));
      d = *first == '-' ? -0.0 : 0.0;
    } else if (ec != std::errc{} || end != last) {
      return fail("malformed number");
    }
    out_.scalar(Value(d));
    return true;
  }

  static int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  bool hex4(char32_t& out) {
    if (text_.size() - at_ < 4) return fail("expected four hex digits after \\u");
    out = 0;
    for (int k = 0; k < 4; ++k) {
      const int d = hexValue(text_[at_++]);
      if (d < 0) return fail("expected four hex digits after \\u");
      out = out << 4 | static_cast<char32_t>(d);
    }
    return true;
  }

  // A string after its opening quote, copied a run of plain bytes at a time.
  bool string(std::string& out) {
    ++at_;  // '"'
    for (;;) {
      const std::size_t run = at_;
      bool plain = true;
      while (at_ < text_.size()) {
        const auto c = static_cast<unsigned char>(text_[at_]);
        if (c == '"' || c == '\\' || c < 0x20) break;
        if (c >= 0x80) plain = false;
        ++at_;
      }
      const std::string_view bytes = text_.substr(run, at_ - run);
      if (!plain && !text::isValidUtf8(bytes)) return fail("a string is not well-formed UTF-8");
      out.append(bytes);
      if (at_ == text_.size()) return fail("unexpected end of text in a string");
      const char c = text_[at_++];
      if (c == '"') return true;
      if (c != '\\') return fail("a control character in a string must be escaped");
      if (at_ == text_.size()) return fail("unexpected end of text in a string");
      switch (text_[at_++]) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          char32_t code = 0;
          if (!hex4(code)) return false;
          if (code >= 0xDC00 && code <= 0xDFFF) return fail("a lone low surrogate in \\u escapes");
          if (code >= 0xD800 && code <= 0xDBFF) {
            char32_t low = 0;
            if (text_.substr(at_, 2) != "\\u") return fail("a high surrogate without its low half");
            at_ += 2;
            if (!hex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return fail("a high surrogate without its low half");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          text::appendUtf8(out, code);
          break;
        }
        default:
          return fail("an unknown escape in a string");
      }
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
  ValueBuilder& out_;
};

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string toJson(const Value& value, JsonOptions options) {
  JsonWriter writer(options.indent);
  writer.write(value, 0);
  return writer.take();
}

std::optional<Value> fromJson(std::string_view text, ReadError* error) {
  ValueBuilder builder;
  JsonReader(text, builder).read();
  return builder.take(error);
}

std::string toHex(const Data& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::optional<Data> fromHex(std::string_view text) {
  Data out;
  out.reserve(text.size() / 2);
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
      if (high >= 0) return std::nullopt;  // a pair split by white space
      continue;
    }
    int d = hexDigit(c);
    if (d < 0) return std::nullopt;
    if (high < 0) {
      high = d;
    } else {
      out.push_back(static_cast<std::uint8_t>(high << 4 | d));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return out;
}

}  // namespace sentrel
