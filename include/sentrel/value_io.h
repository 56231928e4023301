// Reading and writing values as JSON and as XML property lists.
//
// JSON mapping (every `--format json` output uses it): styled text is its
// plain string; a colour is "red", "blue" or "controlText"; an image is
// {"image": NAME, "width": W, "height": H}; data is {"$data": "HEX"};
// everything else is what JSON has for it. A 32-bit real prints as the
// shortest text that reads back as the same float.
#pragma once

#include <string>
#include <string_view>

#include "sentrel/export.h"
#include "sentrel/value.h"

namespace sentrel {

struct JsonOptions {
  int indent = 2;  // -1: one line
};

SENTREL_API std::string toJson(const Value& value, JsonOptions options = {});

// An XML property list (version 1.0 with its DOCTYPE). The display values,
// which property lists cannot hold, are written as their JSON mapping.
SENTREL_API std::string toXmlPlist(const Value& value);

// Where a read failed: the JSON path ("$.disks[2].description") and what
// was wrong there.
struct ReadError {
  std::string path;
  std::string message;
  std::string text() const { return path.empty() ? message : path + ": " + message; }
};

// Reads JSON text into a value: objects become dictionaries in document
// order, integers stay signed unless only an unsigned type holds them, and
// {"$data": "HEX"} becomes data. Empty on malformed text, with `error` set;
// an object that holds one key twice is malformed too (the path names the
// second one), so no value silently replaces another.
SENTREL_API std::optional<Value> fromJson(std::string_view text, ReadError* error);

// What "%@" prints for a value: a string as itself, a number in its
// shortest decimal form, a boolean as 1 or 0, styled text as its characters.
SENTREL_API std::string formatObject(const Value& v);

// Lower-case hex of bytes, and its reverse (white space between pairs is
// allowed; an odd digit count or a non-hex character answers nothing).
SENTREL_API std::string toHex(const Data& bytes);
SENTREL_API std::optional<Data> fromHex(std::string_view text);

}  // namespace sentrel
