// The rules of the system-version functions that need no machine: reading
// the version tool's output and comparing version texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sentrel/value.h"

namespace sentrel::sysutil {

// True when every byte is 7-bit ASCII, the only encoding the tools' output
// is read in.
bool isAscii(std::string_view text);

// The text up to its first line feed (all of it when there is none).
std::string_view firstLine(std::string_view text);

// The dictionary of the version tool's lines: each line with a colon adds
// its first part (as it is) as the key and its second part, trimmed of
// white space and newlines, as the value. Parts after the second are
// dropped; a later line replaces an earlier one of the same key.
Dict versionToolDictionary(std::string_view text);

// Removes letters (categories L and M) and blanks (space separators and
// tab, not newlines) from both ends: "Version 10.13" and "10.13b" give
// "10.13".
std::string_view trimLettersAndBlanks(std::string_view text);

// Compares the running version with a given one: -1 older, +1 newer, 0 the
// same or not comparable (either missing, or the given one empty).
std::int64_t compareSystemVersions(std::optional<std::string_view> running,
                                   std::optional<std::string_view> given);

// The printed form of a dictionary as the system log shows it:
// "{\n    Key = Value;\n}", keys sorted, texts quoted unless they are plain
// words.
std::string describeDictionary(const Dict& dict);

}  // namespace sentrel::sysutil
