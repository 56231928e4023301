// Device self-tests of an NVMe controller: starting or aborting one, and
// reading the Device Self-test log that follows it.
#include <array>

#include "nvme/nvme_logs.h"
#include "sentrel/nvme.h"
#include "sentrel/platform.h"

namespace sentrel {

namespace {
constexpr std::uint8_t kSelfTestLogPage = 6;
}  // namespace

bool kvNVMe::openController(std::uint32_t service, OpenNvme& out) {
  platform::Platform& p = platform::current();
  platform::Failure why;
  platform::Status s = p.plugIns->createNvmePlugIn(service, out.plugIn, &why);
  if (s != platform::kSuccess || !out.plugIn) {
    noteFailure(why.failed() ? why : platform::failureOfCommand("", "opening the NVMe access", s));
    return false;
  }
  s = out.plugIn->queryInterface(out.nvme);
  if (s != platform::kSuccess || !out.nvme) {
    noteFailure(platform::failureOfCommand("", "opening the NVMe interface", s));
    return false;
  }
  return true;
}

platform::Status kvNVMe::startSelfTest(std::uint32_t service, std::uint8_t code) {
  failure_.reset();
  OpenNvme open;
  if (!openController(service, open)) return failure_ ? failure_->status : platform::kNoDevice;
  platform::Status s = open.nvme->deviceSelfTest(code);
  if (s != platform::kSuccess) {
    noteFailure(
        open.nvme->lastFailure().value_or(platform::failureOfCommand("", "Device Self-test", s)));
  }
  return s;
}

std::optional<NvmeSelfTestLog> kvNVMe::readSelfTestLog(std::uint32_t service) {
  failure_.reset();
  OpenNvme open;
  if (!openController(service, open)) return std::nullopt;
  std::array<std::uint8_t, nvme::kSelfTestLogSize> page{};
  platform::Status s = open.nvme->readLogPage(page, kSelfTestLogPage,
                                              static_cast<std::uint32_t>(page.size() / 4 - 1));
  if (s != platform::kSuccess) {
    noteFailure(open.nvme->lastFailure().value_or(
        platform::failureOfCommand("", "reading the self-test log", s)));
    return std::nullopt;
  }
  return nvme::decodeSelfTestLog(page);
}

}  // namespace sentrel
