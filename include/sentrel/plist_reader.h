// Reading property lists as the system's tools print them: the XML form
// ("<?xml ...?><plist version="1.0">...") and the binary form ("bplist00").
//
// The bytes are untrusted tool output, so the reader never trusts a count,
// an offset or a nesting depth it finds in them: malformed input answers
// nothing with a reason, never a crash or a read outside the bytes.
//
// Mapping: dictionaries keep their document order; integers are signed
// 64-bit unless only an unsigned 64-bit number holds them; reals are
// doubles (a binary 32-bit real stays a 32-bit real); dates become their
// ISO 8601 text in UTC ("2024-05-01T12:00:00Z"); a binary set becomes an
// array; a keyed-archive UID becomes {"CF$UID": n}.
#pragma once

#include <optional>
#include <string_view>

#include "sentrel/export.h"
#include "sentrel/value.h"
#include "sentrel/value_io.h"

namespace sentrel {

// Nesting deeper than this is refused, so a hostile document cannot
// exhaust the stack.
inline constexpr int kMaxPropertyListDepth = 256;

// The value of an XML or binary property list. Empty when the bytes are
// neither, or are malformed; `error` (when given) then says where
// ("line 3", "object 12") and what was wrong.
SENTREL_API std::optional<Value> parsePropertyList(std::string_view bytes, ReadError* error);

}  // namespace sentrel
