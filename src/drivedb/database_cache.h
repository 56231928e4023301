// The parsed drive database in a compact binary form, so a later process
// reads it instead of parsing drivedb.h again: the version, every entry
// (its attribute presets in option order; attribDict follows from them),
// and the literals of each model pattern (pattern_literals.h).
//
// A cache belongs to one source text: it is keyed by the source's size,
// modification time and content hash, and carries a hash of its own body.
// Reading checks all of it and walks every field within the bounds of the
// bytes before anything is used, so a cache that is stale, cut short,
// damaged or made up is refused, never trusted; the caller then parses the
// source and writes the cache again. Entries are decoded when first asked
// for: a lookup decodes the entry it finds, not the other 738.
//
// Layout (integers little-endian; a text is a u32 length and its bytes):
//   "SENTRLDB", u32 format, u32 0, u64 source size, i64 source modified
//   (ns), u64 source hash, u64 body hash; then the body: version text,
//   u32 entries, each entry (family, model, firmware, warning, firmware
//   bug, its description, u32 presets of {id, fmt, u8 named, [name]}),
//   then per entry u32 alternatives of {u32 literals, texts}.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drivedb/literal_index.h"
#include "sentrel/drive_database.h"

namespace sentrel::drivedb {

// A 64-bit hash of bytes, for telling texts apart (not against an adversary).
std::uint64_t contentHash(std::string_view bytes);

// The source file a cache was made from.
struct SourceKey {
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // nanoseconds since 1970; 0 when unknown
  std::uint64_t hash = 0;     // contentHash of the text

  static SourceKey of(std::string_view text, std::int64_t modified) {
    return {text.size(), modified, contentHash(text)};
  }
  friend bool operator==(const SourceKey&, const SourceKey&) = default;
};

// The cache bytes of a parsed database and its model patterns' literals
// (one entry of the table per database entry).
std::string writeDatabaseCache(const SourceKey& source, const DriveDatabase& database,
                               const LiteralTable& modelLiterals);

// A cache that has been read and checked.
class CachedDatabase {
 public:
  // Empty when `text` is not a sound cache of `source`: another source
  // or format, a wrong body hash, a field that runs past the end, a count
  // larger than the bytes could hold, or bytes left over.
  static std::optional<CachedDatabase> read(std::string text, const SourceKey& source);

  const std::string& version() const { return version_; }
  std::size_t entryCount() const { return entries_.size(); }
  std::string_view model(std::size_t entry) const { return text(entries_[entry].model); }
  std::string_view firmware(std::size_t entry) const { return text(entries_[entry].firmware); }
  // The whole entry, decoded from the checked bytes.
  DriveDatabaseEntry entry(std::size_t index) const;
  // The literals of every entry's model pattern, in entry order (views
  // into this cache's bytes, which stay where they are when it is moved).
  const LiteralTable& modelLiterals() const { return literals_; }

 private:
  // A text inside bytes_ (offsets, so a moved cache stays sound).
  struct Span {
    std::size_t at = 0;
    std::size_t size = 0;
  };
  struct Entry {
    std::size_t at = 0;  // where its record starts in bytes_
    Span model;
    Span firmware;
  };

  std::string_view text(Span span) const {
    return std::string_view(*bytes_).substr(span.at, span.size);
  }

  std::unique_ptr<const std::string> bytes_;
  std::string version_;
  std::vector<Entry> entries_;
  LiteralTable literals_;
};

}  // namespace sentrel::drivedb
