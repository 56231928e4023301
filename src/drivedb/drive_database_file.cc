// Reading a drivedb.h file named by the user, with a message fit to show.
#include "drivedb/database_loading.h"
#include "sentrel/drive_database.h"
#include "sentrel/platform.h"

namespace sentrel {

std::optional<DriveDatabase> readDriveDatabaseFile(std::string_view path,
                                                   platform::Failure* failure) {
  drivedb::LoadedDatabase out;
  std::optional<std::string> text = platform::current().files->readFile(path, &out.failure);
  std::optional<DriveDatabase> database;
  if (text) database = drivedb::parseFileText(path, *text, out);
  if (!database && failure) *failure = std::move(out.failure);
  return database;
}

}  // namespace sentrel
