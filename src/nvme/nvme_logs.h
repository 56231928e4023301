// Decoding of the NVMe Error Information and Firmware Slot Information log
// pages.
#pragma once

#include "nvme/nvme_layout.h"
#include "sentrel/report.h"
#include "sentrel/value.h"

namespace sentrel::nvme {

inline constexpr std::size_t kErrorLogEntries = 64;
inline constexpr std::size_t kErrorEntrySize = 64;

// One error entry per entry of the page whose error count is not zero, in
// log order. Every entry is scanned: an empty one does not end the log.
Array errorLogEntries(ErrorLogView log);

// The Device Self-test log (log page 6): the test running now and the
// results, newest first, without the unused entries.
inline constexpr std::size_t kSelfTestLogSize = 564;
using SelfTestLogView = std::span<const std::uint8_t, kSelfTestLogSize>;
NvmeSelfTestLog decodeSelfTestLog(SelfTestLogView log);

// "firmwareSlotCount", "activeFirmwareSlot", "nextFirmwareSlot" and
// "firmwareSlots", from identify byte 260 and the firmware slot log.
void addFirmwareSlots(Dict& reading, IdentifyView identify, FirmwareLogView log);

}  // namespace sentrel::nvme
