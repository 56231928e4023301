#include "sentrel/value.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace sentrel {

namespace {
// Below this many entries a linear scan beats hashing (and building the
// index, which a dictionary read once, like a drive's properties, never
// pays back).
constexpr std::size_t kIndexThreshold = 32;
}  // namespace

Dict::Dict() = default;
Dict::Dict(std::initializer_list<Init> entries) {
  entries_.reserve(entries.size());
  for (const Init& e : entries) set(e.key, e.value);
}
Dict::Dict(const Dict& other)
    : entries_(other.entries_),
      index_(other.index_ ? std::make_unique<Index>(*other.index_) : nullptr) {}
Dict::Dict(Dict&&) noexcept = default;
Dict& Dict::operator=(const Dict& other) {
  if (this != &other) *this = Dict(other);
  return *this;
}
Dict& Dict::operator=(Dict&&) noexcept = default;
Dict::~Dict() = default;

std::vector<Dict::Entry>::const_iterator Dict::begin() const {
  return entries_.begin();
}
std::vector<Dict::Entry>::const_iterator Dict::end() const {
  return entries_.end();
}

std::optional<std::size_t> Dict::indexOf(std::string_view key) const {
  if (index_) {
    auto it = index_->find(key);
    if (it == index_->end()) return std::nullopt;
    return it->second;
  }
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].key == key) return i;
  }
  return std::nullopt;
}

void Dict::rebuildIndex() {
  index_.reset();
  if (entries_.size() < kIndexThreshold) return;
  index_ = std::make_unique<Index>();
  index_->reserve(entries_.size() * 2);
  for (std::size_t i = 0; i < entries_.size(); ++i) index_->emplace(entries_[i].key, i);
}

const Value* Dict::find(std::string_view key) const {
  auto i = indexOf(key);
  return i ? &entries_[*i].value : nullptr;
}

Value* Dict::find(std::string_view key) {
  auto i = indexOf(key);
  return i ? &entries_[*i].value : nullptr;
}

Value& Dict::set(const char* key, Value value) {
  return set(std::string_view(key), std::move(value));
}

Value& Dict::set(std::string_view key, Value value) {
  if (auto i = indexOf(key)) {
    entries_[*i].value = std::move(value);
    return entries_[*i].value;
  }
  return set(std::string(key), std::move(value));
}

Value& Dict::set(std::string key, Value value) {
  if (auto i = indexOf(key)) {
    entries_[*i].value = std::move(value);
    return entries_[*i].value;
  }
  entries_.push_back(Entry{std::move(key), std::move(value)});
  if (index_) {
    index_->emplace(entries_.back().key, entries_.size() - 1);
  } else if (entries_.size() >= kIndexThreshold) {
    rebuildIndex();
  }
  return entries_.back().value;
}

bool Dict::erase(std::string_view key) {
  auto i = indexOf(key);
  if (!i) return false;
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(*i));
  rebuildIndex();
  return true;
}

void Dict::reserve(std::size_t count) {
  entries_.reserve(count);
}

void Dict::clear() {
  entries_.clear();
  index_.reset();
}

const std::string* Dict::getString(std::string_view key) const {
  const Value* v = find(key);
  return v ? v->ifString() : nullptr;
}
const Dict* Dict::getDict(std::string_view key) const {
  const Value* v = find(key);
  return v ? v->ifDict() : nullptr;
}
const Array* Dict::getArray(std::string_view key) const {
  const Value* v = find(key);
  return v ? v->ifArray() : nullptr;
}
const Data* Dict::getData(std::string_view key) const {
  const Value* v = find(key);
  return v ? v->ifData() : nullptr;
}
std::optional<bool> Dict::getBool(std::string_view key) const {
  const Value* v = find(key);
  if (!v || !v->ifBool()) return std::nullopt;
  return *v->ifBool();
}
std::optional<std::int64_t> Dict::getInt(std::string_view key) const {
  const Value* v = find(key);
  return v ? v->toInt() : std::nullopt;
}
std::string Dict::stringOr(std::string_view key, std::string_view fallback) const {
  const std::string* s = getString(key);
  return s ? *s : std::string(fallback);
}

bool operator==(const Dict& a, const Dict& b) {
  if (a.size() != b.size()) return false;
  for (const auto& entry : a.entries_) {
    const Value* other = b.find(entry.key);
    if (!other || !(*other == entry.value)) return false;
  }
  return true;
}

bool Value::isNumber() const {
  switch (kind()) {
    case Kind::integer:
    case Kind::unsignedInteger:
    case Kind::real:
    case Kind::real32:
      return true;
    default:
      return false;
  }
}

bool Value::isPropertyList() const {
  switch (kind()) {
    case Kind::styledText:
    case Kind::color:
    case Kind::image:
      return false;
    default:
      return true;
  }
}

std::optional<std::int64_t> Value::toInt() const {
  if (auto i = ifInt()) return *i;
  if (auto u = ifUInt()) {
    if (*u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
      return std::nullopt;
    return static_cast<std::int64_t>(*u);
  }
  if (auto d = toReal()) {
    // 2^63 is exactly representable; anything at or above it does not fit.
    if (std::isfinite(*d) && std::trunc(*d) == *d && *d >= -9223372036854775808.0 &&
        *d < 9223372036854775808.0)
      return static_cast<std::int64_t>(*d);
  }
  return std::nullopt;
}

std::optional<std::uint64_t> Value::toUInt() const {
  if (auto u = ifUInt()) return *u;
  if (auto i = ifInt()) {
    if (*i < 0) return std::nullopt;
    return static_cast<std::uint64_t>(*i);
  }
  if (auto d = toReal()) {
    if (std::isfinite(*d) && std::trunc(*d) == *d && *d >= 0 && *d < 18446744073709551616.0)
      return static_cast<std::uint64_t>(*d);
  }
  return std::nullopt;
}

std::optional<double> Value::toReal() const {
  if (auto d = ifReal()) return *d;
  if (auto f = ifReal32()) return static_cast<double>(*f);
  if (auto i = ifInt()) return static_cast<double>(*i);
  if (auto u = ifUInt()) return static_cast<double>(*u);
  return std::nullopt;
}

const std::string* Value::plainText() const {
  if (auto s = ifString()) return s;
  if (auto t = ifStyledText()) return &t->text;
  return nullptr;
}

const char* kindName(Value::Kind kind) {
  switch (kind) {
    case Value::Kind::null:
      return "nothing";
    case Value::Kind::boolean:
      return "boolean";
    case Value::Kind::integer:
      return "integer";
    case Value::Kind::unsignedInteger:
      return "unsigned integer";
    case Value::Kind::real:
      return "real";
    case Value::Kind::real32:
      return "32-bit real";
    case Value::Kind::string:
      return "string";
    case Value::Kind::data:
      return "data";
    case Value::Kind::array:
      return "array";
    case Value::Kind::dict:
      return "dictionary";
    case Value::Kind::styledText:
      return "styled text";
    case Value::Kind::color:
      return "colour";
    case Value::Kind::image:
      return "image";
  }
  return "value";
}

const char* colorName(Color color) {
  switch (color) {
    case Color::red:
      return "red";
    case Color::blue:
      return "blue";
    case Color::controlText:
      return "controlText";
  }
  return "controlText";
}

namespace {
template <typename T>
std::string shortest(T x) {
  if (std::isnan(x)) return "nan";
  if (std::isinf(x)) return x < 0 ? "-inf" : "inf";
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, x);
  if (ec != std::errc()) return "nan";
  return std::string(buf, end);
}
}  // namespace

std::string formatReal(double d) {
  return shortest(d);
}
std::string formatReal32(float f) {
  return shortest(f);
}

}  // namespace sentrel
