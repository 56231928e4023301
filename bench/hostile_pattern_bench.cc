// A drive database with a runaway pattern ("(a+)+$", first in the file) in
// front of Debian's entries: the first lookup of a 40-character model that
// provokes it runs into the match time limit once and then goes on (target:
// under 1 s), later lookups pass the given-up pattern by at the cost of an
// ordinary scan; and the check `db parse` runs over every pattern of
// Debian's file (target: a fraction of a second, no warning).
#include <benchmark/benchmark.h>

#include "drivedb/drive_search.h"
#include "sentrel/drive_database.h"
#include "support/debian_drivedb.h"

namespace sentrel {
namespace {

using testing::debianDatabase;
using testing::kNoDebianDriveDb;

const std::string kProvokingModel = std::string(39, 'a') + "!";

DriveDatabase withRunawayPattern() {
  DriveDatabase db = *debianDatabase();
  DriveDatabaseEntry runaway;
  runaway.modelfamily = "Runaway";
  runaway.model = "(a+)+$";
  runaway.firmware = ".";
  db.drives.insert(db.drives.begin(), std::move(runaway));
  return db;
}

void BM_FirstLookupPastARunawayPattern(benchmark::State& state) {
  if (!debianDatabase()) {
    state.SkipWithError(kNoDebianDriveDb);
    return;
  }
  const DriveDatabase db = withRunawayPattern();
  for (auto _ : state) {
    state.PauseTiming();
    auto searchable = std::make_unique<drivedb::SearchableDatabase>(db);
    state.ResumeTiming();
    benchmark::DoNotOptimize(searchable->lookup(kProvokingModel, "1.0"));
    state.PauseTiming();
    searchable.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_FirstLookupPastARunawayPattern)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_LaterLookupsPastARunawayPattern(benchmark::State& state) {
  if (!debianDatabase()) {
    state.SkipWithError(kNoDebianDriveDb);
    return;
  }
  drivedb::SearchableDatabase searchable(withRunawayPattern());
  searchable.lookup(kProvokingModel, "1.0");  // gives the pattern up
  for (auto _ : state) benchmark::DoNotOptimize(searchable.lookup(kProvokingModel, "1.0"));
}
BENCHMARK(BM_LaterLookupsPastARunawayPattern)->Unit(benchmark::kMicrosecond);

void BM_CheckPatternsOfDebiansFile(benchmark::State& state) {
  if (!debianDatabase()) {
    state.SkipWithError(kNoDebianDriveDb);
    return;
  }
  std::size_t warnings = 0;
  for (auto _ : state) warnings = checkPatterns(*debianDatabase()).size();
  state.counters["warnings"] = static_cast<double>(warnings);
}
BENCHMARK(BM_CheckPatternsOfDebiansFile)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace sentrel
