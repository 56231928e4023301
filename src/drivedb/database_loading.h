// Reading a drivedb.h file into a searchable database through its
// parsed-database cache (database_cache.h): a later process that finds a
// cache made from the same text takes the parsed form from it and parses
// nothing; otherwise the text is parsed and the cache written anew.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "drivedb/drive_search.h"
#include "sentrel/failure.h"
#include "sentrel/platform.h"

namespace sentrel::drivedb {

struct LoadedDatabase {
  // Why there is no database: the file could not be read, its bytes are
  // not UTF-8, or its text holds no version marker.
  enum class Problem { none, unreadable, notUtf8, noMarker };

  std::shared_ptr<const SearchableDatabase> database;
  Problem problem = Problem::none;
  platform::Failure failure;  // names the file and the reason
};

// The database a file's text holds; empty (with the problem and the
// failure naming `path` set in `out`) when it is not UTF-8 or has no
// version marker.
std::optional<DriveDatabase> parseFileText(std::string_view path, std::string_view text,
                                           LoadedDatabase& out);

// The database of the file at `path`, read through `files`. `cachePath`
// is where its cache is kept ("" for nowhere). A cache that does not fit
// the text (another text, damaged, another format) is ignored and
// replaced; one that cannot be written is only a lost saving.
LoadedDatabase loadDatabaseFile(platform::Files& files, std::string_view path,
                                std::string_view cachePath);

}  // namespace sentrel::drivedb
