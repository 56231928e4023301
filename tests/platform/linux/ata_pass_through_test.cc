// The ATA PASS-THROUGH (16) command blocks, the registers read back from
// both sense formats, and what errno, SCSI status and sense mean to a caller.
#include "platform/linux/ata_pass_through.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "platform/linux/nvme_admin.h"

namespace sentrel::platform::sat {
namespace {

using Block = std::array<std::uint8_t, 16>;

TEST(PassThroughTest, CommandBlocks) {
  struct Case {
    const char* name;
    AtaCommand command;
    Block cdb;
  } cases[] = {
      // PIO data-in of one sector, length in the count field, in blocks.
      {"IDENTIFY DEVICE",
       identifyDevice(),
       {0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0}},
      {"SMART READ DATA",
       smartReadData(),
       {0x85, 0x08, 0x0E, 0, 0xD0, 0, 1, 0, 0, 0, 0x4F, 0, 0xC2, 0, 0xB0, 0}},
      {"SMART READ THRESHOLDS",
       smartReadThresholds(),
       {0x85, 0x08, 0x0E, 0, 0xD1, 0, 1, 0, 0, 0, 0x4F, 0, 0xC2, 0, 0xB0, 0}},
      {"SMART READ LOG 6h",
       smartReadLog(0x06, 1),
       {0x85, 0x08, 0x0E, 0, 0xD5, 0, 1, 0, 0x06, 0, 0x4F, 0, 0xC2, 0, 0xB0, 0}},
      {"SMART READ LOG 1h x2",
       smartReadLog(0x01, 2),
       {0x85, 0x08, 0x0E, 0, 0xD5, 0, 2, 0, 0x01, 0, 0x4F, 0, 0xC2, 0, 0xB0, 0}},
      // Non-data commands.
      {"SMART ENABLE OPERATIONS",
       smartEnableOperations(true),
       {0x85, 0x06, 0x00, 0, 0xD8, 0, 0, 0, 0, 0, 0x4F, 0, 0xC2, 0, 0xB0, 0}},
      {"SMART DISABLE OPERATIONS",
       smartEnableOperations(false),
       {0x85, 0x06, 0x00, 0, 0xD9, 0, 0, 0, 0, 0, 0x4F, 0, 0xC2, 0, 0xB0, 0}},
      // CK_COND: the registers come back in the sense data.
      {"SMART RETURN STATUS",
       smartReturnStatus(),
       {0x85, 0x06, 0x20, 0, 0xDA, 0, 0, 0, 0, 0, 0x4F, 0, 0xC2, 0, 0xB0, 0}},
      {"SMART EXECUTE OFF-LINE IMMEDIATE short",
       smartOfflineImmediate(1),
       {0x85, 0x06, 0x00, 0, 0xD4, 0, 0, 0, 0x01, 0, 0x4F, 0, 0xC2, 0, 0xB0, 0}},
      {"SMART EXECUTE OFF-LINE IMMEDIATE extended",
       smartOfflineImmediate(2),
       {0x85, 0x06, 0x00, 0, 0xD4, 0, 0, 0, 0x02, 0, 0x4F, 0, 0xC2, 0, 0xB0, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(passThrough16(c.command), c.cdb) << c.name;
}

// Descriptor-format sense with the ATA Status Return descriptor after
// another descriptor: it is found by walking, not at a fixed place.
std::vector<std::uint8_t> descriptorSense(std::uint8_t mid, std::uint8_t high, std::uint8_t status,
                                          bool otherFirst) {
  std::vector<std::uint8_t> s{0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 0};
  if (otherFirst) s.insert(s.end(), {0x00, 0x0A, 0x80, 0, 1, 2, 3, 4, 5, 6, 7, 8});
  s.insert(s.end(),
           {0x09, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, mid, 0x00, high, 0x00, status});
  s[7] = static_cast<std::uint8_t>(s.size() - 8);
  return s;
}

TEST(PassThroughTest, RegistersFromDescriptorSenseWhereverTheDescriptorSits) {
  for (bool otherFirst : {false, true}) {
    auto sense = descriptorSense(0xF4, 0x2C, 0x50, otherFirst);
    auto r = registersFromSense(sense);
    ASSERT_TRUE(r) << otherFirst;
    EXPECT_EQ(r->lbaMid, 0xF4);
    EXPECT_EQ(r->lbaHigh, 0x2C);
    EXPECT_EQ(r->status, 0x50);
    EXPECT_EQ(thresholdExceededFromRegisters(*r), true);
  }
}

TEST(PassThroughTest, RegistersFromFixedSense) {
  std::vector<std::uint8_t> s(18, 0);
  s[0] = 0x70;
  s[2] = 0x01;  // recovered error
  s[3] = 0x00;  // error
  s[4] = 0x50;  // status
  s[9] = 0x00;
  s[10] = 0x4F;
  s[11] = 0xC2;
  s[12] = 0x00;
  s[13] = 0x1D;
  auto r = registersFromSense(s);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 0x50);
  EXPECT_EQ(thresholdExceededFromRegisters(*r), false);
}

TEST(PassThroughTest, DamagedSenseHoldsNoRegisters) {
  std::vector<std::vector<std::uint8_t>> cases{
      {},
      {0x72},
      {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 0},                     // no descriptors
      {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 40, 0x09, 0x0C, 0, 0},  // cut short
      {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 4, 0x00, 0xFF, 0, 0},   // length runs past the end
      {0x7F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},            // unknown format
      {0x70, 0, 0}};
  for (const auto& s : cases) EXPECT_FALSE(registersFromSense(s)) << s.size();
}

TEST(PassThroughTest, UnknownReturnStatusSignatureIsNoAnswer) {
  EXPECT_FALSE(thresholdExceededFromRegisters(AtaRegisters{0, 0, 0, 0x00, 0x00, 0, 0x50}));
  EXPECT_EQ(thresholdExceededFromRegisters(AtaRegisters{0, 0, 0, 0x4F, 0xC2, 0, 0x50}), false);
}

TEST(PassThroughTest, ErrnoMapping) {
  struct Case {
    int error;
    Status status;
  } cases[] = {{0, kSuccess},          {EACCES, kNotPermitted}, {EPERM, kNotPermitted},
               {EBUSY, kNoResources},  {EAGAIN, kNoResources},  {ENOMEM, kNoResources},
               {ENOENT, kNoDevice},    {ENODEV, kNoDevice},     {ENXIO, kNoDevice},
               {ENOTTY, kUnsupported}, {EINVAL, kUnsupported},  {EOPNOTSUPP, kUnsupported},
               {EIO, kGeneralError},   {EROFS, kGeneralError}};
  for (const Case& c : cases) EXPECT_EQ(statusFromErrno(c.error), c.status) << c.error;
}

TEST(PassThroughTest, CompletionMapping) {
  auto fixed = [](std::uint8_t key, std::uint8_t ataStatus) {
    std::vector<std::uint8_t> s(18, 0);
    s[0] = 0x70;
    s[2] = key;
    s[4] = ataStatus;
    return s;
  };
  auto good = fixed(0x01, 0x50);
  auto ataError = fixed(0x01, 0x51);
  auto deviceFault = fixed(0x00, 0x70);
  auto illegal = fixed(0x05, 0x00);
  auto notReady = fixed(0x02, 0x00);
  auto attention = fixed(0x06, 0x00);
  auto aborted = fixed(0x0B, 0x51);
  auto medium = fixed(0x03, 0x00);
  std::vector<std::uint8_t> none;
  struct Case {
    const char* name;
    Completion completion;
    Status status;
  } cases[] = {
      {"good, no sense", {0x00, 0, 0, none}, kSuccess},
      {"check condition with registers", {0x02, 0, 0x08, good}, kSuccess},
      {"ATA ERR bit", {0x02, 0, 0x08, ataError}, kGeneralError},
      {"ATA device fault", {0x02, 0, 0x08, deviceFault}, kGeneralError},
      {"illegal request: no pass-through", {0x02, 0, 0x08, illegal}, kUnsupported},
      {"not ready", {0x02, 0, 0x08, notReady}, kNoResources},
      {"unit attention", {0x02, 0, 0x08, attention}, kNoResources},
      {"aborted command", {0x02, 0, 0x08, aborted}, kGeneralError},
      {"medium error", {0x02, 0, 0x08, medium}, kGeneralError},
      {"check condition without sense", {0x02, 0, 0, none}, kGeneralError},
      {"SCSI busy", {0x08, 0, 0, none}, kNoResources},
      {"reservation conflict", {0x18, 0, 0, none}, kNoResources},
      {"task aborted", {0x40, 0, 0, none}, kGeneralError},
      {"host: no connect", {0x00, 0x01, 0, none}, kNoDevice},
      {"host: bad target", {0x00, 0x04, 0, none}, kNoDevice},
      {"host: bus busy", {0x00, 0x02, 0, none}, kNoResources},
      {"host: time out", {0x00, 0x03, 0, none}, kGeneralError},
  };
  for (const Case& c : cases) {
    std::optional<AtaRegisters> registers;
    EXPECT_EQ(statusFromCompletion(c.completion, &registers), c.status) << c.name;
  }
  std::optional<AtaRegisters> registers;
  statusFromCompletion({0x02, 0, 0x08, good}, &registers);
  ASSERT_TRUE(registers);
  EXPECT_EQ(registers->status, 0x50);
}

}  // namespace
}  // namespace sentrel::platform::sat

namespace sentrel::platform::nvmeadmin {
namespace {

TEST(NvmeAdminTest, CommandWords) {
  AdminCommand controller = identify(0);
  EXPECT_EQ(controller.opcode, 0x06);
  EXPECT_EQ(controller.cdw10, 1u);  // CNS 1: the controller
  EXPECT_EQ(controller.dataLength, 4096u);
  AdminCommand ns = identify(1);
  EXPECT_EQ(ns.cdw10, 0u);  // CNS 0: the namespace
  EXPECT_EQ(ns.nsid, 1u);

  struct Case {
    std::uint8_t log;
    std::uint32_t dwordsMinusOne;
    std::uint32_t cdw10, cdw11, length;
  } cases[] = {{2, 127, (127u << 16) | 2, 0, 512},
               {1, 1023, (1023u << 16) | 1, 0, 4096},
               {3, 127, (127u << 16) | 3, 0, 512},
               {1, 0x12345, (0x2345u << 16) | 1, 0x1, 0x12346 * 4}};
  for (const Case& c : cases) {
    AdminCommand g = getLogPage(c.log, c.dwordsMinusOne);
    EXPECT_EQ(g.opcode, 0x02);
    EXPECT_EQ(g.nsid, 0xFFFFFFFFu);
    EXPECT_EQ(g.cdw10, c.cdw10);
    EXPECT_EQ(g.cdw11, c.cdw11);
    EXPECT_EQ(g.dataLength, c.length);
  }
}

TEST(NvmeAdminTest, IoctlAnswers) {
  struct Case {
    int result, error;
    Status status;
  } cases[] = {{0, 0, kSuccess},          {-1, EACCES, kNotPermitted}, {-1, ENODEV, kNoDevice},
               {0x0002, 0, kUnsupported}, {0x4002, 0, kUnsupported},  // "do not retry" flag
               {0x0109, 0, kUnsupported}, {0x0001, 0, kUnsupported},   {0x0281, 0, kGeneralError},
               {0x0006, 0, kGeneralError}};
  for (const Case& c : cases)
    EXPECT_EQ(statusFromIoctl(c.result, c.error), c.status) << std::hex << c.result;
}

TEST(NvmeAdminTest, VersionFromIdentify) {
  std::vector<std::uint8_t> id(4096, 0);
  id[80] = 0x00;
  id[81] = 0x04;  // minor
  id[82] = 0x01;  // major
  Version v = versionFromIdentify(id);
  EXPECT_EQ(v.major, 1);
  EXPECT_EQ(v.minor, 4);
  EXPECT_EQ(versionFromIdentify(std::vector<std::uint8_t>(40)).major, 0);
}

}  // namespace
}  // namespace sentrel::platform::nvmeadmin
