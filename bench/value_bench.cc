#include <benchmark/benchmark.h>

#include "sentrel/value.h"
#include "sentrel/value_io.h"

namespace sentrel {
namespace {

Dict sampleRecord(int i) {
  return Dict{{"bsdName", "disk" + std::to_string(i)},
              {"Device Model", "ST4000DM004-2CV104"},
              {"User Capacity", std::uint64_t{4000787030016}},
              {"isNVMe", false},
              {"volumes", Array{Value(Dict{{"content", "GUID_partition_scheme"}, {"name", "Data"}})}}};
}

// Writing the list of a large machine as JSON.
void BM_JsonOfRecords(benchmark::State& state) {
  Dict all;
  for (int i = 0; i < state.range(0); ++i) all.set("disk" + std::to_string(i), sampleRecord(i));
  Value v(std::move(all));
  for (auto _ : state) benchmark::DoNotOptimize(toJson(v));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_JsonOfRecords)->Arg(10)->Arg(1000);

}  // namespace
}  // namespace sentrel
