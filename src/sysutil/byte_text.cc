#include "sysutil/byte_text.h"

#include <charconv>
#include <cmath>

#include "sentrel/sysutil.h"
#include "sysutil/affixes.h"

namespace sentrel::sysutil {

namespace {
constexpr const char* kUnits[] = {"bytes", "KB", "MB", "GB", "TB", "PB", "EB", "ZB", "YB"};
constexpr std::size_t kLastUnit = sizeof kUnits / sizeof kUnits[0] - 1;
}  // namespace

std::string fixedDecimals(double value, int decimals) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  // 1e308 with its digits and two decimals fits easily.
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  if (ec != std::errc()) return "nan";
  return std::string(buf, end);
}

std::string byteCountText(double bytes, double base) {
  double v = bytes;
  std::size_t count = 0;
  if (std::isfinite(v)) {
    while (base > 1 && v > base) {
      // A binary base scales by its exact reciprocal, 2^-10.
      v = base == 1024 ? v * 0.0009765625 : v / base;
      ++count;
    }
  }
  std::string number = stringByRemovingSuffix(fixedDecimals(v, 2), ".00");
  return number + " " + kUnits[std::min(count, kLastUnit)];
}

}  // namespace sentrel::sysutil

namespace sentrel {

std::string stringByRemovingSuffix(std::string_view text, std::string_view suffix) {
  if (!sysutil::hasSuffix(text, suffix)) return std::string(text);
  return std::string(text.substr(0, text.size() - suffix.size()));
}

std::string KVFoundationRoundByteCountToMBAndString(double& byteCount) {
  byteCount = std::floor(byteCount * 9.5367431640625e-07);
  std::string text = sysutil::fixedDecimals(byteCount, 0) + "M";
  byteCount = byteCount * 1048576.0;
  return text;
}

}  // namespace sentrel
