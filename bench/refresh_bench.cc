// A full refresh of a drive of the demo machine: disk0, the Seagate SATA
// drive with every sector (ten ATA commands, the attribute table with a
// lookup in Debian's database, the logs), and disk5, the NVMe SSD (four
// pages read and decoded). The drive record comes from the cache and the
// model's patterns are compiled before timing. The simulated machine
// journals every command; clearing that journal is part of each iteration.
#include <benchmark/benchmark.h>

#include "demo_machine.h"
#include "sentrel/smart_device.h"

namespace sentrel {
namespace {

void refreshDisk(benchmark::State& state, const char* bsd) {
  bench::DemoMachine demo;
  if (!demo.ok()) {
    state.SkipWithError(demo.error().c_str());
    return;
  }
  auto first = KVSMARTDevice::deviceWithBSDName(bsd);
  if (!first || !first->updateProperties()) {
    state.SkipWithError("the demo drive cannot be read");
    return;
  }
  for (auto _ : state) {
    auto device = KVSMARTDevice::deviceWithBSDName(bsd);
    benchmark::DoNotOptimize(device->updateProperties());
    demo.machine().clearJournal();
  }
}

void BM_RefreshAtaDisk0(benchmark::State& state) { refreshDisk(state, "disk0"); }
BENCHMARK(BM_RefreshAtaDisk0)->Unit(benchmark::kMicrosecond);

void BM_RefreshNvmeDisk5(benchmark::State& state) { refreshDisk(state, "disk5"); }
BENCHMARK(BM_RefreshNvmeDisk5)->Unit(benchmark::kMicrosecond);

// The attribute-table reader of the refresh alone, on an open access: the
// SMART data and thresholds read, the checksum, the drive's status, the
// (warm) lookup and the table written into the device properties.
void BM_AttributesReaderDisk0(benchmark::State& state) {
  bench::DemoMachine demo;
  if (!demo.ok()) {
    state.SkipWithError(demo.error().c_str());
    return;
  }
  auto device = KVSMARTDevice::deviceWithBSDName("disk0");
  if (!device || !device->openInterface() || !device->attributes()) {
    state.SkipWithError("disk0 cannot be read");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(device->attributes());
    demo.machine().clearJournal();
  }
  device->closeInterface();
}
BENCHMARK(BM_AttributesReaderDisk0)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace sentrel
