// ATA commands sent through the SCSI generic driver as ATA PASS-THROUGH (16)
// command blocks, and the answers that come back: the SCSI status, the
// sense data carrying the drive's registers, and errno of the system call.
// Everything here is pure, so the command blocks and the status mapping are
// tested without a drive.
//
// Status mapping (what a platform caller sees):
//   errno EACCES, EPERM                    -> kNotPermitted (no root / CAP_SYS_RAWIO)
//   errno EBUSY, EAGAIN, ENOMEM            -> kNoResources (the open is retried)
//   errno ENOENT, ENODEV, ENXIO            -> kNoDevice (the disk went away)
//   errno ENOTTY, EINVAL, EOPNOTSUPP       -> kUnsupported (not a pass-through node)
//   host status "no connect", "bad target" -> kNoDevice
//   host status "busy", "requeue", "retry" -> kNoResources
//   SCSI status BUSY, RESERVATION CONFLICT -> kNoResources
//   sense key ILLEGAL REQUEST              -> kUnsupported (the bridge refuses ATA)
//   sense key NOT READY, UNIT ATTENTION    -> kNoResources
//   ATA status ERR or DF, sense key ABORTED COMMAND, anything else -> kGeneralError
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "sentrel/platform.h"

namespace sentrel::platform::sat {

// One ATA command in the 28-bit register set.
struct AtaCommand {
  std::uint8_t command = 0;
  std::uint8_t features = 0;
  std::uint8_t count = 0;
  std::uint8_t lbaLow = 0;
  std::uint8_t lbaMid = 0;
  std::uint8_t lbaHigh = 0;
  std::uint8_t device = 0;
  // Sectors read from the drive (PIO data-in); 0 for a command without data.
  std::uint8_t sectorsIn = 0;
  // Ask for the registers back even on success (SMART RETURN STATUS).
  bool wantRegisters = false;
};

inline constexpr std::uint8_t kSmartFeatureReadData = 0xD0;
inline constexpr std::uint8_t kSmartFeatureReadThresholds = 0xD1;
inline constexpr std::uint8_t kSmartFeatureOfflineImmediate = 0xD4;
inline constexpr std::uint8_t kSmartFeatureReadLog = 0xD5;
inline constexpr std::uint8_t kSmartFeatureEnable = 0xD8;
inline constexpr std::uint8_t kSmartFeatureDisable = 0xD9;
inline constexpr std::uint8_t kSmartFeatureReturnStatus = 0xDA;

AtaCommand identifyDevice();
// CHECK POWER MODE: the mode comes back in the count register.
AtaCommand checkPowerMode();
AtaCommand smartReadData();
AtaCommand smartReadThresholds();
AtaCommand smartReadLog(std::uint8_t address, std::uint8_t sectors);
AtaCommand smartEnableOperations(bool enable);
AtaCommand smartReturnStatus();
// Subcommand 1 starts the short self-test, 2 the extended one, both in the
// background.
AtaCommand smartOfflineImmediate(std::uint8_t subcommand);

// The 16-byte ATA PASS-THROUGH command block of a command.
std::array<std::uint8_t, 16> passThrough16(const AtaCommand& command);

// The drive's registers after a command.
struct AtaRegisters {
  std::uint8_t error = 0;
  std::uint8_t count = 0;
  std::uint8_t lbaLow = 0;
  std::uint8_t lbaMid = 0;
  std::uint8_t lbaHigh = 0;
  std::uint8_t device = 0;
  std::uint8_t status = 0;
};

// The registers in sense data: the ATA Status Return descriptor of
// descriptor-format sense (found by walking the descriptors, wherever it
// sits), or the information fields of fixed-format sense. Empty when the
// sense data carries none.
std::optional<AtaRegisters> registersFromSense(std::span<const std::uint8_t> sense);

struct SenseKey {
  std::uint8_t key = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
};
std::optional<SenseKey> senseKey(std::span<const std::uint8_t> sense);

// What the SCSI generic driver reported for a finished command.
struct Completion {
  std::uint8_t scsiStatus = 0;  // the SCSI status byte (GOOD, CHECK CONDITION, ...)
  std::uint16_t hostStatus = 0;
  std::uint16_t driverStatus = 0;
  std::span<const std::uint8_t> sense;
};

Status statusFromErrno(int error);
// The platform status of a completed command; `registers` receives the
// drive's registers when the sense data holds them.
Status statusFromCompletion(const Completion& completion, std::optional<AtaRegisters>* registers);

// SMART RETURN STATUS answers in LBA mid/high: 4Fh/C2h for a drive within its
// thresholds, F4h/2Ch once a threshold is exceeded. Empty for anything else.
std::optional<bool> thresholdExceededFromRegisters(const AtaRegisters& registers);

}  // namespace sentrel::platform::sat
