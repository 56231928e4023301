// The drivedb.h parser: text in, drive database out. It touches no platform.
//
// drivedb.h is a fragment of C source declaring a table of five-string
// entries. No preprocessor is involved: the text goes through a fixed
// sequence of line clean-ups, splits at fixed separators and trims, and its
// exact cut points decide which entries are recognised and how they read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sentrel/drive_database.h"
#include "sentrel/export.h"

namespace sentrel {

// The database of a drivedb.h text; empty when the text holds no version
// marker ({ "VERSION: or, failing that, { "$Id:).
SENTREL_API std::optional<DriveDatabase> parseDriveDatabase(std::string_view text);

// An attribute's display name with its abbreviations written out
// ("Reallocated Sector Ct" to "Reallocated Sector Count").
SENTREL_API std::string expandAttributeName(std::string_view name);

// The version text of a database whose first entry has this family text
// ("2024-06-30 (Revision 1234)", or the text itself, or
// "version unavailable" when it is empty).
SENTREL_API std::string driveDatabaseVersion(std::string_view familyText);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates
// or code points past U+10FFFF), as a text read "as UTF-8" requires.
SENTREL_API bool isValidUtf8(std::string_view bytes);

}  // namespace sentrel
