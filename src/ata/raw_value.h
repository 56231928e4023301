// Raw attribute values: the six raw bytes of a SMART attribute slot shown
// in one of the drive database's raw-value formats. Pure: reads only the slot.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace sentrel::ata {

using AttributeSlot = std::span<const std::uint8_t, 12>;
using RawBytes = std::span<const std::uint8_t, 6>;

// The format names, in their fixed order; any other name reads as "default".
inline constexpr std::array<std::string_view, 20> kRawFormats{
    "default",      "raw8",         "raw16",        "raw48",        "hex48",
    "raw56",        "hex56",        "raw64",        "hex64",        "raw16(raw16)",
    "raw16(avg16)", "raw24(raw8)",  "raw24/raw24",  "raw24/raw32",  "sec2hour",
    "min2hour",     "halfmin2hour", "msec24hour32", "tempminmax",   "temp10x"};

std::string decodeRawAttribute(AttributeSlot slot, std::string_view fmt);

// Current, minimum, maximum temperature and over-temperature count.
using Temperatures = std::array<std::int16_t, 4>;

// Reads a temperature layout from the raw bytes: r0 is the current value,
// r[minidx] and r[maxidx] the limits (swapped when reversed), words 2 the
// count when `otc` is set. True when min <= current <= max < 121. An index
// outside the six bytes reads as 0.
bool readTemperatures(RawBytes raw, std::int8_t minidx, std::int8_t maxidx, std::uint8_t otc,
                      Temperatures& temp);

// True when the signed bytes at the three indexes satisfy
// -60 <= min(low, high) <= current <= max(low, high) <= 120. An index
// outside the six bytes makes it false.
bool temperatureInRange(std::uint8_t index, std::uint8_t low, std::uint8_t high, RawBytes raw);

}  // namespace sentrel::ata
