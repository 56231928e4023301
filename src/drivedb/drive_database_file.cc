// Reading a drivedb.h file named by the user, with a message fit to show.
#include "sentrel/drive_database.h"
#include "sentrel/drivedb_parser.h"
#include "sentrel/platform.h"

namespace sentrel {

std::optional<DriveDatabase> readDriveDatabaseFile(std::string_view path,
                                                   platform::Failure* failure) {
  const auto fail = [&](std::string reason) -> std::optional<DriveDatabase> {
    if (failure)
      *failure = platform::failureOf(platform::Failure::Kind::badData, std::string(path),
                                     std::move(reason));
    return std::nullopt;
  };
  platform::Failure readFailure;
  std::optional<std::string> text = platform::current().files->readFile(path, &readFailure);
  if (!text) {
    if (failure) *failure = std::move(readFailure);
    return std::nullopt;
  }
  if (!isValidUtf8(*text)) return fail("not UTF-8 text");
  std::optional<DriveDatabase> database = parseDriveDatabase(*text);
  if (!database) return fail("no drive database version marker ({ \"VERSION: or { \"$Id:)");
  return database;
}

}  // namespace sentrel
