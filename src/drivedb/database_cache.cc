#include "drivedb/database_cache.h"

#include <bit>
#include <span>
#include <utility>

#include "core/bytes.h"
#include "drivedb/drivedb_tables.h"

namespace sentrel::drivedb {

namespace {

constexpr std::string_view kMagic = "SENTRLDB";
// Raised whenever the layout or what is stored changes (the literal
// extraction included), so an older cache is refused and made again.
constexpr std::uint32_t kFormat = 1;
constexpr std::size_t kHeaderSize = 48;

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ull;

std::uint64_t word64(const char* at) {
  return bytes::load64At(reinterpret_cast<const unsigned char*>(at));
}

// Appends integers little-endian and texts with their length.
class Writer {
 public:
  void u8(std::uint8_t v) { out_ += static_cast<char>(v); }
  void u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_ += static_cast<char>(v >> (8 * i) & 0xFF);
  }
  void u64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out_ += static_cast<char>(v >> (8 * i) & 0xFF);
  }
  void count(std::size_t n) { u32(static_cast<std::uint32_t>(n)); }
  void text(std::string_view t) {
    count(t.size());
    out_ += t;
  }
  std::string& bytes() { return out_; }

 private:
  std::string out_;
};

// Reads what Writer wrote, never past the end: the first field that does
// not fit fails the reader, and every later read fails too.
class Reader {
 public:
  Reader(std::string_view bytes, std::size_t at) : bytes_(bytes), at_(at) {}

  bool ok() const { return ok_; }
  std::size_t at() const { return at_; }
  std::size_t left() const { return ok_ ? bytes_.size() - at_ : 0; }

  std::uint8_t u8() {
    if (!take(1)) return 0;
    return static_cast<std::uint8_t>(bytes_[at_ - 1]);
  }
  std::uint32_t u32() {
    if (!take(4)) return 0;
    return bytes::u32<0>(view<4>(at_ - 4));
  }
  std::uint64_t u64() {
    if (!take(8)) return 0;
    return word64(bytes_.data() + at_ - 8);
  }
  // A count of items, each at least `itemSize` bytes: no more than the
  // bytes left could hold.
  std::size_t count(std::size_t itemSize) {
    const std::uint32_t n = u32();
    if (n > left() / itemSize) ok_ = false;
    return ok_ ? n : 0;
  }
  // Where a text lies (its offset and size in the bytes).
  std::pair<std::size_t, std::size_t> span() {
    const std::uint32_t size = u32();
    if (!take(size)) return {0, 0};
    return {at_ - size, size};
  }
  std::string text() {
    const auto [at, size] = span();
    return std::string(bytes_.substr(at, size));
  }

 private:
  bool take(std::size_t n) {
    if (!ok_ || n > bytes_.size() - at_) {
      ok_ = false;
      return false;
    }
    at_ += n;
    return true;
  }
  template <std::size_t N>
  std::span<const std::uint8_t, N> view(std::size_t at) const {
    return std::span<const std::uint8_t, N>(
        reinterpret_cast<const std::uint8_t*>(bytes_.data()) + at, N);
  }

  std::string_view bytes_;
  std::size_t at_;
  bool ok_ = true;
};

// The smallest encodings, which bound what a count may claim.
constexpr std::size_t kTextSize = 4;
constexpr std::size_t kPresetSize = 2 * kTextSize + 1;
constexpr std::size_t kEntrySize = 6 * kTextSize + 4;
constexpr std::size_t kAlternativeSize = 4 + kTextSize;

void writeEntry(Writer& w, const DriveDatabaseEntry& e) {
  for (const std::string* t : {&e.modelfamily, &e.model, &e.firmware, &e.warning.text,
                               &e.firmwarebug, &e.firmwarebugDescription})
    w.text(*t);
  w.count(e.attributes.size());
  for (const AttributePreset& p : e.attributes) {
    w.text(p.id);
    w.text(p.fmt);
    w.u8(p.name ? 1 : 0);
    if (p.name) w.text(*p.name);
  }
}

}  // namespace

std::uint64_t contentHash(std::string_view bytes) {
  const char* p = bytes.data();
  const std::size_t n = bytes.size();
  std::uint64_t lanes[4] = {kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1};
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    for (std::size_t k = 0; k < 4; ++k)
      lanes[k] = std::rotl(lanes[k] + word64(p + i + 8 * k) * kPrime2, 31) * kPrime1;
  }
  std::uint64_t h = n * kPrime3;
  for (std::uint64_t lane : lanes)
    h = std::rotl(h ^ std::rotl(lane * kPrime2, 31) * kPrime1, 27) * kPrime1 + kPrime3;
  for (; i + 8 <= n; i += 8) h = std::rotl(h ^ word64(p + i) * kPrime2, 27) * kPrime1 + kPrime3;
  for (; i < n; ++i) h = std::rotl(h ^ static_cast<std::uint8_t>(p[i]) * kPrime3, 11) * kPrime1;
  h ^= h >> 33;
  h *= kPrime2;
  h ^= h >> 29;
  h *= kPrime3;
  h ^= h >> 32;
  return h;
}

std::string writeDatabaseCache(const SourceKey& source, const DriveDatabase& database,
                               const LiteralTable& modelLiterals) {
  Writer body;
  body.text(database.version);
  body.count(database.drives.size());
  for (const DriveDatabaseEntry& e : database.drives) writeEntry(body, e);
  for (std::size_t e = 0; e < database.drives.size(); ++e) {
    if (e >= modelLiterals.entryCount()) {
      body.count(0);  // no literals: always tried
      continue;
    }
    const std::uint32_t first = modelLiterals.entryStart[e], end = modelLiterals.entryStart[e + 1];
    body.count(end - first);
    for (std::uint32_t a = first; a < end; ++a) {
      const std::uint32_t from = modelLiterals.alternativeStart[a];
      const std::uint32_t to = modelLiterals.alternativeStart[a + 1];
      body.count(to - from);
      for (std::uint32_t l = from; l < to; ++l) body.text(modelLiterals.literals[l]);
    }
  }

  Writer out;
  out.bytes() = kMagic;
  out.u32(kFormat);
  out.u32(0);
  out.u64(source.size);
  out.u64(static_cast<std::uint64_t>(source.modified));
  out.u64(source.hash);
  out.u64(contentHash(body.bytes()));
  out.bytes() += body.bytes();
  return std::move(out.bytes());
}

std::optional<CachedDatabase> CachedDatabase::read(std::string text, const SourceKey& source) {
  // On the heap, so the views into it stay put when the cache is moved.
  auto owned = std::make_unique<const std::string>(std::move(text));
  const std::string& bytes = *owned;
  if (bytes.size() < kHeaderSize || std::string_view(bytes).substr(0, kMagic.size()) != kMagic)
    return std::nullopt;
  Reader header(bytes, kMagic.size());
  if (header.u32() != kFormat || header.u32() != 0) return std::nullopt;
  const SourceKey stored{header.u64(), static_cast<std::int64_t>(header.u64()), header.u64()};
  const std::uint64_t bodyHash = header.u64();
  if (!header.ok() || stored != source) return std::nullopt;
  const std::string_view body = std::string_view(bytes).substr(kHeaderSize);
  if (contentHash(body) != bodyHash) return std::nullopt;

  CachedDatabase out;
  Reader r(bytes, kHeaderSize);
  out.version_ = r.text();
  const std::size_t entries = r.count(kEntrySize);
  out.entries_.resize(entries);
  for (Entry& e : out.entries_) {
    e.at = r.at();
    r.span();  // family
    const auto [modelAt, modelSize] = r.span();
    const auto [firmwareAt, firmwareSize] = r.span();
    e.model = {modelAt, modelSize};
    e.firmware = {firmwareAt, firmwareSize};
    for (int i = 0; i < 3; ++i) r.span();  // warning, firmware bug, its description
    const std::size_t presets = r.count(kPresetSize);
    for (std::size_t p = 0; p < presets && r.ok(); ++p) {
      r.span();
      r.span();
      const std::uint8_t named = r.u8();
      if (named > 1) return std::nullopt;
      if (named) r.span();
    }
    if (!r.ok()) return std::nullopt;
  }
  LiteralTable& table = out.literals_;
  for (std::size_t e = 0; e < entries; ++e) {
    const std::size_t alternatives = r.count(kAlternativeSize);
    for (std::size_t a = 0; a < alternatives; ++a) {
      const std::size_t n = r.count(kTextSize);
      if (n == 0) return std::nullopt;  // an alternative promises something
      for (std::size_t k = 0; k < n; ++k) {
        const auto [at, size] = r.span();
        if (!r.ok() || size == 0) return std::nullopt;
        table.literals.push_back(std::string_view(bytes).substr(at, size));
      }
      table.alternativeStart.push_back(static_cast<std::uint32_t>(table.literals.size()));
    }
    if (!r.ok()) return std::nullopt;
    table.entryStart.push_back(static_cast<std::uint32_t>(table.alternativeStart.size() - 1));
  }
  if (!r.ok() || r.left() != 0) return std::nullopt;
  out.bytes_ = std::move(owned);
  return out;
}

DriveDatabaseEntry CachedDatabase::entry(std::size_t index) const {
  // The record was walked by read(), so every field is there.
  Reader r(*bytes_, entries_[index].at);
  DriveDatabaseEntry e;
  e.modelfamily = r.text();
  e.model = r.text();
  e.firmware = r.text();
  e.warning = warningText(r.text());
  e.firmwarebug = r.text();
  e.firmwarebugDescription = r.text();
  const std::size_t presets = r.count(kPresetSize);
  e.attributes.reserve(presets);
  for (std::size_t p = 0; p < presets; ++p) {
    AttributePreset preset;
    preset.id = r.text();
    preset.fmt = r.text();
    if (r.u8()) preset.name = r.text();
    e.addPreset(std::move(preset));
  }
  return e;
}

}  // namespace sentrel::drivedb
