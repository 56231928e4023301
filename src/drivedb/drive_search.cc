#include "drivedb/drive_search.h"

#include <utility>

namespace sentrel::drivedb {

namespace {

icu::UnicodeString unicodeOf(std::string_view text) {
  return icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
}

// The first entry whose patterns, as given by `patternsOf(index)`, match.
template <typename PatternsOf>
const DriveDatabaseEntry* search(const DriveDatabase& database, std::string_view model,
                                 std::string_view firmware, PatternsOf&& patternsOf) {
  // A missing firmware string still meets the "." of an unrestricted entry.
  if (firmware.empty()) firmware = " ";
  const icu::UnicodeString modelText = unicodeOf(model);
  const icu::UnicodeString firmwareText = unicodeOf(firmware);
  for (std::size_t i = 0; i < database.drives.size(); ++i) {
    if (!patternsOf.modelFinds(i, modelText)) continue;
    if (patternsOf.firmwareFinds(i, firmwareText)) return &database.drives[i];
  }
  return nullptr;
}

}  // namespace

std::unique_ptr<icu::RegexPattern> compilePattern(std::string_view text) {
  UParseError where;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexPattern> pattern(
      icu::RegexPattern::compile(unicodeOf(text), 0, where, status));
  if (U_FAILURE(status)) return nullptr;
  return pattern;
}

bool findsIn(const icu::RegexPattern* pattern, const icu::UnicodeString& subject) {
  if (!pattern) return false;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(subject, status));
  if (U_FAILURE(status)) return false;
  const bool found = matcher->find(status);
  return U_SUCCESS(status) && found;
}

const icu::RegexPattern* LazyPattern::get(std::string_view text) const {
  std::call_once(once_, [&] { compiled_ = compilePattern(text); });
  return compiled_.get();
}

SearchableDatabase::SearchableDatabase(DriveDatabase database)
    : database_(std::move(database)),
      patterns_(std::make_unique<EntryPatterns[]>(database_.drives.size())) {}

const DriveDatabaseEntry* SearchableDatabase::lookup(std::string_view model,
                                                     std::string_view firmware) const {
  struct Cached {
    const SearchableDatabase& self;
    bool modelFinds(std::size_t i, const icu::UnicodeString& subject) const {
      return findsIn(self.patterns_[i].model.get(self.database_.drives[i].model), subject);
    }
    bool firmwareFinds(std::size_t i, const icu::UnicodeString& subject) const {
      return findsIn(self.patterns_[i].firmware.get(self.database_.drives[i].firmware), subject);
    }
  };
  return search(database_, model, firmware, Cached{*this});
}

const DriveDatabaseEntry* lookupCompilingEachTime(const DriveDatabase& database,
                                                  std::string_view model,
                                                  std::string_view firmware) {
  struct Fresh {
    const DriveDatabase& database;
    bool modelFinds(std::size_t i, const icu::UnicodeString& subject) const {
      return findsIn(compilePattern(database.drives[i].model).get(), subject);
    }
    bool firmwareFinds(std::size_t i, const icu::UnicodeString& subject) const {
      return findsIn(compilePattern(database.drives[i].firmware).get(), subject);
    }
  };
  return search(database, model, firmware, Fresh{database});
}

}  // namespace sentrel::drivedb
