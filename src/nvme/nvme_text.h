// The texts of NVMe identify data and the printf-style forms the reading
// shows numbers in.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sentrel::nvme {

// A text field: all of its bytes (zero bytes included, as characters)
// decoded as UTF-8, with blanks, tabs and the other Unicode space
// separators removed from both ends. Line ends and zero bytes are not
// blanks and stay. Nothing when the bytes are not valid UTF-8.
std::optional<std::string> fieldText(std::span<const std::uint8_t> bytes);

// Removes blanks, tabs and Unicode space separators from both ends of
// valid UTF-8.
std::string_view trimSpaceSeparators(std::string_view s);

// `value` as lower-case hex, zero-padded to `digits` ("%04x" is hexText(v, 4)).
std::string hexText(std::uint64_t value, int digits);

// Every byte as "%02x " in order: three characters a byte, the last one a blank.
std::string hexBytes(std::span<const std::uint8_t> bytes);

}  // namespace sentrel::nvme
