// Prefix, suffix and containment tests with the rules the utilities are
// written in: an empty text is neither a prefix, a suffix nor a part of
// anything, so a container or store with an empty name never matches.
#pragma once

#include <string_view>

namespace sentrel::sysutil {

inline bool hasPrefix(std::string_view text, std::string_view prefix) {
  return !prefix.empty() && text.substr(0, prefix.size()) == prefix;
}

inline bool hasSuffix(std::string_view text, std::string_view suffix) {
  return !suffix.empty() && text.size() >= suffix.size() &&
         text.substr(text.size() - suffix.size()) == suffix;
}

inline bool containsText(std::string_view text, std::string_view part) {
  return !part.empty() && text.find(part) != std::string_view::npos;
}

}  // namespace sentrel::sysutil
