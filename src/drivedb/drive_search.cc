#include "drivedb/drive_search.h"

#include <string>
#include <utility>

#include <unicode/utypes.h>

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

std::unique_ptr<icu::RegexPattern> compilePattern(std::string_view text, std::string* error) {
  UParseError where{};
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexPattern> pattern(
      icu::RegexPattern::compile(unicodeOf(text), 0, where, status));
  if (U_FAILURE(status)) {
    if (error)
      *error = std::string(u_errorName(status)) + " at character " + std::to_string(where.offset);
    return nullptr;
  }
  return pattern;
}

MatchResult matchIn(const icu::RegexPattern* pattern, const icu::UnicodeString& subject) {
  if (!pattern) return MatchResult::notFound;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(subject, status));
  if (U_FAILURE(status)) return MatchResult::notFound;
  matcher->setTimeLimit(kMatchTimeLimit, status);
  const bool found = matcher->find(status);
  if (status == U_REGEX_TIME_OUT) return MatchResult::timedOut;
  return U_SUCCESS(status) && found ? MatchResult::found : MatchResult::notFound;
}

bool findsIn(const icu::RegexPattern* pattern, const icu::UnicodeString& subject) {
  return matchIn(pattern, subject) == MatchResult::found;
}

const icu::RegexPattern* LazyPattern::get(std::string_view text) const {
  std::call_once(once_, [&] { compiled_ = compilePattern(text); });
  return compiled_.get();
}

bool LazyPattern::finds(std::string_view text, const icu::UnicodeString& subject) const {
  if (timedOut_.load(std::memory_order_relaxed)) return false;
  const MatchResult result = matchIn(get(text), subject);
  if (result == MatchResult::timedOut) timedOut_.store(true, std::memory_order_relaxed);
  return result == MatchResult::found;
}

SearchableDatabase::SearchableDatabase(DriveDatabase database)
    : database_(std::move(database)),
      patterns_(std::make_unique<EntryPatterns[]>(database_.drives.size())) {}

const DriveDatabaseEntry* SearchableDatabase::lookup(std::string_view model,
                                                     std::string_view firmware) const {
  struct Cached {
    const SearchableDatabase& self;
    bool modelFinds(std::size_t i, const icu::UnicodeString& subject) const {
      return self.patterns_[i].model.finds(self.database_.drives[i].model, subject);
    }
    bool firmwareFinds(std::size_t i, const icu::UnicodeString& subject) const {
      return self.patterns_[i].firmware.finds(self.database_.drives[i].firmware, subject);
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
