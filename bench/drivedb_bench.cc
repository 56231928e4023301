// The drive database on the real smartmontools file Debian ships: a full
// parse (target: under 10 ms median), and a lookup of a model that matches
// nothing, a scan of every entry (target: under 1 ms once the patterns are
// compiled), beside the same scan compiling every pattern it tries.
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>

#include "drivedb/drive_search.h"
#include "sentrel/drive_database.h"
#include "sentrel/drivedb_parser.h"

namespace sentrel {
namespace {

constexpr const char* kDebianDriveDb = "/usr/share/smartmontools/drivedb.h";
constexpr const char* kUnknownModel = "NO SUCH DRIVE MODEL 1TB";

const std::string& debianText() {
  static const std::string text = [] {
    std::ifstream in(kDebianDriveDb, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }();
  return text;
}

const DriveDatabase* debianDatabase() {
  static const std::optional<DriveDatabase> db = parseDriveDatabase(debianText());
  return db ? &*db : nullptr;
}

void BM_DriveDbParse(benchmark::State& state) {
  if (debianText().empty()) {
    state.SkipWithError("drivedb.h missing: install smartmontools");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(parseDriveDatabase(debianText()));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(debianText().size()));
}
BENCHMARK(BM_DriveDbParse)->Unit(benchmark::kMillisecond)->Repetitions(5)->DisplayAggregatesOnly();

void BM_DriveDbLookupNoMatchCompiled(benchmark::State& state) {
  if (!debianDatabase()) {
    state.SkipWithError("drivedb.h missing: install smartmontools");
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
    state.SkipWithError("drivedb.h missing: install smartmontools");
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

// The class operation, with its shared installed database and result handle.
void BM_DriveDbClassLookupMatch(benchmark::State& state) {
  if (!debianDatabase()) {
    state.SkipWithError("drivedb.h missing: install smartmontools");
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

}  // namespace
}  // namespace sentrel
