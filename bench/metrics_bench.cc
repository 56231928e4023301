// The metrics text of 10 to 1,000 drives, as a scrape of a large machine
// asks for it: each ATA drive with 20 attributes. The cost per drive should
// stay flat as the machine grows.
#include <benchmark/benchmark.h>

#include "sentrel/metrics.h"

namespace sentrel {
namespace {

MetricsInput fleet(int drives) {
  MetricsInput input;
  input.version = "1.0";
  for (int i = 0; i < drives; ++i) {
    DriveSample s;
    s.up = true;
    s.lastReadSeconds = 1.8e9;
    DriveReport& r = s.report;
    r.disk = "sd" + std::to_string(i);
    r.serial = "SERIAL" + std::to_string(i);
    r.model = "ST2000DM008-2FR102";
    r.family = "Seagate BarraCuda 3.5";
    r.protocol = "ATA";
    r.found = r.read = true;
    r.verdict.word = "Passed";
    r.temperatureCelsius = 35;
    r.powerOnHours = 18654;
    for (std::uint8_t id = 1; id <= 20; ++id) {
      AtaAttribute a;
      a.id = id;
      a.name = "Attribute_" + std::to_string(id);
      a.value = 100;
      a.worst = 90;
      a.threshold = 10;
      a.rawText = std::to_string(id * 1000);
      r.attributes.push_back(a);
    }
    input.drives.push_back(std::move(s));
  }
  return input;
}

void BM_MetricsText(benchmark::State& state) {
  const MetricsInput input = fleet(static_cast<int>(state.range(0)));
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string text = metricsText(input, MetricsFormat::prometheus);
    bytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_MetricsText)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sentrel
