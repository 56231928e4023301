// Drive database texts for the tests of the database update: whole files of
// a given revision, so a test can tell the old stored file, the new
// downloaded one and the host's copy apart by their bytes and versions.
#pragma once

#include <string>

namespace sentrel::testing {

// A drivedb.h text of the given revision with `drives` model entries
// ("ACME R<revision>-<i>"), dated 2025-01-01.
inline std::string drivedbText(int revision, int drives) {
  const std::string r = std::to_string(revision);
  std::string text =
      "/*\n * drivedb.h - smartmontools drive database file\n *\n"
      " * Home page of code is: https://www.smartmontools.org\n */\n\n"
      "const drive_settings builtin_knowndrives[] = {\n"
      "  { \"VERSION: 7.5/" + r + " 2025-01-01 12:00:00 $Id: drivedb.h " + r +
      " 2025-01-01 12:00:00Z x $\",\n    \"-\", \"-\", \"\", \"\"\n  },\n"
      "  { \"DEFAULT\", \"-\", \"-\", \"Default settings\", \"-v 9,raw48,Power_On_Hours\"\n  },\n";
  for (int i = 0; i < drives; ++i) {
    const std::string n = std::to_string(i);
    text += "  { \"Acme R" + r + " family " + n + "\",\n    \"ACME R" + r + "-" + n +
            "\",\n    \"\", \"\", \"-v 194,tempminmax,Temperature_Celsius\"\n  },\n";
  }
  return text + "};\n";
}

// The version the parser gives such a text.
inline std::string drivedbVersion(int revision) {
  return "2025-01-01 (Revision " + std::to_string(revision) + ")";
}

inline const std::string kDrivedbHeader =
    "/*\n * drivedb.h - smartmontools drive database file\n */\n";

}  // namespace sentrel::testing
