// The drive database on the real smartmontools file Debian ships: a full
// parse (target: under 10 ms median), and a lookup of a model that matches
// nothing, a scan of every entry (target: under 1 ms once the patterns are
// compiled), beside the same scan compiling every pattern it tries; the
// class lookup warm (patterns compiled by earlier lookups) and cold (the
// first lookup after a database is installed).
#include <benchmark/benchmark.h>

#include "drivedb/database_cache.h"
#include "drivedb/drive_search.h"
#include "sentrel/drive_database.h"
#include "sentrel/drivedb_parser.h"
#include "support/debian_drivedb.h"

namespace sentrel {
namespace {

using testing::debianDatabase;
using testing::debianText;
using testing::kNoDebianDriveDb;

constexpr const char* kUnknownModel = "NO SUCH DRIVE MODEL 1TB";

void BM_DriveDbParse(benchmark::State& state) {
  if (debianText().empty()) {
    state.SkipWithError(kNoDebianDriveDb);
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(parseDriveDatabase(debianText()));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(debianText().size()));
}
BENCHMARK(BM_DriveDbParse)->Unit(benchmark::kMillisecond)->Repetitions(5)->DisplayAggregatesOnly();

void BM_DriveDbLookupNoMatchCompiled(benchmark::State& state) {
  if (!debianDatabase()) {
    state.SkipWithError(kNoDebianDriveDb);
    return;
  }
  drivedb::SearchableDatabase searchable(*debianDatabase());
  // The first scan compiles every pattern; the timed ones reuse them.
  if (searchable.lookup(kUnknownModel, "1.0") != nullptr) {
    state.SkipWithError("the unknown model matched an entry");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(searchable.lookup(kUnknownModel, "1.0"));
  state.SetItemsProcessed(state.iterations() *
                          static_cast<std::int64_t>(debianDatabase()->drives.size()));
}
BENCHMARK(BM_DriveDbLookupNoMatchCompiled)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->DisplayAggregatesOnly();

void BM_DriveDbLookupNoMatchCompilingEachTime(benchmark::State& state) {
  if (!debianDatabase()) {
    state.SkipWithError(kNoDebianDriveDb);
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        drivedb::lookupCompilingEachTime(*debianDatabase(), kUnknownModel, "1.0"));
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<std::int64_t>(debianDatabase()->drives.size()));
}
BENCHMARK(BM_DriveDbLookupNoMatchCompilingEachTime)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->DisplayAggregatesOnly();

// Warm lookups of a model that matches (entry 488 of 740), with the
// patterns the literals let through compiled.
void BM_DriveDbLookupWarmMatch(benchmark::State& state) {
  if (!debianDatabase()) {
    state.SkipWithError(kNoDebianDriveDb);
    return;
  }
  drivedb::SearchableDatabase searchable(*debianDatabase());
  if (!searchable.lookup("WDC WD10EZEX-00BN5A0", "01.01A01")) {
    state.SkipWithError("WDC WD10EZEX-00BN5A0 has no entry");
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(searchable.lookup("WDC WD10EZEX-00BN5A0", "01.01A01"));
}
BENCHMARK(BM_DriveDbLookupWarmMatch)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->DisplayAggregatesOnly();

// The literals of every model pattern, worked out once per parse.
void BM_DriveDbPatternLiterals(benchmark::State& state) {
  if (!debianDatabase()) {
    state.SkipWithError(kNoDebianDriveDb);
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(drivedb::modelLiteralsOf(*debianDatabase()));
}
BENCHMARK(BM_DriveDbPatternLiterals)->Unit(benchmark::kMillisecond);

// The automata of every model and firmware pattern of the file, built from
// the pattern texts: what the first lookups of a process build (each
// pattern on its first use).
void BM_DriveDbPatternAutomata(benchmark::State& state) {
  if (!debianDatabase()) {
    state.SkipWithError(kNoDebianDriveDb);
    return;
  }
  std::size_t states = 0;
  for (auto _ : state) {
    states = 0;
    for (const DriveDatabaseEntry& entry : debianDatabase()->drives) {
      for (const std::string* pattern : {&entry.model, &entry.firmware}) {
        const std::optional<drivedb::PatternAutomaton> automaton =
            drivedb::PatternAutomaton::of(*pattern);
        states += automaton ? automaton->stateCount() : 0;
      }
    }
  }
  state.counters["states"] = static_cast<double>(states);
}
BENCHMARK(BM_DriveDbPatternAutomata)->Unit(benchmark::kMillisecond);

// What a process does instead of parsing: read the cache's bytes (from
// memory here), check them and make the searchable database.
void BM_DriveDbCacheLoad(benchmark::State& state) {
  if (!debianDatabase()) {
    state.SkipWithError(kNoDebianDriveDb);
    return;
  }
  const drivedb::SearchableDatabase parsed(*debianDatabase());
  const drivedb::SourceKey key = drivedb::SourceKey::of(debianText(), 0);
  const std::string bytes =
      drivedb::writeDatabaseCache(key, parsed.database(), parsed.modelLiterals());
  for (auto _ : state) {
    std::optional<drivedb::CachedDatabase> cached = drivedb::CachedDatabase::read(bytes, key);
    if (!cached) {
      state.SkipWithError("the cache does not read back");
      return;
    }
    drivedb::SearchableDatabase searchable(std::move(*cached));
    benchmark::DoNotOptimize(searchable.entry(0));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_DriveDbCacheLoad)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->DisplayAggregatesOnly();

// The source's key: the hash of the whole text, which every process that
// uses a cache computes.
void BM_DriveDbSourceKey(benchmark::State& state) {
  if (debianText().empty()) {
    state.SkipWithError(kNoDebianDriveDb);
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(drivedb::SourceKey::of(debianText(), 0));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(debianText().size()));
}
BENCHMARK(BM_DriveDbSourceKey)->Unit(benchmark::kMicrosecond);

// The class operation, with its shared installed database and result handle.
void BM_DriveDbClassLookupMatch(benchmark::State& state) {
  if (!debianDatabase()) {
    state.SkipWithError(kNoDebianDriveDb);
    return;
  }
  KVSmartDeviceDatabase::installDriveDatabase(*debianDatabase());
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        KVSmartDeviceDatabase::lookupDriveModel("WDC WD10EZEX-00BN5A0", "01.01A01"));
  }
}
BENCHMARK(BM_DriveDbClassLookupMatch)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->DisplayAggregatesOnly();

// The first lookup after an installation compiles the patterns of every
// entry it tries: up to the match, or all of them for a model that matches
// nothing. The installation itself is not timed.
void coldClassLookup(benchmark::State& state, const char* model, const char* firmware,
                     bool matches) {
  if (!debianDatabase()) {
    state.SkipWithError(kNoDebianDriveDb);
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    KVSmartDeviceDatabase::installDriveDatabase(*debianDatabase());
    state.ResumeTiming();
    auto entry = KVSmartDeviceDatabase::lookupDriveModel(model, firmware);
    if ((entry != nullptr) != matches) state.SkipWithError("unexpected lookup result");
    benchmark::DoNotOptimize(entry);
  }
}

void BM_DriveDbClassLookupColdMatch(benchmark::State& state) {
  coldClassLookup(state, "WDC WD10EZEX-00BN5A0", "01.01A01", true);
}
BENCHMARK(BM_DriveDbClassLookupColdMatch)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->DisplayAggregatesOnly();

void BM_DriveDbClassLookupColdNoMatch(benchmark::State& state) {
  coldClassLookup(state, kUnknownModel, "1.0", false);
}
BENCHMARK(BM_DriveDbClassLookupColdNoMatch)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->DisplayAggregatesOnly();

// Warm: the same model again and again, its patterns compiled.
void BM_DriveDbClassLookupWarmNoMatch(benchmark::State& state) {
  if (!debianDatabase()) {
    state.SkipWithError(kNoDebianDriveDb);
    return;
  }
  KVSmartDeviceDatabase::installDriveDatabase(*debianDatabase());
  KVSmartDeviceDatabase::lookupDriveModel(kUnknownModel, "1.0");
  for (auto _ : state)
    benchmark::DoNotOptimize(KVSmartDeviceDatabase::lookupDriveModel(kUnknownModel, "1.0"));
}
BENCHMARK(BM_DriveDbClassLookupWarmNoMatch)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->DisplayAggregatesOnly();

// Warm, for the demo machine's disk0 (entry 419 of 740 in Debian's file):
// the lookup inside every refresh of that drive.
void BM_DriveDbClassLookupWarmDemoDisk0(benchmark::State& state) {
  if (!debianDatabase()) {
    state.SkipWithError(kNoDebianDriveDb);
    return;
  }
  KVSmartDeviceDatabase::installDriveDatabase(*debianDatabase());
  if (!KVSmartDeviceDatabase::lookupDriveModel("ST2000DM008-2FR102", "0001")) {
    state.SkipWithError("ST2000DM008-2FR102 has no entry");
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(KVSmartDeviceDatabase::lookupDriveModel("ST2000DM008-2FR102", "0001"));
}
BENCHMARK(BM_DriveDbClassLookupWarmDemoDisk0)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->DisplayAggregatesOnly();

}  // namespace
}  // namespace sentrel
