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

#include "drivedb/drive_search.h"
#include "sentrel/drive_database.h"

namespace sentrel {

namespace {

// As long as the model field of ATA IDENTIFY DEVICE.
constexpr std::int32_t kProbeLength = 40;
// Enough for the characters of any pattern of smartmontools' file.
constexpr std::size_t kMostProbes = 64;

std::set<UChar32> probeCharacters(const icu::UnicodeString& pattern) {
  std::set<UChar32> out{'0', 'A', 'a', ' ', '-', '_', '.'};
  for (std::int32_t i = 0; i < pattern.length() && out.size() < kMostProbes;
       i = pattern.moveIndex32(i, 1)) {
    const UChar32 c = pattern.char32At(i);
    if (c > 0x20) out.insert(c);
  }
  return out;
}

// Why a compiled pattern never matches, or "" when no probe holds it up.
std::string runawayReason(const icu::RegexPattern& compiled, const icu::UnicodeString& pattern) {
  for (UChar32 c : probeCharacters(pattern)) {
    icu::UnicodeString probe;
    for (std::int32_t i = 0; i < kProbeLength; ++i) probe.append(c);
    probe.append(static_cast<UChar32>(0x01));
    if (drivedb::matchIn(&compiled, probe) == drivedb::MatchResult::timedOut) {
      std::string run;
      icu::UnicodeString(c).toUTF8String(run);
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
      std::unique_ptr<icu::RegexPattern> compiled = drivedb::compilePattern(*text, &error);
      std::string reason = compiled ? runawayReason(*compiled, icu::UnicodeString::fromUTF8(*text))
                                    : "does not compile (" + error + "), so it never matches";
      if (!reason.empty()) out.push_back({i, entry.modelfamily, field, *text, std::move(reason)});
    }
  }
  return out;
}

}  // namespace sentrel
