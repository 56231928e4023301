// Debian's copy of smartmontools' drive database, read and parsed once per
// process and shared by every test and benchmark that needs a real
// database. Empty when smartmontools is not installed; a benchmark then
// skips with kNoDebianDriveDb, a test fails with it.
#pragma once

#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "sentrel/drive_database.h"
#include "sentrel/drivedb_parser.h"

namespace sentrel::testing {

inline constexpr const char* kDebianDriveDb = "/usr/share/smartmontools/drivedb.h";
inline constexpr const char* kNoDebianDriveDb = "drivedb.h missing: install smartmontools";

inline const std::string& debianText() {
  static const std::string text = [] {
    std::ifstream in(kDebianDriveDb, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }();
  return text;
}

inline const DriveDatabase* debianDatabase() {
  static const std::optional<DriveDatabase> db = parseDriveDatabase(debianText());
  return db ? &*db : nullptr;
}

}  // namespace sentrel::testing
