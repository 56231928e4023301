// The readable form of a byte count, without the system-version gate that
// chooses its base (volume_sizes.cc asks for that).
#pragma once

#include <string>

namespace sentrel::sysutil {

// Divides by `base` (1000 or 1024) while the count is greater than it and
// names the unit by the number of divisions ("bytes", "KB", ... "YB" for
// eight and more): "%.2f" of the scaled count with a trailing ".00" removed,
// a blank and the unit. Negative, infinite and not-a-number counts are
// shown unscaled in "bytes" ("inf bytes"), so the scaling always ends.
std::string byteCountText(double bytes, double base);

// A number with a fixed count of decimals, independent of the C locale
// ("%.2f", "%.0f"); not-a-number is "nan", infinities "inf" and "-inf".
std::string fixedDecimals(double value, int decimals);

}  // namespace sentrel::sysutil
