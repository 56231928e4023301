#include "ata/drive_type.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>

#include "core/icu_regex.h"
#include "core/text.h"

namespace sentrel::ata {

// An ASCII name (every name the database gives) is folded here, without
// loading ICU; another one goes to ICU's case folding.
bool namesRotatingMedia(std::string_view name) {
  static constexpr std::string_view kWords[] = {"seek", "spin", "head", "fly"};
  if (std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; })) {
    const std::string lower = text::asciiLower(name);
    return std::any_of(std::begin(kWords), std::end(kWords),
                       [&](std::string_view w) { return lower.find(w) != std::string::npos; });
  }
  static const std::unique_ptr<icu::Regex> compiled =
      icu::Regex::compile(u"seek|spin|head|fly", icu::Regex::kCaseInsensitive);
  return compiled && compiled->find(icu::utf16Of(name), 0) == icu::Regex::Found::yes;
}

}  // namespace sentrel::ata
