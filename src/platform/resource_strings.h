// A host's resource folder as the backends lay it out, and the localized
// strings read from its ".strings" files: the default table is
// Localizable.strings, a named table TABLE.strings. Tables are read once,
// on first use, through the given file reader.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/strings_file.h"

namespace sentrel::platform {

// The path of resource `name` in `folder` of the resource folder `root`
// ("" for its top): ROOT/FOLDER/NAME.
std::string resourcePathIn(std::string_view root, std::string_view folder, std::string_view name);

class ResourceStrings {
 public:
  // Answers the text of a table file, or nothing when there is none.
  using ReadTable = std::function<std::optional<std::string>(const std::string& fileName)>;
  explicit ResourceStrings(ReadTable read) : read_(std::move(read)) {}

  // The text for `key`; a missing key answers `fallback`, or the key itself
  // when `fallback` is "". A table file that does not parse counts as empty.
  std::string lookup(std::string_view key, std::string_view fallback, std::string_view table);

 private:
  const StringsTable& tableNamed(std::string_view table);

  ReadTable read_;
  std::mutex mutex_;
  std::map<std::string, StringsTable, std::less<>> tables_;
};

}  // namespace sentrel::platform
