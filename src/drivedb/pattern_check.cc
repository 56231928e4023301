// Which patterns of a database never match: those that do not compile, and
// those that run into the match time limit on a probe. A lookup gives both
// up silently; `db parse` names them.
//
// Runaway backtracking needs a long run of characters that a repeated group
// can split in many ways, followed by one that makes the whole match fail.
// The probes are such runs, one for each character the pattern names and
// for a digit, letters and blanks, as long as an ATA model string, each
// ended by a control character that patterns do not name.
#include <set>
#include <string>

#include "core/text.h"
#include "drivedb/drive_search.h"
#include "sentrel/drive_database.h"

namespace sentrel {

namespace {

// As long as the model field of ATA IDENTIFY DEVICE.
constexpr std::int32_t kProbeLength = 40;
// Enough for the characters of any pattern of smartmontools' file.
constexpr std::size_t kMostProbes = 64;

// The code points of UTF-16 text, a lone surrogate standing for itself.
std::set<char32_t> probeCharacters(std::u16string_view pattern) {
  std::set<char32_t> out{'0', 'A', 'a', ' ', '-', '_', '.'};
  for (std::size_t i = 0; i < pattern.size() && out.size() < kMostProbes;) {
    char32_t c = pattern[i++];
    if (c >= 0xD800 && c < 0xDC00 && i < pattern.size() && pattern[i] >= 0xDC00 &&
        pattern[i] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (pattern[i++] - 0xDC00);
    if (c > 0x20) out.insert(c);
  }
  return out;
}

void appendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
  }
}

// Why a compiled pattern never matches, or "" when no probe holds it up.
std::string runawayReason(const icu::Regex& compiled, std::u16string_view pattern) {
  for (char32_t c : probeCharacters(pattern)) {
    std::u16string probe;
    for (std::int32_t i = 0; i < kProbeLength; ++i) appendUtf16(probe, c);
    probe += u'\x01';
    if (drivedb::matchIn(&compiled, probe) == drivedb::MatchResult::timedOut) {
      std::string run;
      text::appendUtf8(run, c);
      return "exceeds the match time limit on " + std::to_string(kProbeLength) + " \"" + run +
             "\" (runaway backtracking), so it never matches";
    }
  }
  return "";
}

}  // namespace

std::vector<PatternWarning> checkPatterns(const DriveDatabase& database) {
  std::vector<PatternWarning> out;
  for (std::size_t i = 0; i < database.drives.size(); ++i) {
    const DriveDatabaseEntry& entry = database.drives[i];
    for (auto [field, text] : {std::pair<const char*, const std::string*>{"model", &entry.model},
                               {"firmware", &entry.firmware}}) {
      std::string error;
      std::unique_ptr<icu::Regex> compiled = drivedb::compilePattern(*text, &error);
      std::string reason = compiled ? runawayReason(*compiled, icu::utf16Of(*text))
                                    : "does not compile (" + error + "), so it never matches";
      if (!reason.empty()) out.push_back({i, entry.modelfamily, field, *text, std::move(reason)});
    }
  }
  return out;
}

}  // namespace sentrel
