// The NVMe data structures the reader decodes, as fixed-size byte views,
// and the field loads their decoders use (core/bytes.h: a load at a fixed
// offset is checked when it is compiled, and a record at a computed offset
// is handed out only when it lies wholly inside its buffer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/bytes.h"

namespace sentrel::nvme {

inline constexpr std::size_t kIdentifySize = 4096;    // Identify Controller
inline constexpr std::size_t kHealthSize = 512;       // SMART / Health Information
inline constexpr std::size_t kErrorLogSize = 4096;    // Error Information, 64 entries
inline constexpr std::size_t kFirmwareLogSize = 512;  // Firmware Slot Information

using IdentifyView = std::span<const std::uint8_t, kIdentifySize>;
using HealthView = std::span<const std::uint8_t, kHealthSize>;
using ErrorLogView = std::span<const std::uint8_t, kErrorLogSize>;
using FirmwareLogView = std::span<const std::uint8_t, kFirmwareLogSize>;

using bytes::Counter128;
using bytes::field;
using bytes::loadLE;
using bytes::recordAt;
using bytes::u128;
using bytes::u16;
using bytes::u24;
using bytes::u32;
using bytes::u64;
using bytes::u8;

}  // namespace sentrel::nvme
