// kvNVMe: the reader of an NVMe controller's identify data and its health,
// error and firmware log pages, and the fallback reader that goes through
// the controller of a namespace. Between calls it keeps only why its last
// reading failed.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "sentrel/export.h"
#include "sentrel/platform.h"
#include "sentrel/report.h"
#include "sentrel/value.h"

namespace sentrel {

class SENTREL_API kvNVMe {
 public:
  // The NVMe health reading of the controller at the registry entry;
  // nothing when the handle is 0 or the plug-in or its interface cannot be
  // had. A reading always holds every key; its arrays may be empty.
  std::optional<Dict> readNVMeForService(std::uint32_t service);

  // The reading through the registry entry that carries the namespace UUID
  // (nothing counts as ""): the keys to merge. Always a dictionary, empty
  // when no entry carries the UUID; a failed step leaves the registry group
  // alone and is reported in one system-log line.
  std::optional<Dict> readNVMeUUID(const std::optional<std::string>& uuid);

  // Writes `len` bytes (clamped to the buffer, at most 36 rows of 16) to the
  // system log as hex rows, in one alert line.
  void hexDump(std::span<const std::uint8_t> bytes, std::int32_t len);

  // Starts a device self-test of the controller at the registry entry
  // (code 1 short, 2 extended) or aborts the one running (0xF). Answers
  // the command's status; lastFailure() says why it failed.
  platform::Status startSelfTest(std::uint32_t service, std::uint8_t code);
  // The controller's Device Self-test log; nothing when it cannot be read.
  std::optional<NvmeSelfTestLog> readSelfTestLog(std::uint32_t service);

  // Why the last reading lacks data: the plug-in that could not be made or
  // the command that failed. Nothing when the last reading had all it asked.
  const std::optional<platform::Failure>& lastFailure() const { return failure_; }
  // The health log of the last reading that got one, decoded.
  const std::optional<NvmeHealthLog>& lastHealthLog() const { return healthLog_; }

 private:
  // An open plug-in and interface; the interface is released first.
  struct OpenNvme {
    std::unique_ptr<platform::NvmeSmartPlugIn> plugIn;
    std::unique_ptr<platform::NvmeSmartInterface> nvme;
    ~OpenNvme() { nvme.reset(); }
  };
  bool openController(std::uint32_t service, OpenNvme& out);
  void noteFailure(platform::Failure failure) {
    if (!failure_) failure_ = std::move(failure);
  }
  std::optional<platform::Failure> failure_;
  std::optional<NvmeHealthLog> healthLog_;
};

}  // namespace sentrel
