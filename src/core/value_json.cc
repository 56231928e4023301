#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

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
      case Value::Kind::null: out_ += "null"; break;
      case Value::Kind::boolean: out_ += *v.ifBool() ? "true" : "false"; break;
      case Value::Kind::integer: out_ += std::to_string(*v.ifInt()); break;
      case Value::Kind::unsignedInteger: out_ += std::to_string(*v.ifUInt()); break;
      case Value::Kind::real: number(formatReal(*v.ifReal()), std::isfinite(*v.ifReal())); break;
      case Value::Kind::real32:
        number(formatReal32(*v.ifReal32()), std::isfinite(*v.ifReal32()));
        break;
      case Value::Kind::string: string(*v.ifString()); break;
      case Value::Kind::styledText: string(v.ifStyledText()->text); break;
      case Value::Kind::color: string(colorName(*v.ifColor())); break;
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
// it: the conversion recurses once per level, so a hostile description of a
// few thousand brackets would otherwise exhaust the stack.
constexpr int kMaxJsonDepth = 256;

std::optional<Value> convert(const Json& j, const std::string& path, ReadError* error,
                             int depth = 0) {
  if (depth > kMaxJsonDepth) {
    if (error) *error = {path, "nested too deeply"};
    return std::nullopt;
  }
  switch (j.type()) {
    case Json::value_t::null: return Value();
    case Json::value_t::boolean: return Value(j.get<bool>());
    case Json::value_t::number_integer: return Value(j.get<std::int64_t>());
    case Json::value_t::number_unsigned: {
      auto u = j.get<std::uint64_t>();
      if (u <= static_cast<std::uint64_t>(INT64_MAX)) return Value(static_cast<std::int64_t>(u));
      return Value(u);
    }
    case Json::value_t::number_float: return Value(j.get<double>());
    case Json::value_t::string: return Value(j.get<std::string>());
    case Json::value_t::array: {
      Array a;
      a.reserve(j.size());
      for (std::size_t i = 0; i < j.size(); ++i) {
        auto v = convert(j[i], path + "[" + std::to_string(i) + "]", error, depth + 1);
        if (!v) return std::nullopt;
        a.push_back(std::move(*v));
      }
      return Value(std::move(a));
    }
    case Json::value_t::object: {
      if (j.size() == 1 && j.contains("$data")) {
        const Json& hex = j["$data"];
        std::optional<Data> bytes;
        if (hex.is_string()) bytes = fromHex(hex.get<std::string>());
        if (!bytes) {
          if (error) *error = {childPath(path, "$data"), "expected a string of hex digit pairs"};
          return std::nullopt;
        }
        return Value(std::move(*bytes));
      }
      Dict d;
      for (const auto& [key, item] : j.items()) {
        auto v = convert(item, childPath(path, key), error, depth + 1);
        if (!v) return std::nullopt;
        d.set(key, std::move(*v));
      }
      return Value(std::move(d));
    }
    case Json::value_t::binary:
    case Json::value_t::discarded: break;
  }
  if (error) *error = {path, "unsupported JSON value"};
  return std::nullopt;
}

// Finds the first key that one object of a text holds twice. The parse
// that builds the value keeps one of the two silently; a description
// whose second key would replace the first is refused instead, at the
// JSON path of the key.
class DuplicateKeyFinder final : public nlohmann::json_sax<Json> {
 public:
  const std::optional<ReadError>& found() const { return found_; }

  bool null() override { return value(); }
  bool boolean(bool) override { return value(); }
  bool number_integer(number_integer_t) override { return value(); }
  bool number_unsigned(number_unsigned_t) override { return value(); }
  bool number_float(number_float_t, const string_t&) override { return value(); }
  bool string(string_t&) override { return value(); }
  bool binary(binary_t&) override { return value(); }
  bool start_object(std::size_t) override {
    levels_.push_back({true, {}, {}, 0});
    return true;
  }
  bool key(string_t& key) override {
    Level& level = levels_.back();
    if (!level.keys.insert(key).second) {
      found_ = ReadError{childPath(path(), key), "the key appears twice in one object"};
      return false;
    }
    level.key = key;
    return true;
  }
  bool end_object() override {
    levels_.pop_back();
    return value();
  }
  bool start_array(std::size_t) override {
    levels_.push_back({false, {}, {}, 0});
    return true;
  }
  bool end_array() override {
    levels_.pop_back();
    return value();
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  struct Level {
    bool object;
    std::set<std::string> keys;
    std::string key;        // the key whose value is being read (objects)
    std::size_t index = 0;  // the element being read (arrays)
  };

  // One value ended: an array moves on to its next element.
  bool value() {
    if (!levels_.empty() && !levels_.back().object) ++levels_.back().index;
    return true;
  }
  // The path of the object being read.
  std::string path() const {
    std::string out = "$";
    for (std::size_t i = 0; i + 1 < levels_.size(); ++i) {
      if (levels_[i].object)
        out = childPath(out, levels_[i].key);
      else
        out.append("[").append(std::to_string(levels_[i].index)).append("]");
    }
    return out;
  }

  std::vector<Level> levels_;
  std::optional<ReadError> found_;
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
  Json j;
  try {
    j = Json::parse(text.begin(), text.end());
  } catch (const Json::exception& e) {
    // Not only malformed text: a number too large for a double ("1e999")
    // is reported as out_of_range, which must not escape either.
    if (error) *error = {"", e.what()};
    return std::nullopt;
  }
  DuplicateKeyFinder duplicates;
  Json::sax_parse(text.begin(), text.end(), &duplicates);
  if (duplicates.found()) {
    if (error) *error = *duplicates.found();
    return std::nullopt;
  }
  return convert(j, "$", error);
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
