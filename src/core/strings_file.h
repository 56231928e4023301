// The ".strings" table format hosts keep their localized texts in:
//   /* comment */  "key" = "value";  // comment
// with the escapes \" \\ \n \t and \UXXXX. Pure.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "sentrel/value_io.h"

namespace sentrel {

using StringsTable = std::map<std::string, std::string, std::less<>>;

// The table, or nothing with `error` saying the line ("line 3") and the problem.
std::optional<StringsTable> parseStringsFile(std::string_view text, ReadError* error);

}  // namespace sentrel
