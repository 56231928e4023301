// hexDump:len: writes a buffer to the system log as one alert line.
#include "nvme/hex_dump.h"
#include "sentrel/nvme.h"
#include "sentrel/platform.h"

namespace sentrel {

void kvNVMe::hexDump(std::span<const std::uint8_t> bytes, std::int32_t len) {
  constexpr int kAlert = 1;
  platform::current().log->syslog(kAlert, nvme::hexDumpLogLine(len, nvme::hexDumpText(bytes, len)));
}

}  // namespace sentrel
