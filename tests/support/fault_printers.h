// How GoogleTest prints the library's values in a failure message: as JSON,
// instead of their bytes.
#pragma once

#include <ostream>

#include "sentrel/platform.h"
#include "sentrel/value.h"
#include "sentrel/value_io.h"

namespace sentrel {

inline void PrintTo(const Value& value, std::ostream* os) {
  *os << toJson(value);
}
inline void PrintTo(const Dict& dict, std::ostream* os) {
  *os << toJson(Value(dict));
}

}  // namespace sentrel

namespace sentrel::platform {

inline std::ostream& operator<<(std::ostream& os, const Failure& f) {
  return os << f.message();
}

}  // namespace sentrel::platform
