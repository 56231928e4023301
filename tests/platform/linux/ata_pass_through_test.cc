// The ATA PASS-THROUGH (16) command blocks, the registers read back from
// both sense formats, and what errno, SCSI status and sense mean to a caller.
#include "platform/linux/ata_pass_through.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "platform/linux/nvme_admin.h"

namespace sentrel::platform::sat {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(PassThroughTest, CommandBlocks) {
  struct Case {
    AtaCommand command;
    std::array<std::uint8_t, 16> cdb;
  } cases[] = {
      // PIO data-in, length in the count field, in blocks.
      {identifyDevice(), {0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0}},
      {smartReadThresholds(), {0x85, 0x08, 0x0E, 0, 0xD1, 0, 1, 0, 0, 0, 0x4F, 0, 0xC2, 0, 0xB0}},
      {smartReadLog(0x01, 2), {0x85, 0x08, 0x0E, 0, 0xD5, 0, 2, 0, 1, 0, 0x4F, 0, 0xC2, 0, 0xB0}},
      // Non-data; CK_COND only where the registers are the answer.
      {smartEnableOperations(false),
       {0x85, 0x06, 0, 0, 0xD9, 0, 0, 0, 0, 0, 0x4F, 0, 0xC2, 0, 0xB0}},
      {smartReturnStatus(), {0x85, 0x06, 0x20, 0, 0xDA, 0, 0, 0, 0, 0, 0x4F, 0, 0xC2, 0, 0xB0}},
      {smartOfflineImmediate(2), {0x85, 0x06, 0, 0, 0xD4, 0, 0, 0, 2, 0, 0x4F, 0, 0xC2, 0, 0xB0}},
  };
  for (const Case& c : cases) EXPECT_EQ(passThrough16(c.command), c.cdb) << int(c.cdb[4]);
}

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
      {"unit attention", 2, 0, descriptorSense(0x06, 0, 0, 0), kNoResources, 0},
      {"aborted command", 2, 0, fixedSense(0x0B, 0x51), kGeneralError, 0x51, false},
      {"check condition without sense", 2, 0, {}, kGeneralError, -1},
      {"descriptor two bytes short", 2, 0, shortDescriptor, kSuccess, -1},
      {"no descriptors", 2, 0, {0x72, 1, 0, 0x1D, 0, 0, 0, 0}, kSuccess, -1},
      {"descriptor cut short", 2, 0, {0x72, 1, 0, 0x1D, 0, 0, 0, 40, 0x09, 0x0C, 0}, kSuccess, -1},
      {"length past the end", 2, 0, {0x72, 1, 0, 0x1D, 0, 0, 0, 4, 0, 0xFF, 0, 0}, kSuccess, -1},
      {"unknown format", 2, 0, Bytes(14, 0x7F), kGeneralError, -1},
      {"fixed, too short", 2, 0, {0x70, 0, 0}, kGeneralError, -1},
      {"header only", 2, 0, {0x72}, kGeneralError, -1},
      {"SCSI busy", 0x08, 0, {}, kNoResources, -1},
      {"reservation conflict", 0x18, 0, {}, kNoResources, -1},
      {"task aborted", 0x40, 0, {}, kGeneralError, -1},
      {"host: no connect", 0, 0x01, {}, kNoDevice, -1},
      {"host: bad target", 0, 0x04, fixedSense(0x01, 0x50), kNoDevice, -1},
      {"host: bus busy", 0, 0x02, {}, kNoResources, -1},
      {"host: time out", 0, 0x03, {}, kGeneralError, -1},
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
  } cases[] = {{0, kSuccess},          {EACCES, kNotPermitted}, {EPERM, kNotPermitted},
               {EBUSY, kNoResources},  {EAGAIN, kNoResources},  {ENOMEM, kNoResources},
               {ENOENT, kNoDevice},    {ENODEV, kNoDevice},     {ENXIO, kNoDevice},
               {ENOTTY, kUnsupported}, {EINVAL, kUnsupported},  {EOPNOTSUPP, kUnsupported},
               {EIO, kGeneralError}};
  for (const Case& c : cases) EXPECT_EQ(statusFromErrno(c.error), c.status) << c.error;
}

}  // namespace
}  // namespace sentrel::platform::sat

namespace sentrel::platform::nvmeadmin {
namespace {

TEST(NvmeAdminTest, CommandWordsAndAnswers) {
  EXPECT_EQ(identify(0).cdw10, 1u);  // CNS 1: the controller
  EXPECT_EQ(identify(1).cdw10, 0u);  // CNS 0: the namespace
  EXPECT_EQ(identify(1).nsid, 1u);
  // More than 16 bits of dwords: the upper half goes to CDW11.
  struct Log {
    std::uint32_t dwordsMinusOne, cdw10, cdw11;
  } logs[] = {{127, (127u << 16) | 2, 0}, {0x12345, (0x2345u << 16) | 2, 1}};
  for (auto [dwordsMinusOne, cdw10, cdw11] : logs) {
    AdminCommand g = getLogPage(2, dwordsMinusOne);
    EXPECT_EQ(g.opcode, 0x02);
    EXPECT_EQ(g.nsid, 0xFFFFFFFFu);
    EXPECT_EQ(g.cdw10, cdw10);
    EXPECT_EQ(g.cdw11, cdw11);
    EXPECT_EQ(g.dataLength, (dwordsMinusOne + 1) * 4);
  }
  struct Case {
    int result, error;
    Status status;
  } cases[] = {{0, 0, kSuccess},          {-1, EACCES, kNotPermitted}, {-1, ENODEV, kNoDevice},
               {0x4002, 0, kUnsupported},  // "do not retry" flag over invalid field
               {0x0001, 0, kUnsupported}, {0x0281, 0, kGeneralError}};
  for (const Case& c : cases)
    EXPECT_EQ(statusFromIoctl(c.result, c.error), c.status) << std::hex << c.result;
  std::vector<std::uint8_t> id(4096, 0);
  id[81] = 0x04;  // minor
  id[82] = 0x01;  // major
  EXPECT_EQ(versionFromIdentify(id).minor, 4);
  EXPECT_EQ(versionFromIdentify(id).major, 1);
  EXPECT_EQ(versionFromIdentify(std::vector<std::uint8_t>(40)).major, 0);
}

}  // namespace
}  // namespace sentrel::platform::nvmeadmin
