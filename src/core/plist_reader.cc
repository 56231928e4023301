#include "sentrel/plist_reader.h"

#include <cmath>
#include <cstdio>

#include "core/plist_formats.h"

namespace sentrel {

namespace plist {

std::optional<std::string> isoDateFromReferenceSeconds(double seconds) {
  // Years 0001 to 9999 span about ±3.2e11 seconds around 2001; beyond that
  // the text would not be a four-digit year.
  if (!std::isfinite(seconds) || std::fabs(seconds) > 3.0e11) return std::nullopt;
  // Days since the reference date, then the civil date of that day count
  // shifted to the 0000-03-01 era (the days-from-civil inverse).
  double whole = std::floor(seconds);
  auto total = static_cast<long long>(whole);
  long long days = total / 86400, rest = total % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  long long z = days + 11323 /* 1970-01-01 to 2001-01-01 */ + 719468;
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long year = yoe + era * 400;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  long long day = doy - (153 * mp + 2) / 5 + 1;
  long long month = mp < 10 ? mp + 3 : mp - 9;
  if (month <= 2) ++year;
  if (year < 1 || year > 9999) return std::nullopt;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", year, month, day,
                rest / 3600, rest / 60 % 60, rest % 60);
  return std::string(buf);
}

}  // namespace plist

std::optional<Value> parsePropertyList(std::string_view bytes, ReadError* error) {
  if (bytes.substr(0, 6) == "bplist") {
    if (bytes.substr(0, plist::kBinaryMagic.size()) != plist::kBinaryMagic) {
      if (error) *error = {"offset 0", "unsupported binary property list version"};
      return std::nullopt;
    }
    return plist::parseBinary(bytes, error);
  }
  return plist::parseXml(bytes, error);
}

}  // namespace sentrel
