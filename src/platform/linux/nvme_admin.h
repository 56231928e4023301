// NVMe admin commands as the kernel's NVME_IOCTL_ADMIN_CMD takes them, and
// what their answers mean to a platform caller. Pure, so the command words
// are tested without a controller.
//
// Status mapping: a negative ioctl answer is an errno (see
// sat::statusFromErrno: EACCES/EPERM -> kNotPermitted, ...); a positive
// one is the controller's completion status (status code type and code),
// which becomes kUnsupported for "invalid field", "invalid log page" and
// "invalid opcode", and kGeneralError otherwise.
#pragma once

#include <cstdint>
#include <span>

#include "sentrel/platform.h"

namespace sentrel::platform::nvmeadmin {

struct AdminCommand {
  std::uint8_t opcode = 0;
  std::uint32_t nsid = 0;
  std::uint32_t dataLength = 0;
  std::uint32_t cdw10 = 0;
  std::uint32_t cdw11 = 0;
};

inline constexpr std::uint32_t kAllNamespaces = 0xFFFFFFFF;

// Identify: the controller's data structure for `nsid` 0, else that
// namespace's (4096 bytes).
AdminCommand identify(std::uint32_t nsid);
// Get Log Page `logId`, `dwordsMinusOne` + 1 dwords, for all namespaces.
AdminCommand getLogPage(std::uint8_t logId, std::uint32_t dwordsMinusOne);

// Device Self-test of every namespace: code 1 short, 2 extended, 0xF abort.
AdminCommand deviceSelfTest(std::uint8_t code);

// The platform status of an ioctl answer (see above).
Status statusFromIoctl(int result, int error);

// The NVMe version the controller reports in its identify data (VER,
// bytes 80-83): major and minor.
struct Version {
  std::uint16_t major = 0;
  std::uint16_t minor = 0;
};
Version versionFromIdentify(std::span<const std::uint8_t> identify);

}  // namespace sentrel::platform::nvmeadmin
