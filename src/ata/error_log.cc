#include "ata/error_log.h"

#include <cstdio>

#include "ata/command_vocabulary.h"
#include "sentrel/keys.h"

namespace sentrel::ata {

namespace {

// Sector layout.
constexpr std::size_t kVersion = 0;
constexpr std::size_t kIndex = 1;
constexpr std::size_t kFirstEntry = 2;
constexpr std::size_t kEntries = 5;
constexpr std::size_t kErrorCount = 452;
static_assert(kFirstEntry + kEntries * kErrorEntryBytes <= kErrorCount);

// Entry layout: five command records, then the error record.
constexpr std::size_t kCommandsPerEntry = 5;
constexpr std::size_t kErrorRecord = 60;
static_assert(kCommandsPerEntry * kCommandRecordBytes <= kErrorRecord);

// Command record layout.
constexpr std::size_t kTransport = 0;
constexpr std::size_t kFeature = 1;
constexpr std::size_t kCount = 2;
constexpr std::size_t kLba = 3;  // bits 23-0
constexpr std::size_t kDevice = 6;
constexpr std::size_t kCommand = 7;
constexpr std::size_t kTimestamp = 8;

// Error record layout, from the start of the entry.
constexpr std::size_t kErrorRegister = kErrorRecord + 1;
constexpr std::size_t kErrorCountField = kErrorRecord + 2;
constexpr std::size_t kErrorLba = kErrorRecord + 3;
constexpr std::size_t kErrorDevice = kErrorRecord + 6;
constexpr std::size_t kStatusRegister = kErrorRecord + 7;
constexpr std::size_t kDeviceState = kErrorRecord + 27;
constexpr std::size_t kLifeHours = kErrorRecord + 28;
static_assert(kLifeHours + 2 == kErrorEntryBytes);

std::string hexByte(std::uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", unsigned{b});
  return text;
}

}  // namespace

std::string msToTime(std::uint32_t milliseconds) {
  const std::uint32_t days = milliseconds / 86400000;
  std::uint32_t rest = milliseconds / 1000 % 86400;
  const std::uint32_t hours = rest / 3600;
  rest %= 3600;
  const std::uint32_t minutes = rest / 60;
  const double seconds = rest % 60 + (milliseconds % 1000) / 1000.0;
  char text[48];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u:%02.3f", days, hours, minutes, seconds);
  return text;
}

Dict decodeCommandRecord(std::span<const std::uint8_t, kCommandRecordBytes> record,
                         std::int32_t index) {
  const std::uint8_t command = load8(record, kCommand);
  return Dict{
      {"transport", unsigned{load8(record, kTransport)}},
      {"feature", subcommandName(command, load8(record, kFeature))},
      {"count", unsigned{load8(record, kCount)}},
      {"lba", unsigned{load24(record, kLba)}},
      {"device", hexByte(load8(record, kDevice))},
      {"command", commandName(command)},
      {"timestamp", msToTime(load32(record, kTimestamp))},
      {"index", int{index}},
  };
}

Dict decodeErrorEntry(std::span<const std::uint8_t, kErrorEntryBytes> entry, std::int32_t index) {
  // The command that failed is the last record; list it first.
  Array commands;
  for (std::size_t j = kCommandsPerEntry; j-- > 0;) {
    commands.push_back(
        decodeCommandRecord(entry.subspan(j * kCommandRecordBytes).first<kCommandRecordBytes>(),
                            static_cast<std::int32_t>(j)));
  }
  return Dict{
      {"cmnds", std::move(commands)},
      {"error", errorBitNames(load8(entry, kErrorRegister))},
      {"count", unsigned{load8(entry, kErrorCountField)}},
      {"lba", unsigned{load24(entry, kErrorLba)}},
      {"device", hexByte(load8(entry, kErrorDevice))},
      {"status", hexByte(load8(entry, kStatusRegister))},
      {"state", deviceStateName(load8(entry, kDeviceState))},
      {"timestamp", unsigned{load16(entry, kLifeHours)}},
      {"index", int{index}},
  };
}

std::optional<Dict> decodeErrorLog(SectorView sector) {
  if (load8(sector, kVersion) != 1) return std::nullopt;
  // Sector order, whatever the drive's index says and whether or not an
  // entry was ever written, so a host sees the log as the drive keeps it.
  Array entries;
  for (std::size_t k = 0; k < kEntries; ++k) {
    entries.push_back(
        decodeErrorEntry(recordAt<kErrorEntryBytes>(sector, kFirstEntry + k * kErrorEntryBytes),
                         static_cast<std::int32_t>(k)));
  }
  return Dict{
      {keys::kErrorLog, std::move(entries)},
      {"errorLogVersion", unsigned{load8(sector, kVersion)}},
      {"errorLogIndex", unsigned{load8(sector, kIndex)}},
      {"errorLogCount", unsigned{load16(sector, kErrorCount)}},
  };
}

}  // namespace sentrel::ata
