// The two property-list forms the reader understands, each behind one
// function; plist_reader.cc picks the form by the first bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sentrel/value.h"
#include "sentrel/value_io.h"

namespace sentrel::plist {

inline constexpr std::string_view kBinaryMagic = "bplist00";

std::optional<Value> parseXml(std::string_view bytes, ReadError* error);
std::optional<Value> parseBinary(std::string_view bytes, ReadError* error);

// A date given as seconds since 2001-01-01 00:00:00 UTC (the reference date
// of binary property lists) as ISO 8601 text; empty when out of the range
// of four-digit years.
std::optional<std::string> isoDateFromReferenceSeconds(double seconds);

}  // namespace sentrel::plist
