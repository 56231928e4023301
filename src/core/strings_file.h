// The ".strings" table format hosts keep their localized texts in:
//   /* comment */  "key" = "value";  // comment
// with the escapes \" \\ \n \t and \UXXXX. Pure.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace sentrel {

using StringsTable = std::map<std::string, std::string, std::less<>>;

// The table, or nothing with `error` saying the line and the problem.
std::optional<StringsTable> parseStringsFile(std::string_view text, std::string* error);

}  // namespace sentrel
