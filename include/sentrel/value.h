// Property-list values and the few display values that travel beside them.
//
// A Value is one of a closed set of kinds. Signed and unsigned integers are
// kept apart (48-bit raw counters and 64-bit NVMe halves must not change sign),
// a 32-bit float stays a float so it prints as the shortest text that reads
// back as that float, and dictionaries keep their insertion order so every
// output is stable. Values have value semantics: copying a Value copies the
// whole tree, so a one-level copy and a deep copy give the same result and no
// two owners ever see each other's changes.
//
// Access is checked: `find` and the `if*` accessors return a pointer or null,
// `valueOr` returns a default. Nothing inserts silently on lookup.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "sentrel/export.h"

namespace sentrel {

class Value;

using Array = std::vector<Value>;
using Data = std::vector<std::uint8_t>;

// Colours the library hands to a host.
enum class Color { red, blue, controlText };

// An image by name (a named system image or a resource file name) with a
// display size in points. An empty image has an empty name and size 0.
struct Image {
  std::string name = {};
  double width = 0;
  double height = 0;

  bool empty() const { return name.empty(); }
  friend bool operator==(const Image&, const Image&) = default;
};

struct Font {
  std::string name = {};  // "system" for the platform's system font
  double size = 0;
  friend bool operator==(const Font&, const Font&) = default;
};

// A string with display attributes. Readers that need the characters take
// `text`; the attributes only matter to a host that draws it.
struct StyledText {
  std::string text = {};
  std::optional<Color> color = {};
  std::optional<Font> font = {};
  // An inline image drawn before the text, lowered by baselineOffset points.
  std::optional<Image> attachment = {};
  double baselineOffset = 0;

  friend bool operator==(const StyledText&, const StyledText&) = default;
};

// A string-keyed dictionary that keeps insertion order. Setting an existing
// key replaces its value in place; erasing keeps the order of the rest.
class SENTREL_API Dict {
 public:
  struct Entry;
  // One entry of a dictionary literal: Dict{{"key", value}, {keys::kModel, model}}.
  struct Init;

  Dict();
  Dict(std::initializer_list<Init> entries);
  Dict(const Dict&);
  Dict(Dict&&) noexcept;
  Dict& operator=(const Dict&);
  Dict& operator=(Dict&&) noexcept;
  ~Dict();

  // Defined below Entry, which they need complete.
  std::size_t size() const;
  bool empty() const;

  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);
  bool contains(std::string_view key) const { return find(key) != nullptr; }

  // Inserts or replaces; returns the stored value.
  Value& set(std::string key, Value value);
  Value& set(std::string_view key, Value value);
  Value& set(const char* key, Value value);
  bool erase(std::string_view key);
  void clear();
  // Room for `count` entries, so a dictionary built key by key allocates once.
  void reserve(std::size_t count);

  // Typed reads: null when the key is missing or holds another kind.
  const std::string* getString(std::string_view key) const;
  const Dict* getDict(std::string_view key) const;
  const Array* getArray(std::string_view key) const;
  const Data* getData(std::string_view key) const;
  std::optional<bool> getBool(std::string_view key) const;
  // Any integer kind, or a real with an integral value, as a signed 64-bit number.
  std::optional<std::int64_t> getInt(std::string_view key) const;
  // The string, or "" when missing or not a string.
  std::string stringOr(std::string_view key, std::string_view fallback = "") const;

  const std::vector<Entry>& entries() const { return entries_; }
  std::vector<Entry>::const_iterator begin() const;
  std::vector<Entry>::const_iterator end() const;

  // Entries compare in order: two dictionaries with the same pairs in a
  // different order are equal, as property lists are.
  friend bool operator==(const Dict& a, const Dict& b);

 private:
  std::optional<std::size_t> indexOf(std::string_view key) const;
  void rebuildIndex();

  std::vector<Entry> entries_;
  // Keys hash without copying them into a string first.
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const noexcept {
      return std::hash<std::string_view>{}(key);
    }
  };
  using Index = std::unordered_map<std::string, std::size_t, KeyHash, std::equal_to<>>;
  // Built once a dictionary grows past a few dozen entries, so a cache of
  // a thousand drive records stays a constant-time lookup. Held by pointer
  // so the many small dictionaries (drive properties, descriptions) stay
  // small and cheap to build and copy.
  std::unique_ptr<Index> index_;
};

// Holds a rarely used, larger kind out of line so every Value stays small.
// Copies are deep; equality compares the held values.
template <typename T>
class Boxed {
 public:
  Boxed(T value) : p_(std::make_unique<T>(std::move(value))) {}
  Boxed(const Boxed& other) : p_(std::make_unique<T>(*other.p_)) {}
  Boxed(Boxed&&) noexcept = default;
  Boxed& operator=(const Boxed& other) {
    p_ = std::make_unique<T>(*other.p_);
    return *this;
  }
  Boxed& operator=(Boxed&&) noexcept = default;
  const T& get() const { return *p_; }
  T& get() { return *p_; }
  friend bool operator==(const Boxed& a, const Boxed& b) { return *a.p_ == *b.p_; }

 private:
  std::unique_ptr<T> p_;
};

class SENTREL_API Value {
 public:
  enum class Kind {
    null,
    boolean,
    integer,  // signed 64-bit
    unsignedInteger,
    real,    // double
    real32,  // float
    string,
    data,
    array,
    dict,
    styledText,
    color,
    image,
  };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : v_(b) {}
  Value(int i) : v_(std::int64_t{i}) {}
  Value(long i) : v_(std::int64_t{i}) {}
  Value(long long i) : v_(std::int64_t{i}) {}
  Value(unsigned u) : v_(std::uint64_t{u}) {}
  Value(unsigned long u) : v_(std::uint64_t{u}) {}
  Value(unsigned long long u) : v_(std::uint64_t{u}) {}
  Value(double d) : v_(d) {}
  Value(float f) : v_(f) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  Value(Data d) : v_(std::move(d)) {}
  Value(Array a) : v_(std::move(a)) {}
  Value(Dict d) : v_(std::move(d)) {}
  Value(StyledText t) : v_(Boxed<StyledText>(std::move(t))) {}
  Value(Color c) : v_(c) {}
  Value(Image i) : v_(Boxed<Image>(std::move(i))) {}

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool isNull() const { return kind() == Kind::null; }
  bool isNumber() const;
  // True for property-list kinds, false for the display values.
  bool isPropertyList() const;

  const bool* ifBool() const { return std::get_if<bool>(&v_); }
  const std::int64_t* ifInt() const { return std::get_if<std::int64_t>(&v_); }
  const std::uint64_t* ifUInt() const { return std::get_if<std::uint64_t>(&v_); }
  const double* ifReal() const { return std::get_if<double>(&v_); }
  const float* ifReal32() const { return std::get_if<float>(&v_); }
  const std::string* ifString() const { return std::get_if<std::string>(&v_); }
  const Data* ifData() const { return std::get_if<Data>(&v_); }
  const Array* ifArray() const { return std::get_if<Array>(&v_); }
  Array* ifArray() { return std::get_if<Array>(&v_); }
  const Dict* ifDict() const { return std::get_if<Dict>(&v_); }
  Dict* ifDict() { return std::get_if<Dict>(&v_); }
  const StyledText* ifStyledText() const { return unbox<StyledText>(); }
  const Color* ifColor() const { return std::get_if<Color>(&v_); }
  const Image* ifImage() const { return unbox<Image>(); }

  // Any integer kind, or a real with an integral value in range.
  std::optional<std::int64_t> toInt() const;
  std::optional<std::uint64_t> toUInt() const;
  std::optional<double> toReal() const;
  // The characters of a string or of styled text.
  const std::string* plainText() const;

  friend bool operator==(const Value& a, const Value& b) { return a.v_ == b.v_; }

 private:
  template <typename T>
  const T* unbox() const {
    auto* b = std::get_if<Boxed<T>>(&v_);
    return b ? &b->get() : nullptr;
  }

  std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, float, std::string, Data,
               Array, Dict, Boxed<StyledText>, Color, Boxed<Image>>
      v_;
};

struct Dict::Entry {
  std::string key;
  Value value;
  friend bool operator==(const Entry&, const Entry&) = default;
};

struct Dict::Init {
  Init(std::string k, Value v) : key(std::move(k)), value(std::move(v)) {}
  Init(std::string_view k, Value v) : key(k), value(std::move(v)) {}
  Init(const char* k, Value v) : key(k), value(std::move(v)) {}
  std::string key;
  Value value;
};

inline std::size_t Dict::size() const {
  return entries_.size();
}
inline bool Dict::empty() const {
  return entries_.empty();
}

// The name of a kind, for messages ("dictionary", "string", ...).
SENTREL_API const char* kindName(Value::Kind kind);
SENTREL_API const char* colorName(Color color);

// Shortest decimal text that reads back as the same number ("26.85" for the
// float 26.85f, "1" for 1.0).
SENTREL_API std::string formatReal(double d);
SENTREL_API std::string formatReal32(float f);

}  // namespace sentrel
