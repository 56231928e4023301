#include "drivedb/database_loading.h"

#include <optional>
#include <string>
#include <utility>

#include "drivedb/database_cache.h"
#include "sentrel/drivedb_parser.h"

namespace sentrel::drivedb {

namespace {

// The folder a path names a file in; "" for a bare name.
std::string_view folderOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return "";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

void writeCache(platform::Files& files, std::string_view cachePath, const SourceKey& source,
                const SearchableDatabase& database) {
  const std::string_view folder = folderOf(cachePath);
  if (!folder.empty() && !files.createDirectories(folder, nullptr)) return;
  files.writeFileAtomically(
      cachePath, writeDatabaseCache(source, database.database(), database.modelLiterals()),
      nullptr);
}

}  // namespace

std::optional<DriveDatabase> parseFileText(std::string_view path, std::string_view text,
                                           LoadedDatabase& out) {
  using Problem = LoadedDatabase::Problem;
  const auto fail = [&](Problem problem, std::string reason) -> std::optional<DriveDatabase> {
    out.problem = problem;
    out.failure =
        platform::failureOf(platform::Failure::Kind::badData, std::string(path), std::move(reason));
    return std::nullopt;
  };
  if (!isValidUtf8(text)) return fail(Problem::notUtf8, "not UTF-8 text");
  std::optional<DriveDatabase> parsed = parseDriveDatabase(text);
  if (!parsed)
    return fail(Problem::noMarker, "no drive database version marker ({ \"VERSION: or { \"$Id:)");
  return parsed;
}

LoadedDatabase loadDatabaseFile(platform::Files& files, std::string_view path,
                                std::string_view cachePath) {
  using Problem = LoadedDatabase::Problem;
  LoadedDatabase out;
  std::optional<std::string> text = files.readFile(path, &out.failure);
  if (!text) {
    out.problem = Problem::unreadable;
    return out;
  }
  const SourceKey source = SourceKey::of(*text, files.modificationTime(path).value_or(0));
  if (!cachePath.empty()) {
    // A cache is written only for a text that parsed, so a fitting one
    // also vouches that the text is UTF-8 with a version marker.
    if (std::optional<std::string> bytes = files.readFile(cachePath, nullptr)) {
      if (std::optional<CachedDatabase> cached = CachedDatabase::read(std::move(*bytes), source)) {
        out.database = std::make_shared<const SearchableDatabase>(std::move(*cached));
        return out;
      }
    }
  }
  std::optional<DriveDatabase> parsed = parseFileText(path, *text, out);
  if (!parsed) return out;
  auto database = std::make_shared<const SearchableDatabase>(std::move(*parsed));
  if (!cachePath.empty()) writeCache(files, cachePath, source, *database);
  out.database = std::move(database);
  return out;
}

}  // namespace sentrel::drivedb
