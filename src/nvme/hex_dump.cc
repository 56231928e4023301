#include "nvme/hex_dump.h"

#include <algorithm>

#include "nvme/nvme_text.h"

namespace sentrel::nvme {

namespace {
constexpr std::string_view kHeader = "___  00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n";
}  // namespace

std::string hexDumpText(std::span<const std::uint8_t> bytes, std::int32_t length) {
  std::size_t shown = length > 0 ? static_cast<std::size_t>(length) : 0;
  shown = std::min({shown, bytes.size(), kHexDumpMaxRows * kHexDumpRowBytes});
  std::size_t rows = (shown + kHexDumpRowBytes - 1) / kHexDumpRowBytes;

  std::string out(kHeader);
  for (std::size_t row = 0; row < rows; ++row) {
    out += hexText(row, 3) + "  ";
    for (std::size_t col = 0; col < kHexDumpRowBytes; ++col) {
      std::size_t at = row * kHexDumpRowBytes + col;
      out += at < shown ? hexText(bytes[at], 2) + ' ' : std::string(3, ' ');
    }
    out += '\n';
  }
  return out;
}

std::string hexDumpLogLine(std::int32_t length, std::string_view dumpText) {
  return "\n\nnvme::hexDump (" + std::to_string(length) + " bytes) \n\n" + std::string(dumpText) +
         "\n\n";
}

}  // namespace sentrel::nvme
