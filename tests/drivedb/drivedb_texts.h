// Builders of small drivedb.h texts for the parser and lookup tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "sentrel/drivedb_parser.h"

namespace sentrel::drivedb_testing {

// A header comment and the version entry, as a real file begins.
inline const std::string kHeader =
    "/*\n"
    " * drivedb.h - smartmontools drive database file\n"
    " */\n"
    "/*\n"
    "const drive_settings builtin_knowndrives[] = {\n"
    " */\n"
    "  { \"VERSION: 7.5/1234 2024-06-30 10:00:00 $Id: drivedb.h 1234 2024-06-30 10:00:00Z "
    "editor $\",\n"
    "    \"-\", \"-\",\n"
    "    \"Version information\",\n"
    "    \"\"\n"
    "  },\n";

// The closing lines of a real file.
inline const std::string kFooter =
    "/*\n"
    "}; // builtin_knowndrives[]\n"
    " */\n";

// A whole file: header, the given entries, footer.
inline std::string drivedbText(const std::string& entries) {
  return kHeader + entries + kFooter;
}

// One entry in the file's layout, each field already quoted as it should be.
inline std::string entryText(const std::string& family, const std::string& model,
                             const std::string& firmware, const std::string& warning,
                             const std::string& presets) {
  return "  { " + family + ",\n    " + model + ",\n    " + firmware + ",\n    " + warning +
         ",\n    " + presets + "\n  },\n";
}

// Parses a text that must parse.
inline DriveDatabase parseOk(const std::string& text) {
  std::optional<DriveDatabase> db = parseDriveDatabase(text);
  EXPECT_TRUE(db.has_value());
  return db.value_or(DriveDatabase{});
}

}  // namespace sentrel::drivedb_testing
