// The registers the ATA PASS-THROUGH (16) command reads back from
// both sense formats, and what errno, SCSI status and sense mean to a caller
// (the command blocks themselves meet smartctl in the end-to-end test).
#include "platform/linux/ata_pass_through.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

namespace sentrel::platform::sat {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Descriptor-format sense: the ATA Status Return descriptor (LBA mid and
// high, status), optionally after another descriptor.
Bytes descriptorSense(std::uint8_t key, std::uint8_t mid, std::uint8_t high, std::uint8_t status,
                      bool otherFirst = false) {
  Bytes s{0x72, key, 0x00, 0x1D, 0, 0, 0, 0};
  if (otherFirst) s.insert(s.end(), {0x00, 0x0A, 0x80, 0, 1, 2, 3, 4, 5, 6, 7, 8});
  s.insert(s.end(), {0x09, 0x0C, 0, 0, 0, 0, 0, 0, 0, mid, 0, high, 0, status});
  s[7] = static_cast<std::uint8_t>(s.size() - 8);
  return s;
}

// Fixed-format sense: the sense key, then the status and LBA mid and high.
Bytes fixedSense(std::uint8_t key, std::uint8_t status, std::uint8_t mid = 0x4F,
                 std::uint8_t high = 0xC2) {
  Bytes s(18, 0);
  s[0] = 0x70;
  s[2] = key;
  s[4] = status;
  s[10] = mid;
  s[11] = high;
  return s;
}

// Each sense sits in a heap buffer of exactly its length, so a decoder that
// reads past it is caught by the address sanitizer build.
TEST(PassThroughTest, CompletionsAndTheirRegisters) {
  Bytes shortDescriptor = descriptorSense(0x01, 0x4F, 0xC2, 0x50);
  shortDescriptor.resize(shortDescriptor.size() - 2);  // two bytes short of the status
  shortDescriptor[7] = static_cast<std::uint8_t>(shortDescriptor.size() - 8);
  shortDescriptor[9] = 0x0A;
  struct Case {
    const char* name;
    std::uint8_t scsi;
    std::uint16_t host;
    Bytes sense;
    Status status;
    int registers;  // the ATA status read back; -1: none
    std::optional<bool> exceeded = std::nullopt;
  } cases[] = {
      {"good, no sense", 0, 0, {}, kSuccess, -1},
      {"descriptor: exceeded", 2, 0, descriptorSense(1, 0xF4, 0x2C, 0x50), kSuccess, 0x50, true},
      {"descriptor after another", 2, 0, descriptorSense(1, 0xF4, 0x2C, 0x50, true), kSuccess, 0x50,
       true},
      {"fixed: sound", 2, 0, fixedSense(0x01, 0x50), kSuccess, 0x50, false},
      {"unknown signature", 2, 0, fixedSense(0x01, 0x50, 0, 0), kSuccess, 0x50, std::nullopt},
      {"ATA ERR bit", 2, 0, fixedSense(0x01, 0x51), kGeneralError, 0x51, false},
      {"ATA device fault", 2, 0, descriptorSense(0, 0x4F, 0xC2, 0x70), kGeneralError, 0x70, false},
      {"illegal request: no pass-through", 2, 0, fixedSense(0x05, 0), kUnsupported, 0, false},
      {"not ready", 2, 0, fixedSense(0x02, 0), kNoResources, 0, false},
      {"check condition without sense", 2, 0, {}, kGeneralError, -1},
      {"descriptor two bytes short", 2, 0, shortDescriptor, kSuccess, -1},
      {"descriptor cut short", 2, 0, {0x72, 1, 0, 0x1D, 0, 0, 0, 40, 0x09, 0x0C, 0}, kSuccess, -1},
      {"length past the end", 2, 0, {0x72, 1, 0, 0x1D, 0, 0, 0, 4, 0, 0xFF, 0, 0}, kSuccess, -1},
      {"SCSI busy", 0x08, 0, {}, kNoResources, -1},
      {"host: bad target", 0, 0x04, fixedSense(0x01, 0x50), kNoDevice, -1},
      {"host: bus busy", 0, 0x02, {}, kNoResources, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<AtaRegisters> registers;
    const Bytes sense = c.sense;  // exactly its length
    EXPECT_EQ(statusFromCompletion({c.scsi, c.host, 0x08, sense}, &registers), c.status);
    ASSERT_EQ(registers.has_value(), c.registers >= 0);
    if (!registers) continue;
    EXPECT_EQ(registers->status, c.registers);
    EXPECT_EQ(thresholdExceededFromRegisters(*registers), c.exceeded);
  }
}

TEST(PassThroughTest, ErrnoMapping) {
  struct Case {
    int error;
    Status status;
  } cases[] = {{0, kSuccess},      {EPERM, kNotPermitted}, {EBUSY, kNoResources},
               {ENXIO, kNoDevice}, {EINVAL, kUnsupported}, {EIO, kGeneralError}};
  for (const Case& c : cases) EXPECT_EQ(statusFromErrno(c.error), c.status) << c.error;
}

}  // namespace
}  // namespace sentrel::platform::sat
