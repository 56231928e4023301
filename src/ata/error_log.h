// The summary SMART error log (log address 1): five error entries, each the
// error record and the five commands the drive received before it, worded
// with the command vocabulary.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "ata/sector_fields.h"
#include "sentrel/value.h"

namespace sentrel::ata {

inline constexpr std::size_t kCommandRecordBytes = 12;
inline constexpr std::size_t kErrorEntryBytes = 90;

// Milliseconds since power-on as days:hours:minutes:seconds, the seconds
// with three decimals: 3723456 gives "00:01:02:3.456".
std::string msToTime(std::uint32_t milliseconds);

// One command record ("transport", "feature", "count", "lba", "device",
// "command", "timestamp", "index").
Dict decodeCommandRecord(std::span<const std::uint8_t, kCommandRecordBytes> record,
                         std::int32_t index);

// One error entry: its commands newest (record 4) first under "cmnds", then
// the error record's fields, and "index".
Dict decodeErrorEntry(std::span<const std::uint8_t, kErrorEntryBytes> entry, std::int32_t index);

// "errorLog" (the five entries in sector order), "errorLogVersion",
// "errorLogIndex" and "errorLogCount"; nothing when the version byte is not 1.
std::optional<Dict> decodeErrorLog(SectorView sector);

}  // namespace sentrel::ata
