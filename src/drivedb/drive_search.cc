#include "drivedb/drive_search.h"

#include <optional>
#include <string>
#include <utility>

#include "sentrel/drivedb_parser.h"

namespace sentrel::drivedb {

namespace {

// The index of the first of the entries `tried` (ascending indices, or all
// `count` of them when null) whose patterns, as given by
// `patternsOf(index)`, match.
template <typename PatternsOf>
std::optional<std::size_t> search(std::size_t count, const std::vector<std::uint32_t>* tried,
                                  std::string_view model, std::string_view firmware,
                                  PatternsOf&& patternsOf) {
  // A missing firmware string still meets the "." of an unrestricted entry.
  if (firmware.empty()) firmware = " ";
  const SearchSubject modelText(model);
  const SearchSubject firmwareText(firmware);
  const auto matches = [&](std::size_t i) {
    return patternsOf.modelFinds(i, modelText) && patternsOf.firmwareFinds(i, firmwareText);
  };
  if (tried) {
    for (std::uint32_t i : *tried) {
      if (matches(i)) return i;
    }
    return std::nullopt;
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (matches(i)) return i;
  }
  return std::nullopt;
}

LiteralTable tableOf(const std::vector<PatternLiterals>& literals) {
  LiteralTable table;
  for (const PatternLiterals& entry : literals) table.add(entry);
  return table;
}

}  // namespace

std::unique_ptr<icu::Regex> compilePattern(std::string_view text, std::string* error) {
  return icu::Regex::compile(icu::utf16Of(text), 0, error);
}

MatchResult matchIn(const icu::Regex* pattern, std::u16string_view subject) {
  if (!pattern) return MatchResult::notFound;
  switch (pattern->find(subject, kMatchTimeLimit)) {
    case icu::Regex::Found::yes:
      return MatchResult::found;
    case icu::Regex::Found::timedOut:
      return MatchResult::timedOut;
    case icu::Regex::Found::no:
      break;
  }
  return MatchResult::notFound;
}

bool findsIn(const icu::Regex* pattern, std::u16string_view subject) {
  return matchIn(pattern, subject) == MatchResult::found;
}

LazyPattern::Ready& LazyPattern::ready(std::string_view text) const {
  std::call_once(once_, [&] {
    auto made = std::make_unique<Ready>();
    made->automaton = PatternAutomaton::of(text);
    ready_ = std::move(made);
  });
  return *ready_;
}

const icu::Regex* LazyPattern::get(std::string_view text) const {
  Ready& r = ready(text);
  std::call_once(r.compiledOnce, [&] { r.compiled = compilePattern(text); });
  return r.compiled.get();
}

bool LazyPattern::finds(std::string_view text, const SearchSubject& subject) const {
  if (timedOut_.load(std::memory_order_relaxed)) return false;
  if (subject.plain()) {
    const Ready& r = ready(text);
    if (r.automaton) return r.automaton->findsIn(subject.utf8());
  }
  const MatchResult result = matchIn(get(text), subject.utf16());
  if (result == MatchResult::timedOut) timedOut_.store(true, std::memory_order_relaxed);
  return result == MatchResult::found;
}

std::vector<PatternLiterals> modelLiteralsOf(const DriveDatabase& database) {
  std::vector<PatternLiterals> out;
  out.reserve(database.drives.size());
  for (const DriveDatabaseEntry& entry : database.drives)
    out.push_back(requiredLiterals(entry.model));
  return out;
}

SearchableDatabase::SearchableDatabase(DriveDatabase database)
    : SearchableDatabase(std::move(database), {}) {}

SearchableDatabase::SearchableDatabase(DriveDatabase database,
                                       std::vector<PatternLiterals> modelLiterals)
    : database_(std::move(database)),
      literals_(modelLiterals.size() == database_.drives.size() ? std::move(modelLiterals)
                                                                : modelLiteralsOf(database_)),
      table_(tableOf(literals_)),
      index_(table_),
      patterns_(std::make_unique<EntryPatterns[]>(database_.drives.size())) {}

SearchableDatabase::SearchableDatabase(CachedDatabase cached)
    : cached_(std::move(cached)),
      index_(cached_->modelLiterals()),
      patterns_(std::make_unique<EntryPatterns[]>(cached_->entryCount())) {
  database_.version = cached_->version();
}

const DriveDatabase& SearchableDatabase::database() const {
  std::call_once(allDecoded_, [this] {
    if (!cached_) return;
    database_.drives.reserve(entryCount());
    for (std::size_t i = 0; i < entryCount(); ++i) database_.drives.push_back(entry(i));
  });
  return database_;
}

const DriveDatabaseEntry& SearchableDatabase::entry(std::size_t index) const {
  if (!cached_) return database_.drives[index];
  // Each entry is made once, before anyone reads it.
  EntryPatterns& slot = patterns_[index];
  std::call_once(slot.decoded,
                 [&] { slot.entry = std::make_unique<DriveDatabaseEntry>(cached_->entry(index)); });
  return *slot.entry;
}

std::string_view SearchableDatabase::modelText(std::size_t index) const {
  return cached_ ? cached_->model(index) : std::string_view(database_.drives[index].model);
}

std::string_view SearchableDatabase::firmwareText(std::size_t index) const {
  return cached_ ? cached_->firmware(index) : std::string_view(database_.drives[index].firmware);
}

const DriveDatabaseEntry* SearchableDatabase::lookup(std::string_view model,
                                                     std::string_view firmware, Scan scan) const {
  struct Cached {
    const SearchableDatabase& self;
    bool modelFinds(std::size_t i, const SearchSubject& subject) const {
      return self.patterns_[i].model.finds(self.modelText(i), subject);
    }
    bool firmwareFinds(std::size_t i, const SearchSubject& subject) const {
      return self.patterns_[i].firmware.finds(self.firmwareText(i), subject);
    }
  };
  const std::size_t count = entryCount();
  // ICU reads bytes that are not UTF-8 as U+FFFD, which no literal test
  // here would see: such a model is tried against every entry.
  std::optional<std::size_t> found;
  if (scan == Scan::everyEntry || !isValidUtf8(model)) {
    found = search(count, nullptr, model, firmware, Cached{*this});
  } else {
    const std::vector<std::uint32_t> tried = index_.candidates(model);
    found = search(count, &tried, model, firmware, Cached{*this});
  }
  return found ? &entry(*found) : nullptr;
}

const DriveDatabaseEntry* lookupCompilingEachTime(const DriveDatabase& database,
                                                  std::string_view model,
                                                  std::string_view firmware) {
  struct Fresh {
    const DriveDatabase& database;
    bool modelFinds(std::size_t i, const SearchSubject& subject) const {
      return findsIn(compilePattern(database.drives[i].model).get(), subject.utf16());
    }
    bool firmwareFinds(std::size_t i, const SearchSubject& subject) const {
      return findsIn(compilePattern(database.drives[i].firmware).get(), subject.utf16());
    }
  };
  const std::optional<std::size_t> found =
      search(database.drives.size(), nullptr, model, firmware, Fresh{database});
  return found ? &database.drives[*found] : nullptr;
}

}  // namespace sentrel::drivedb
