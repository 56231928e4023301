// The parsed-database cache reader with arbitrary bytes. A cache carries a
// hash of its body, which random bytes never match, so each input is read
// twice: as a whole file, and as a body under a header that fits it (the
// key of the database the reader expects, the body's own hash), which
// takes the reader past its hash to every check of the structure.
//
// A cache the reader accepts must be usable to the end: every entry
// decodes, a searchable database made from it answers lookups and its
// literals agree with the entries' model patterns' count.
#include <cstddef>
#include <cstdint>
#include <string>

#include "drivedb/database_cache.h"
#include "drivedb/drive_search.h"
#include "fuzz_input.h"

namespace {

using sentrel::drivedb::CachedDatabase;
using sentrel::drivedb::SearchableDatabase;
using sentrel::drivedb::SourceKey;
using sentrel::fuzz::fail;

const SourceKey kKey{1234, 5678, 0x0123456789abcdefull};
constexpr std::size_t kHeaderSize = 48;

// A header for `body`: the writer's own for kKey, with the body's hash in
// its last eight bytes.
std::string fittingHeader(std::string_view body) {
  std::string header = sentrel::drivedb::writeDatabaseCache(kKey, {}, {}).substr(0, kHeaderSize);
  const std::uint64_t hash = sentrel::drivedb::contentHash(body);
  for (int i = 0; i < 8; ++i) header[kHeaderSize - 8 + i] = static_cast<char>(hash >> (8 * i));
  return header;
}

void use(std::optional<CachedDatabase> cached) {
  if (!cached) return;
  const std::size_t count = cached->entryCount();
  if (cached->modelLiterals().entryCount() != count) fail("literals for another entry count");
  for (std::size_t i = 0; i < count; ++i) {
    if (cached->entry(i).model != cached->model(i)) fail("an entry decodes another model");
  }
  const SearchableDatabase db(std::move(*cached));
  db.lookup("ST2000DM008-2FR102", "0001");
  db.lookup("", "");
  if (db.database().drives.size() != count) fail("the database lost entries");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  use(CachedDatabase::read(bytes, kKey));
  const std::string_view body =
      std::string_view(bytes).substr(size >= kHeaderSize ? kHeaderSize : 0);
  use(CachedDatabase::read(fittingHeader(body) + std::string(body), kKey));
  return 0;
}
