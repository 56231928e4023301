// `list` on simulated machines of 10 to 10,000 disks: loading the machine
// description and making a drive record of every disk. The cost per disk
// should stay flat as the machine grows. Each disk names its sector files,
// as a captured machine does; listing reads none of them.
#include <benchmark/benchmark.h>

#include "sentrel/smart_device.h"
#include "sentrel/value_io.h"
#include "support/machines.h"

namespace sentrel {
namespace {

std::string descriptionOf(int disks) {
  Array list;
  for (int i = 0; i < disks; ++i) {
    Dict disk = testing::sataDisk("disk" + std::to_string(i));
    Dict& ata = testing::ataBlock(disk);
    for (const char* sector : {"identify", "smartData", "thresholds"})
      ata.set(sector, "sectors/" + std::string(sector) + ".bin");
    ata.set("logs", Dict{{"0x06", "sectors/selftest.bin"}, {"0x01", "sectors/errors.bin"}});
    list.push_back(Value(std::move(disk)));
  }
  return toJson(Value(Dict{{"disks", std::move(list)}}));
}

void BM_ListSimulatedMachine(benchmark::State& state) {
  const auto disks = static_cast<std::size_t>(state.range(0));
  const std::string json = descriptionOf(static_cast<int>(disks));
  for (auto _ : state) {
    platform::Failure error;
    auto machine = sim::Machine::fromJsonText(json, "/bench", &error);
    if (!machine) {
      state.SkipWithError(error.message().c_str());
      return;
    }
    platform::ScopedPlatform installed(machine->platform());
    auto all = KVSMARTDevice::driveInformation();
    if (!all || all->size() != disks) state.SkipWithError("wrong number of drive records");
    benchmark::DoNotOptimize(all);
  }
  // Items are disks, so the items-per-second rate shows the cost per disk.
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(json.size()));
}
BENCHMARK(BM_ListSimulatedMachine)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sentrel
