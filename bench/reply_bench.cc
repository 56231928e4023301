// The entry object's reply: condensing refreshed device properties into the
// reply dictionary (ATA rows with their localized names, NVMe rows), and the
// whole health reply of runWith (refresh and reply). The pacing sleeps go to
// the simulated clock, which journals them and returns at once; clearing
// that journal is part of each iteration.
#include <benchmark/benchmark.h>

#include "demo_machine.h"
#include "sentrel/sentrel_framework.h"
#include "sentrel/smart_device.h"

namespace sentrel {
namespace {

void replyFor(benchmark::State& state, const char* bsd) {
  bench::DemoMachine demo;
  if (!demo.ok()) {
    state.SkipWithError(demo.error().c_str());
    return;
  }
  auto device = KVSMARTDevice::deviceWithBSDName(bsd);
  std::shared_ptr<Dict> props = device ? device->updateProperties() : nullptr;
  if (!props) {
    state.SkipWithError("the demo drive cannot be read");
    return;
  }
  std::size_t rows = 0;
  for (auto _ : state) {
    Dict reply = replyForDeviceProperties(props.get());
    rows = reply.getArray("properties")->size();
    benchmark::DoNotOptimize(reply);
    demo.machine().clearJournal();
  }
  state.counters["rows"] = static_cast<double>(rows);
}

void BM_ReplyAtaDisk0(benchmark::State& state) { replyFor(state, "disk0"); }
BENCHMARK(BM_ReplyAtaDisk0)->Unit(benchmark::kMicrosecond);

void BM_ReplyNvmeDisk5(benchmark::State& state) { replyFor(state, "disk5"); }
BENCHMARK(BM_ReplyNvmeDisk5)->Unit(benchmark::kMicrosecond);

// runWith for disk0: the device made from the cached record, the refresh,
// and the reply.
void BM_HealthReplyDisk0(benchmark::State& state) {
  bench::DemoMachine demo;
  if (!demo.ok()) {
    state.SkipWithError(demo.error().c_str());
    return;
  }
  KVSmartDeviceDatabase::setOffline(true);  // the entry object queues no update
  SentrelFramework framework;
  KVSmartDeviceDatabase::setOffline(false);
  const Dict request{{"selectedBSD", "disk0"}};
  std::string status;
  framework.runWith(request, [&](const Dict& reply) { status = reply.stringOr("status"); });
  if (status != "Warning") {
    state.SkipWithError(("disk0 answered " + status).c_str());
    return;
  }
  for (auto _ : state) {
    framework.runWith(request, [](const Dict& reply) { benchmark::DoNotOptimize(reply); });
    demo.machine().clearJournal();
  }
}
BENCHMARK(BM_HealthReplyDisk0)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace sentrel
