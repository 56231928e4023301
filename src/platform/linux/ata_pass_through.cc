#include "platform/linux/ata_pass_through.h"

#include <cerrno>

namespace sentrel::platform::sat {

namespace {

constexpr std::uint8_t kAtaIdentifyDevice = 0xEC;
constexpr std::uint8_t kAtaSmart = 0xB0;
// SMART commands carry this signature in LBA mid and high.
constexpr std::uint8_t kSmartLbaMid = 0x4F;
constexpr std::uint8_t kSmartLbaHigh = 0xC2;
constexpr std::uint8_t kSmartExceededLbaMid = 0xF4;
constexpr std::uint8_t kSmartExceededLbaHigh = 0x2C;

constexpr std::uint8_t kPassThrough16 = 0x85;
constexpr std::uint8_t kProtocolNonData = 3;
constexpr std::uint8_t kProtocolPioIn = 4;
// Byte 2 of the command block.
constexpr std::uint8_t kCheckCondition = 0x20;  // CK_COND: registers back in the sense data
constexpr std::uint8_t kFromDevice = 0x08;      // T_DIR
constexpr std::uint8_t kLengthInBlocks = 0x04;  // BYTE_BLOCK
constexpr std::uint8_t kLengthInCount = 0x02;   // T_LENGTH: the count field holds it

constexpr std::uint8_t kScsiCheckCondition = 0x02;
constexpr std::uint8_t kScsiBusy = 0x08;
constexpr std::uint8_t kScsiReservationConflict = 0x18;

constexpr std::uint8_t kSenseNoSense = 0x0;
constexpr std::uint8_t kSenseRecovered = 0x1;
constexpr std::uint8_t kSenseNotReady = 0x2;
constexpr std::uint8_t kSenseIllegalRequest = 0x5;
constexpr std::uint8_t kSenseUnitAttention = 0x6;

constexpr std::uint8_t kAtaStatusError = 0x01;
constexpr std::uint8_t kAtaStatusDeviceFault = 0x20;

constexpr std::uint8_t kDescriptorAtaStatusReturn = 0x09;

AtaCommand smart(std::uint8_t feature) {
  AtaCommand c;
  c.command = kAtaSmart;
  c.features = feature;
  c.lbaMid = kSmartLbaMid;
  c.lbaHigh = kSmartLbaHigh;
  return c;
}

AtaCommand smartIn(std::uint8_t feature, std::uint8_t sectors) {
  AtaCommand c = smart(feature);
  c.count = sectors;
  c.sectorsIn = sectors;
  return c;
}

}  // namespace

AtaCommand identifyDevice() {
  AtaCommand c;
  c.command = kAtaIdentifyDevice;
  c.count = 1;
  c.sectorsIn = 1;
  return c;
}

AtaCommand checkPowerMode() {
  constexpr std::uint8_t kCheckPowerMode = 0xE5;
  AtaCommand c;
  c.command = kCheckPowerMode;
  c.wantRegisters = true;
  return c;
}

AtaCommand smartReadData() {
  return smartIn(kSmartFeatureReadData, 1);
}
AtaCommand smartReadThresholds() {
  return smartIn(kSmartFeatureReadThresholds, 1);
}

AtaCommand smartReadLog(std::uint8_t address, std::uint8_t sectors) {
  AtaCommand c = smartIn(kSmartFeatureReadLog, sectors);
  c.lbaLow = address;
  return c;
}

AtaCommand smartEnableOperations(bool enable) {
  return smart(enable ? kSmartFeatureEnable : kSmartFeatureDisable);
}

AtaCommand smartReturnStatus() {
  AtaCommand c = smart(kSmartFeatureReturnStatus);
  c.wantRegisters = true;
  return c;
}

AtaCommand smartOfflineImmediate(std::uint8_t subcommand) {
  AtaCommand c = smart(kSmartFeatureOfflineImmediate);
  c.lbaLow = subcommand;
  return c;
}

std::array<std::uint8_t, 16> passThrough16(const AtaCommand& c) {
  std::array<std::uint8_t, 16> cdb{};
  cdb[0] = kPassThrough16;
  bool in = c.sectorsIn > 0;
  cdb[1] = static_cast<std::uint8_t>((in ? kProtocolPioIn : kProtocolNonData) << 1);
  std::uint8_t flags = c.wantRegisters ? kCheckCondition : 0;
  if (in) flags |= kFromDevice | kLengthInBlocks | kLengthInCount;
  cdb[2] = flags;
  // Bytes 3, 5, 7, 9 and 11 are the upper halves of 48-bit registers: zero.
  cdb[4] = c.features;
  cdb[6] = c.count;
  cdb[8] = c.lbaLow;
  cdb[10] = c.lbaMid;
  cdb[12] = c.lbaHigh;
  cdb[13] = c.device;
  cdb[14] = c.command;
  return cdb;
}

std::optional<SenseKey> senseKey(std::span<const std::uint8_t> sense) {
  if (sense.empty()) return std::nullopt;
  std::uint8_t code = sense[0] & 0x7F;
  if ((code == 0x72 || code == 0x73) && sense.size() >= 4)
    return SenseKey{static_cast<std::uint8_t>(sense[1] & 0x0F), sense[2], sense[3]};
  if ((code == 0x70 || code == 0x71) && sense.size() >= 14)
    return SenseKey{static_cast<std::uint8_t>(sense[2] & 0x0F), sense[12], sense[13]};
  return std::nullopt;
}

std::optional<AtaRegisters> registersFromSense(std::span<const std::uint8_t> sense) {
  if (sense.empty()) return std::nullopt;
  std::uint8_t code = sense[0] & 0x7F;
  if (code == 0x72 || code == 0x73) {
    if (sense.size() < 8) return std::nullopt;
    // The descriptors follow the 8-byte header; each starts with its type
    // and the count of bytes after its first two.
    std::size_t end = std::min<std::size_t>(sense.size(), 8u + sense[7]);
    for (std::size_t at = 8; at + 2 <= end; at += 2u + sense[at + 1]) {
      if (sense[at] != kDescriptorAtaStatusReturn) continue;
      if (at + 14 > end) return std::nullopt;
      const std::uint8_t* d = sense.data() + at;
      // Each register's low byte follows the high byte of its 48-bit form.
      return AtaRegisters{d[3], d[5], d[7], d[9], d[11], d[12], d[13]};
    }
    return std::nullopt;
  }
  if ((code == 0x70 || code == 0x71) && sense.size() >= 12) {
    // Fixed format: ERROR, STATUS, DEVICE and COUNT in the information
    // field, LBA low, mid and high in the command-specific information.
    return AtaRegisters{sense[3], sense[6], sense[9], sense[10], sense[11], sense[5], sense[4]};
  }
  return std::nullopt;
}

Status statusFromErrno(int error) {
  switch (error) {
    case 0:
      return kSuccess;
    case EACCES:
    case EPERM:
      return kNotPermitted;
    case EBUSY:
    case EAGAIN:
    case ENOMEM:
      return kNoResources;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return kNoDevice;
    case ENOTTY:
    case EINVAL:
    case EOPNOTSUPP:
      return kUnsupported;
    default:
      return kGeneralError;
  }
}

Status statusFromCompletion(const Completion& c, std::optional<AtaRegisters>* registers) {
  // Host adapter verdicts (DID_* codes of the SCSI midlayer).
  switch (c.hostStatus) {
    case 0x00:
      break;
    case 0x01:  // no connect
    case 0x04:  // bad target
      return kNoDevice;
    case 0x02:  // bus busy
    case 0x0C:  // immediate retry
    case 0x0D:  // requeue
      return kNoResources;
    default:
      return kGeneralError;
  }
  if (c.scsiStatus == kScsiBusy || c.scsiStatus == kScsiReservationConflict) return kNoResources;
  if (c.scsiStatus != 0 && c.scsiStatus != kScsiCheckCondition) return kGeneralError;

  std::optional<AtaRegisters> regs = registersFromSense(c.sense);
  if (registers) *registers = regs;
  if (auto key = senseKey(c.sense)) {
    switch (key->key) {
      case kSenseNoSense:
      case kSenseRecovered:
        break;
      case kSenseIllegalRequest:
        return kUnsupported;
      case kSenseNotReady:
      case kSenseUnitAttention:
        return kNoResources;
      default:
        return kGeneralError;
    }
  } else if (c.scsiStatus == kScsiCheckCondition) {
    return kGeneralError;  // a check condition whose reason cannot be read
  }
  if (regs && (regs->status & (kAtaStatusError | kAtaStatusDeviceFault))) return kGeneralError;
  return kSuccess;
}

std::optional<bool> thresholdExceededFromRegisters(const AtaRegisters& r) {
  if (r.lbaMid == kSmartLbaMid && r.lbaHigh == kSmartLbaHigh) return false;
  if (r.lbaMid == kSmartExceededLbaMid && r.lbaHigh == kSmartExceededLbaHigh) return true;
  return std::nullopt;
}

}  // namespace sentrel::platform::sat
