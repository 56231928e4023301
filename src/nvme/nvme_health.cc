#include "nvme/nvme_health.h"
#include "sentrel/keys.h"

#include <array>

namespace sentrel::nvme {

namespace {

using Counter = NvmeHealthLog::Counter;

// The ten 128-bit counters and their keys, each kept as its low and high
// halves, in the order the readings list them.
struct CounterKeys {
  Counter NvmeHealthLog::*field;
  const char* loKey;
  const char* hiKey;
};

constexpr std::array<CounterKeys, 10> kCounterKeys{{
    {&NvmeHealthLog::dataUnitsRead, "dataUnitsReadLo", "dataUnitsReadHi"},
    {&NvmeHealthLog::dataUnitsWritten, "dataUnitsWriteLo", "dataUnitsWriteHi"},
    {&NvmeHealthLog::hostReadCommands, "hostReadsLo", "hostReadsHi"},
    {&NvmeHealthLog::hostWriteCommands, "hostWritesLo", "hostWritesHi"},
    {&NvmeHealthLog::controllerBusyMinutes, "controllerBusyLo", "controllerBusyHi"},
    {&NvmeHealthLog::powerCycles, "powerCyclesLo", "powerCyclesHi"},
    {&NvmeHealthLog::powerOnHours, "powerOnHoursLo", "powerOnHoursHi"},
    {&NvmeHealthLog::unsafeShutdowns, "unsafeShutdownsLo", "unsafeShutdownsHi"},
    {&NvmeHealthLog::mediaErrors, "mediaErrorsLo", "mediaErrorsHi"},
    {&NvmeHealthLog::errorLogEntries, "lifetimeErrorsLo", "lifetimeErrorsHi"},
}};

constexpr std::uint8_t kLowSpare = 0x01, kOverTemp = 0x02, kLowReliability = 0x04, kReadOnly = 0x08,
                       kFailedVMBackup = 0x10;
constexpr std::uint8_t kFailingBits = kLowReliability | kReadOnly;
constexpr std::uint8_t kWarningBits = kLowSpare | kOverTemp | kFailedVMBackup;

Value unsignedValue(std::uint64_t v) {
  return Value(v);
}

void addCounters(Dict& out, const NvmeHealthLog& log) {
  for (const CounterKeys& c : kCounterKeys) {
    out.set(c.loKey, unsignedValue((log.*c.field).lo));
    out.set(c.hiKey, unsignedValue((log.*c.field).hi));
  }
}

Counter counterAt(const bytes::Counter128& c) {
  return Counter{c.lo, c.hi};
}

std::uint8_t percentRemaining(std::uint8_t percentUsed) {
  return percentUsed < 100 ? static_cast<std::uint8_t>(100 - percentUsed) : 0;
}

}  // namespace

NvmeHealthLog decodeHealthLog(HealthView health) {
  NvmeHealthLog log;
  log.criticalWarning = u8<0>(health);
  log.temperatureKelvin = u16<1>(health);
  log.availableSparePercent = u8<3>(health);
  log.availableSpareThresholdPercent = u8<4>(health);
  log.percentageUsed = u8<5>(health);
  log.dataUnitsRead = counterAt(u128<32>(health));
  log.dataUnitsWritten = counterAt(u128<48>(health));
  log.hostReadCommands = counterAt(u128<64>(health));
  log.hostWriteCommands = counterAt(u128<80>(health));
  log.controllerBusyMinutes = counterAt(u128<96>(health));
  log.powerCycles = counterAt(u128<112>(health));
  log.powerOnHours = counterAt(u128<128>(health));
  log.unsafeShutdowns = counterAt(u128<144>(health));
  log.mediaErrors = counterAt(u128<160>(health));
  log.errorLogEntries = counterAt(u128<176>(health));
  log.warningTemperatureMinutes = u32<192>(health);
  log.criticalTemperatureMinutes = u32<196>(health);
  for (std::size_t i = 0; i < log.sensorKelvin.size(); ++i)
    log.sensorKelvin[i] = bytes::load16(health, 200 + 2 * i);
  return log;
}

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
  const NvmeHealthLog log = decodeHealthLog(health);
  const std::uint8_t cw = log.criticalWarning;
  HealthBadge verdict = healthBadge(cw);
  const std::uint16_t kelvin = log.temperatureKelvin;

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
  out.set(keys::kAvailableSpare, unsignedValue(log.availableSparePercent));
  out.set(keys::kSpareThreshold, unsignedValue(log.availableSpareThresholdPercent));
  out.set(keys::kPercentUsed, unsignedValue(log.percentageUsed));
  out.set(keys::kPercentRemaining, unsignedValue(percentRemaining(log.percentageUsed)));
  out.set(keys::kTemperature, unsignedValue(kelvin));
  out.set("tempoC", static_cast<float>(static_cast<double>(kelvin) - 273.15));
  // Only the low halves count; the products wrap modulo 2^64.
  out.set("totalBytesRead", unsignedValue(log.dataUnitsRead.lo * NvmeHealthLog::kBytesPerDataUnit));
  out.set("totalBytesWritten",
          unsignedValue(log.dataUnitsWritten.lo * NvmeHealthLog::kBytesPerDataUnit));
  addCounters(out, log);
  return out;
}

Dict namespaceHealthSummary(HealthView health) {
  const NvmeHealthLog log = decodeHealthLog(health);
  const std::uint8_t cw = log.criticalWarning;

  Dict out;
  out.set(keys::kCriticalWarning, unsignedValue(cw));
  out.set(keys::kLowSpare, cw & kLowSpare);
  out.set(keys::kOverTemp, cw & kOverTemp);
  out.set(keys::kLowReliability, cw & kLowReliability);
  out.set(keys::kReadOnly, cw & kReadOnly);
  out.set(keys::kFailedVMBkup, cw & kFailedVMBackup);
  out.set(keys::kAttributeHealth, healthBadge(cw).word);
  out.set(keys::kAvailableSpare, unsignedValue(log.availableSparePercent));
  out.set(keys::kSpareThreshold, unsignedValue(log.availableSpareThresholdPercent));
  out.set(keys::kPercentUsed, unsignedValue(log.percentageUsed));
  out.set(keys::kPercentRemaining, int{percentRemaining(log.percentageUsed)});
  out.set(keys::kTemperature, unsignedValue(log.temperatureKelvin));
  addCounters(out, log);
  return out;
}

}  // namespace sentrel::nvme
