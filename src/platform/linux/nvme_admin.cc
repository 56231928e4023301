#include "platform/linux/nvme_admin.h"

#include "core/bytes.h"
#include "platform/linux/ata_pass_through.h"

namespace sentrel::platform::nvmeadmin {

namespace {
constexpr std::uint8_t kOpcodeGetLogPage = 0x02;
constexpr std::uint8_t kOpcodeIdentify = 0x06;
constexpr std::uint32_t kCnsNamespace = 0x00;
constexpr std::uint32_t kCnsController = 0x01;
constexpr std::uint32_t kIdentifySize = 4096;

// Generic command status codes (status code type 0).
constexpr int kInvalidOpcode = 0x01;
constexpr int kInvalidField = 0x02;
// Command specific status (type 1).
constexpr int kInvalidLogPage = 0x109;
}  // namespace

AdminCommand identify(std::uint32_t nsid) {
  AdminCommand c;
  c.opcode = kOpcodeIdentify;
  c.nsid = nsid;
  c.dataLength = kIdentifySize;
  c.cdw10 = nsid == 0 ? kCnsController : kCnsNamespace;
  return c;
}

AdminCommand getLogPage(std::uint8_t logId, std::uint32_t dwordsMinusOne) {
  AdminCommand c;
  c.opcode = kOpcodeGetLogPage;
  c.nsid = kAllNamespaces;
  c.dataLength = (dwordsMinusOne + 1) * 4;
  // The dword count is split: its lower 16 bits above the log id, its upper
  // 16 bits in the next word.
  c.cdw10 = ((dwordsMinusOne & 0xFFFF) << 16) | logId;
  c.cdw11 = dwordsMinusOne >> 16;
  return c;
}

AdminCommand deviceSelfTest(std::uint8_t code) {
  constexpr std::uint8_t kDeviceSelfTest = 0x14;
  AdminCommand c;
  c.opcode = kDeviceSelfTest;
  c.nsid = kAllNamespaces;
  c.cdw10 = code & 0x0F;
  return c;
}

Status statusFromIoctl(int result, int error) {
  if (result == 0) return kSuccess;
  if (result < 0) return sat::statusFromErrno(error);
  int code = result & 0x7FF;  // status code type and status code, without the flags
  if (code == kInvalidOpcode || code == kInvalidField || code == kInvalidLogPage)
    return kUnsupported;
  return kGeneralError;
}

Version versionFromIdentify(std::span<const std::uint8_t> identify) {
  if (identify.size() < 84) return {};
  return Version{bytes::load16(identify, 82), bytes::load8(identify, 81)};
}

}  // namespace sentrel::platform::nvmeadmin
