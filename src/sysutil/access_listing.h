// The grant rules of the full-disk-access probe, applied to the privacy
// database's access table as the sqlite3 tool lists it: one row per line,
// columns separated by "|", the service first, the client second and the
// grant fourth.
#pragma once

#include <string_view>

namespace sentrel::sysutil {

inline constexpr std::string_view kFullDiskAccessService = "kTCCServiceSystemPolicyAllFiles";

// A text read as a boolean: true when, after leading blanks, it begins with
// "Y", "y", "T", "t" or a digit from 1 to 9.
bool textBoolValue(std::string_view text);

// True when the listing grants full disk access to the host application
// (by its path or bundle identifier), its background tool and the companion
// product's background program. A grant that has become true stays true;
// a false one can still be made true by a later row of the same client.
bool fullDiskAccessGranted(std::string_view listing);

}  // namespace sentrel::sysutil
