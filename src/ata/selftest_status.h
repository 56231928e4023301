// The self-test execution status byte, as the SMART data sector (byte 363)
// and every self-test log descriptor (byte 1) carry it: the status code in
// bits 7-4 and the work still to do, in tenths, in bits 3-0.
#pragma once

#include <cstdint>
#include <string_view>

namespace sentrel::ata {

constexpr std::uint8_t statusCode(std::uint8_t statusByte) {
  return statusByte >> 4;
}

// 100 minus ten times the remaining tenths, kept in 8 unsigned bits as the
// drive's own arithmetic does: tenths 11 to 15 wrap to 246 down to 206.
constexpr std::uint8_t completionPercent(std::uint8_t statusByte) {
  return static_cast<std::uint8_t>(100 - 10 * (statusByte & 0x0F));
}

// The status name shown for the test running now (SMART data sector).
std::string_view currentSelfTestStatusName(std::uint8_t code);
// The status name shown for a past test (self-test log); differs in code 2.
std::string_view loggedSelfTestStatusName(std::uint8_t code);

}  // namespace sentrel::ata
