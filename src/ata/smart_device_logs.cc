// The device's SMART log readers: the self-test log (address 6), the log
// directory (address 0) and the summary error log (address 1). A read that
// fails counts as a sector that fails validation.
#include <array>

#include "ata/error_log.h"
#include "ata/log_directory.h"
#include "ata/selftest_log.h"
#include "sentrel/smart_device.h"

namespace sentrel {

namespace {

constexpr std::uint8_t kLogDirectory = 0;
constexpr std::uint8_t kSummaryErrorLog = 1;
constexpr std::uint8_t kSelfTestLog = 6;

using SectorBuffer = std::array<std::uint8_t, platform::kSectorSize>;

// One page of a SMART log; nothing when there is no open access or the
// drive refuses the read.
std::optional<SectorBuffer> readLogPage(platform::AtaSmartInterface* ata, std::uint8_t address) {
  if (!ata) return std::nullopt;
  SectorBuffer sector{};
  if (ata->readSmartLog(address, sector) != platform::kSuccess) return std::nullopt;
  return sector;
}

}  // namespace

Array KVSMARTDevice::selftestLog() {
  std::shared_ptr<Dict> props = driveProperties();
  auto sector = readLogPage(sif(), kSelfTestLog);
  if (!props || !sector) return Array{};
  std::optional<Array> results = ata::decodeSelfTestLog(*sector);
  if (!results) return Array{};
  props->set("selftestResults", *results);
  return std::move(*results);
}

Array KVSMARTDevice::logDirectory() {
  std::shared_ptr<Dict> props = driveProperties();
  if (!props) return Array{};
  ata::LogDirectory dir;
  if (auto sector = readLogPage(sif(), kLogDirectory)) dir = ata::decodeLogDirectory(*sector);
  props->set("logs", dir.logs);
  props->set("logDir", std::move(dir.logDir));
  return std::move(dir.logs);
}

void KVSMARTDevice::errorLog() {
  std::shared_ptr<Dict> props = driveProperties();
  auto sector = readLogPage(sif(), kSummaryErrorLog);
  if (!props || !sector) return;
  std::optional<Dict> log = ata::decodeErrorLog(*sector);
  if (!log) return;
  for (const auto& e : *log) props->set(e.key, e.value);
}

std::string KVSMARTDevice::msToTime(std::uint32_t milliseconds) {
  return ata::msToTime(milliseconds);
}

}  // namespace sentrel
