// Reading a drivedb.h file named by the user, with a message fit to show.
#include "sentrel/drive_database.h"
#include "sentrel/drivedb_parser.h"
#include "sentrel/platform.h"

namespace sentrel {

std::optional<DriveDatabase> readDriveDatabaseFile(std::string_view path, std::string* error) {
  const auto fail = [&](const std::string& reason) -> std::optional<DriveDatabase> {
    if (error) *error = std::string(path) + ": " + reason;
    return std::nullopt;
  };
  platform::FileError readError;
  std::optional<std::string> text = platform::current().files->readFile(path, &readError);
  if (!text) return fail(readError.reason.empty() ? "cannot be read" : readError.reason);
  if (!isValidUtf8(*text)) return fail("not UTF-8 text");
  std::optional<DriveDatabase> database = parseDriveDatabase(*text);
  if (!database) return fail("no drive database version marker ({ \"VERSION: or { \"$Id:)");
  return database;
}

}  // namespace sentrel
