#include "nvme/nvme_health.h"
#include "sentrel/keys.h"

#include <array>

namespace sentrel::nvme {

namespace {

// The ten 128-bit counters, each kept as its low and high halves.
struct CounterField {
  std::size_t at;
  const char* loKey;
  const char* hiKey;
};

constexpr std::array<CounterField, 10> kCounters{{
    {32, "dataUnitsReadLo", "dataUnitsReadHi"},
    {48, "dataUnitsWriteLo", "dataUnitsWriteHi"},
    {64, "hostReadsLo", "hostReadsHi"},
    {80, "hostWritesLo", "hostWritesHi"},
    {96, "controllerBusyLo", "controllerBusyHi"},
    {112, "powerCyclesLo", "powerCyclesHi"},
    {128, "powerOnHoursLo", "powerOnHoursHi"},
    {144, "unsafeShutdownsLo", "unsafeShutdownsHi"},
    {160, "mediaErrorsLo", "mediaErrorsHi"},
    {176, "lifetimeErrorsLo", "lifetimeErrorsHi"},
}};

constexpr bool countersFit() {
  for (const CounterField& c : kCounters)
    if (c.at + 16 > kHealthSize) return false;
  return true;
}
static_assert(countersFit());

// A data unit is 1000 sectors of 512 bytes.
constexpr std::uint64_t kBytesPerDataUnit = 512000;

constexpr std::uint8_t kLowSpare = 0x01, kOverTemp = 0x02, kLowReliability = 0x04, kReadOnly = 0x08,
                       kFailedVMBackup = 0x10;
constexpr std::uint8_t kFailingBits = kLowReliability | kReadOnly;
constexpr std::uint8_t kWarningBits = kLowSpare | kOverTemp | kFailedVMBackup;

Value unsignedValue(std::uint64_t v) {
  return Value(v);
}

void addCounters(Dict& out, HealthView health) {
  for (const CounterField& c : kCounters) {
    auto bytes = recordAt<16>(health, c.at);  // always present: countersFit
    if (!bytes) continue;
    Counter128 counter = u128<0>(*bytes);
    out.set(c.loKey, unsignedValue(counter.lo));
    out.set(c.hiKey, unsignedValue(counter.hi));
  }
}

std::uint8_t percentRemaining(std::uint8_t percentUsed) {
  return percentUsed < 100 ? static_cast<std::uint8_t>(100 - percentUsed) : 0;
}

}  // namespace

HealthBadge healthBadge(std::uint8_t criticalWarning) {
  if (criticalWarning & kFailingBits) return {keys::kFailed, "NSStatusUnavailableFlat"};
  if (criticalWarning & kWarningBits) return {keys::kWarning, "NSStatusPartiallyAvailableFlat"};
  return {keys::kPassed, "NSStatusAvailableFlat"};
}

sentrel::HealthVerdict judgeNvmeHealth(std::uint8_t criticalWarning) {
  struct Bit {
    std::uint8_t mask;
    const char* text;
  };
  // Failing bits first, then the warnings, each in bit order.
  constexpr std::array<Bit, 5> kBits{{
      {kLowReliability, "the NVM subsystem's reliability is degraded (critical warning bit 2)"},
      {kReadOnly, "the media is in read-only mode (critical warning bit 3)"},
      {kLowSpare, "the available spare is below its threshold (critical warning bit 0)"},
      {kOverTemp, "a temperature is outside its threshold (critical warning bit 1)"},
      {kFailedVMBackup, "the volatile memory backup device has failed (critical warning bit 4)"},
  }};
  sentrel::HealthVerdict v{std::string(healthBadge(criticalWarning).word), {}};
  for (const Bit& b : kBits) {
    if (criticalWarning & b.mask)
      v.reasons.push_back({HealthReason::Rule::criticalWarning, b.mask, -1, b.text});
  }
  return v;
}

Image statusIcon(Image systemImage) {
  systemImage.width = kStatusIconPoints;
  systemImage.height = kStatusIconPoints;
  return systemImage;
}

StyledText statusBadge(const Image& icon, std::string_view word) {
  return StyledText{
      .text = std::string(word), .attachment = icon, .baselineOffset = kStatusBadgeBaselineOffset};
}

Dict controllerHealthSummary(HealthView health, const std::optional<Image>& systemImage) {
  std::uint8_t cw = u8<0>(health);
  HealthBadge verdict = healthBadge(cw);
  std::uint16_t kelvin = u16<1>(health);
  std::uint8_t used = u8<5>(health);

  Dict out;
  out.set(keys::kCriticalWarning, unsignedValue(cw));
  out.set(keys::kLowSpare, (cw & kLowSpare) != 0);
  out.set(keys::kOverTemp, (cw & kOverTemp) != 0);
  out.set(keys::kLowReliability, (cw & kLowReliability) != 0);
  out.set(keys::kReadOnly, (cw & kReadOnly) != 0);
  out.set(keys::kFailedVMBkup, (cw & kFailedVMBackup) != 0);
  out.set(keys::kAttributeHealth, verdict.word);
  if (systemImage) {
    Image icon = statusIcon(*systemImage);
    out.set("extendedHealth", statusBadge(icon, verdict.word));
    out.set("extendedHealthIcon", icon);
  } else {
    out.set("extendedHealth", "");
    out.set("extendedHealthIcon", "");
  }
  out.set(keys::kAvailableSpare, unsignedValue(u8<3>(health)));
  out.set(keys::kSpareThreshold, unsignedValue(u8<4>(health)));
  out.set(keys::kPercentUsed, unsignedValue(used));
  out.set(keys::kPercentRemaining, unsignedValue(percentRemaining(used)));
  out.set(keys::kTemperature, unsignedValue(kelvin));
  out.set("tempoC", static_cast<float>(static_cast<double>(kelvin) - 273.15));
  // Only the low halves count; the products wrap modulo 2^64.
  out.set("totalBytesRead", unsignedValue(u64<32>(health) * kBytesPerDataUnit));
  out.set("totalBytesWritten", unsignedValue(u64<48>(health) * kBytesPerDataUnit));
  addCounters(out, health);
  return out;
}

Dict namespaceHealthSummary(HealthView health) {
  std::uint8_t cw = u8<0>(health);
  std::uint8_t used = u8<5>(health);

  Dict out;
  out.set(keys::kCriticalWarning, unsignedValue(cw));
  out.set(keys::kLowSpare, cw & kLowSpare);
  out.set(keys::kOverTemp, cw & kOverTemp);
  out.set(keys::kLowReliability, cw & kLowReliability);
  out.set(keys::kReadOnly, cw & kReadOnly);
  out.set(keys::kFailedVMBkup, cw & kFailedVMBackup);
  out.set(keys::kAttributeHealth, healthBadge(cw).word);
  out.set(keys::kAvailableSpare, unsignedValue(u8<3>(health)));
  out.set(keys::kSpareThreshold, unsignedValue(u8<4>(health)));
  out.set(keys::kPercentUsed, unsignedValue(used));
  out.set(keys::kPercentRemaining, int{percentRemaining(used)});
  out.set(keys::kTemperature, unsignedValue(u16<1>(health)));
  addCounters(out, health);
  return out;
}

}  // namespace sentrel::nvme
