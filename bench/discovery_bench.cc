// Drive discovery on machines of 10 to 1,000 disks with 8 volumes each: the
// time per disk should stay flat as the machine grows.
#include <benchmark/benchmark.h>

#include "sentrel/smart_device.h"
#include "sentrel/value_io.h"
#include "support/machines.h"

namespace sentrel {
namespace {

std::unique_ptr<sim::Machine> machineOf(int disks) {
  Array list;
  for (int i = 0; i < disks; ++i) {
    std::string bsd = "disk" + std::to_string(i);
    Dict disk = testing::sataDisk(bsd);
    for (int v = 1; v <= 8; ++v)
      testing::addVolume(disk, bsd + "s" + std::to_string(v), "Volume " + std::to_string(v));
    list.push_back(Value(std::move(disk)));
  }
  platform::Failure error;
  return sim::Machine::fromJsonText(toJson(Value(Dict{{"disks", std::move(list)}})), "/bench",
                                    &error);
}

void BM_DriveInformation(benchmark::State& state) {
  auto machine = machineOf(static_cast<int>(state.range(0)));
  platform::ScopedPlatform installed(machine->platform());
  for (auto _ : state) {
    auto all = KVSMARTDevice::driveInformation();
    if (!all || all->size() != static_cast<std::size_t>(state.range(0)))
      state.SkipWithError("wrong number of drive records");
    benchmark::DoNotOptimize(all);
  }
  // Items are disks, so the items-per-second rate shows the cost per disk.
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DriveInformation)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

// A lookup that hits the cache after it was built once.
void BM_SettingsForBSDNameHit(benchmark::State& state) {
  auto machine = machineOf(static_cast<int>(state.range(0)));
  platform::ScopedPlatform installed(machine->platform());
  KVSMARTDevice::driveInformation();
  std::string name = "/dev/disk" + std::to_string(state.range(0) / 2);
  for (auto _ : state) benchmark::DoNotOptimize(KVSMARTDevice::settingsForBSDName(name));
}
BENCHMARK(BM_SettingsForBSDNameHit)->Arg(10)->Arg(1000);

}  // namespace
}  // namespace sentrel
namespace sentrel {
namespace {
// A miss rebuilds the cache without handing a copy of it back.
void BM_SettingsForBSDNameMiss(benchmark::State& state) {
  auto machine = machineOf(static_cast<int>(state.range(0)));
  platform::ScopedPlatform installed(machine->platform());
  for (auto _ : state) benchmark::DoNotOptimize(KVSMARTDevice::settingsForBSDName("nodisk"));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SettingsForBSDNameMiss)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
}  // namespace
}  // namespace sentrel
