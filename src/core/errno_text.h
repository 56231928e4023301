// The system's text for an errno value. strerror's buffer is shared
// between threads; the GNU strerror_r answers the text in a caller's buffer
// (or a constant one).
#pragma once

#include <cstring>
#include <string>

namespace sentrel::platform {

inline std::string errnoText(int error) {
  char buffer[128];
  return ::strerror_r(error, buffer, sizeof buffer);
}

}  // namespace sentrel::platform
