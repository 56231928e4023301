// The attribute table from a sector pair (database lookup excluded) and the
// raw-value decoder for every format.
#include <benchmark/benchmark.h>

#include "ata/attribute_table.h"
#include "ata/raw_value.h"
#include "support/machines.h"

namespace sentrel {
namespace {

void BM_AttributeTable(benchmark::State& state) {
  std::vector<testing::AttributeSlot> slots;
  for (std::uint8_t id : {1, 3, 4, 5, 7, 9, 10, 12, 187, 188, 189, 190, 191, 192, 193, 194, 195,
                          197, 198, 199, 240, 241, 242})
    slots.push_back({.id = id, .flags = 0x32, .current = 100, .worst = 99, .raw = 0x1234567ull * id,
                     .threshold = 10});
  Data data = testing::smartDataSector(slots), thresholds = testing::thresholdsSector(slots);
  DriveDatabaseEntry entry;
  for (const auto& s : slots) entry.attribDict.push_back({std::to_string(s.id), "raw48", "Name"});
  std::span<const std::uint8_t, 512> d(data.data(), 512), t(thresholds.data(), 512);
  for (auto _ : state) benchmark::DoNotOptimize(ata::buildAttributeTable(d, t, &entry, nullptr));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(slots.size()));
}
BENCHMARK(BM_AttributeTable)->Unit(benchmark::kMicrosecond);

void BM_DecodeRawAttribute(benchmark::State& state) {
  const std::string_view fmt = ata::kRawFormats[static_cast<std::size_t>(state.range(0))];
  std::array<std::uint8_t, 12> slot{194, 0x22, 0, 100, 99, 35, 0, 20, 45, 0, 0, 0};
  for (auto _ : state) benchmark::DoNotOptimize(ata::decodeRawAttribute(slot, fmt));
  state.SetLabel(std::string(fmt));
}
BENCHMARK(BM_DecodeRawAttribute)->DenseRange(0, 19);

}  // namespace
}  // namespace sentrel
