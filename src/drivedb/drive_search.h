// Finding a drive's entry: each model and firmware pattern is an ICU regular
// expression that counts when it matches anywhere in the drive's string.
//
// Patterns are compiled lazily, once per installed database, and then shared
// by every thread: each search matches on a short-lived matcher of its own
// (core/icu_regex.h). A pattern that does not compile never matches.
//
// A subject of printable ASCII (nearly every model and firmware string) is
// matched without ICU by the pattern's automaton (pattern_automaton.h)
// wherever the pattern has one; ICU, loaded at its first use, matches the
// rest. Both answer alike; a test holds them to it over Debian's database.
//
// A lookup compiles and runs only the model patterns that the model can
// match by their literals (literal_index.h); the others cannot match it,
// so the first entry found is the one a scan of every entry finds.
//
// Every ICU match runs under ICU's time limit, so a pattern that backtracks
// without end ("(a+)+$" on a long model) cannot hang a lookup: a match that
// runs into the limit counts as no match, and the pattern is not tried again
// for the life of the installed database. The automaton needs no limit: its
// work grows with the subject's length times the pattern's size.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/icu_regex.h"
#include "drivedb/database_cache.h"
#include "drivedb/literal_index.h"
#include "drivedb/pattern_automaton.h"
#include "drivedb/pattern_literals.h"
#include "sentrel/drive_database.h"

namespace sentrel::drivedb {

// The compiled form of a pattern text; null when it does not compile, with
// ICU's reason and where in `error` when it is given.
std::unique_ptr<icu::Regex> compilePattern(std::string_view text, std::string* error = nullptr);

// The time limit of one match, in ICU's steps of its match engine (each
// roughly a millisecond of work).
inline constexpr std::int32_t kMatchTimeLimit = 200;

enum class MatchResult { found, notFound, timedOut };

// Whether the pattern matches somewhere in the subject, within the time
// limit; notFound for null.
MatchResult matchIn(const icu::Regex* pattern, std::u16string_view subject);

// True when the pattern matches somewhere in the subject within the time
// limit; false for null.
bool findsIn(const icu::Regex* pattern, std::u16string_view subject);

// A model or firmware string to match, with its UTF-16 form made the first
// time ICU needs it. Used by one thread.
class SearchSubject {
 public:
  explicit SearchSubject(std::string_view utf8)
      : utf8_(utf8), plain_(PatternAutomaton::canMatch(utf8)) {}
  std::string_view utf8() const { return utf8_; }
  // Printable ASCII, which an automaton can match.
  bool plain() const { return plain_; }
  const std::u16string& utf16() const {
    if (!utf16_) utf16_ = icu::utf16Of(utf8_);
    return *utf16_;
  }

 private:
  std::string_view utf8_;
  bool plain_;
  mutable std::optional<std::u16string> utf16_;
};

// A pattern made ready on first use: its automaton for plain subjects, and
// ICU's compiled form for the others (or when it has no automaton). Given
// up once an ICU match of it runs into the time limit. Safe to share
// between threads.
class LazyPattern {
 public:
  // `text` must be the same on every call.
  const icu::Regex* get(std::string_view text) const;
  // Whether `text` matches somewhere in `subject`; false from the first
  // time-out on.
  bool finds(std::string_view text, const SearchSubject& subject) const;

 private:
  // Made on first use, so an entry no lookup tries costs a few bytes.
  struct Ready {
    std::optional<PatternAutomaton> automaton;
    std::once_flag compiledOnce;
    std::unique_ptr<icu::Regex> compiled;
  };
  Ready& ready(std::string_view text) const;

  mutable std::once_flag once_;
  mutable std::unique_ptr<Ready> ready_;
  mutable std::atomic<bool> timedOut_{false};
};

// A database ready to be searched: the immutable entries beside a compiled
// pattern slot for each of them. Installed as a whole and never changed.
//
// One read back from its cache decodes an entry the first time it is
// asked for (entry(), a lookup that finds it) and all of them when the
// whole database is (database()); the patterns a lookup runs come from the
// cache's bytes directly.
class SearchableDatabase {
 public:
  // Works out the literals of every model pattern.
  explicit SearchableDatabase(DriveDatabase database);
  // With the literals of the model patterns worked out before, one per
  // entry (as modelLiterals() gives them); worked out afresh when the count
  // does not fit.
  SearchableDatabase(DriveDatabase database, std::vector<PatternLiterals> modelLiterals);
  explicit SearchableDatabase(CachedDatabase cached);

  // The whole database, every entry decoded.
  const DriveDatabase& database() const;
  const std::string& version() const { return database_.version; }
  std::size_t entryCount() const {
    return cached_ ? cached_->entryCount() : database_.drives.size();
  }
  // One entry of "drives"; `index` < entryCount().
  const DriveDatabaseEntry& entry(std::size_t index) const;
  // The literals of every entry's model pattern, as the cache keeps them.
  const LiteralTable& modelLiterals() const { return cached_ ? cached_->modelLiterals() : table_; }

  // Which entries a lookup tries: those the literals allow, or all of them
  // (the reference the first must agree with).
  enum class Scan { byLiterals, everyEntry };

  // The first entry whose model pattern is found in `model` and whose
  // firmware pattern is found in `firmware` (" " when that is empty).
  const DriveDatabaseEntry* lookup(std::string_view model, std::string_view firmware,
                                   Scan scan = Scan::byLiterals) const;

 private:
  struct EntryPatterns {
    LazyPattern model;
    LazyPattern firmware;
    // From a cache: the entry, decoded the first time it is asked for.
    std::once_flag decoded;
    std::unique_ptr<DriveDatabaseEntry> entry;
  };

  std::string_view modelText(std::size_t index) const;
  std::string_view firmwareText(std::size_t index) const;

  // From a cache "drives" stays empty until database() copies every
  // decoded entry into it: a process that looks up one drive decodes (and
  // allocates) one entry, not 740.
  mutable DriveDatabase database_;
  std::optional<CachedDatabase> cached_;
  std::vector<PatternLiterals> literals_;  // when not from a cache
  LiteralTable table_;                     // views into literals_
  LiteralIndex index_;
  std::unique_ptr<EntryPatterns[]> patterns_;
  mutable std::once_flag allDecoded_;
};

// The literals of each entry's model pattern, in entry order.
std::vector<PatternLiterals> modelLiteralsOf(const DriveDatabase& database);

// The same search compiling every pattern it tries afresh: the reference the
// cached search must agree with, and the cost the cache saves.
const DriveDatabaseEntry* lookupCompilingEachTime(const DriveDatabase& database,
                                                  std::string_view model,
                                                  std::string_view firmware);

}  // namespace sentrel::drivedb
