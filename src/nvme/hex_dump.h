// The hex dump text that the NVMe reader writes to the system log.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace sentrel::nvme {

// The header line and the rows fill a 2048-byte text; 36 rows of 16 bytes
// (576 bytes) fit beside the header and the terminating zero.
inline constexpr std::size_t kHexDumpMaxRows = 36;
inline constexpr std::size_t kHexDumpRowBytes = 16;

// The header line, then one 54-character row per 16 bytes: the row index as
// "%03x  " and each byte as "%02x ". Only the first `length` bytes are
// shown, and never more than the buffer holds.
//
// A short last row shows its bytes and then three blanks for each missing
// column, so it keeps the width and column alignment of the others without
// reading past the length. More than 576 bytes show the first 36 rows only:
// the text keeps the bound of its 2048-byte buffer, so one log line stays a
// size the system log accepts.
std::string hexDumpText(std::span<const std::uint8_t> bytes, std::int32_t length);

// The one system-log line that carries a dump.
std::string hexDumpLogLine(std::int32_t length, std::string_view dumpText);

}  // namespace sentrel::nvme
