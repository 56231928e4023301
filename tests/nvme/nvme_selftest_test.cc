// NVMe device self-tests: the Device Self-test log, and a test started,
// followed and aborted through the NVMe seam of a simulated drive.
#include <gtest/gtest.h>

#include "nvme/nvme_logs.h"
#include "nvme/nvme_pages.h"
#include "sentrel/nvme.h"
#include "sentrel/smart_device.h"

namespace sentrel {
namespace {

using testing::Page;
using SelfTestPage = Page<564>;

// A log with the results given newest first; the rest of the 20 unused.
SelfTestPage selfTestPage(std::uint8_t operation, std::uint8_t completion,
                          std::initializer_list<std::array<std::uint64_t, 5>> results) {
  SelfTestPage page;
  page.u8(0, operation).u8(1, completion);
  std::size_t n = 0;
  for (const auto& [code, result, hours, valid, lba] : results) {
    std::size_t at = 4 + 28 * n++;
    page.u8(at, static_cast<std::uint8_t>(code << 4 | result))
        .u8(at + 2, static_cast<std::uint8_t>(valid));
    page.u64(at + 4, hours).u32(at + 12, 1).u64(at + 16, lba);
  }
  for (; n < 20; ++n) page.u8(4 + 28 * n, 0x0F);
  return page;
}

TEST(NvmeSelfTestLogTest, ResultsNewestFirstWithoutTheUnusedOnes) {
  // A short test that failed at LBA 4096 (namespace and LBA valid), an
  // extended one that passed, and an extended one running at 40 %.
  auto page = selfTestPage(0x2, 40 | 0x80, {{1, 7, 6200, 0x3, 4096}, {2, 0, 6100, 0, 0}});
  NvmeSelfTestLog log = nvme::decodeSelfTestLog(page.view());
  EXPECT_EQ(log.currentOperation, 2);
  EXPECT_EQ(log.currentCompletion, 40);  // the reserved top bit is not part of it
  ASSERT_EQ(log.results.size(), 2u);
  EXPECT_EQ(log.results[0].typeName(), "Short");
  EXPECT_TRUE(log.results[0].failed());
  EXPECT_EQ(log.results[0].powerOnHours, 6200u);
  EXPECT_EQ(log.results[0].nsid, 1u);
  EXPECT_EQ(log.results[0].failingLba, 4096u);
  EXPECT_EQ(log.results[1].resultName(), "Completed without error");
  EXPECT_FALSE(log.results[1].failed());
  EXPECT_FALSE(log.results[1].failingLba);  // not marked valid
}

TEST(NvmeSelfTestTest, ATestRunsThroughTheLogAndCanBeAborted) {
  Dict disk = testing::nvmeDisk("disk1", "UUID-1");
  testing::nvmeBlock(disk).set("selfTestLog", selfTestPage(0, 0, {{1, 0, 7000, 0, 0}}).sector());
  testing::nvmeBlock(disk).set("selfTestRun", Array{20, 60});
  testing::TestMachine m{disk};
  auto device = KVSMARTDevice::deviceWithBSDName("disk1");
  ASSERT_TRUE(device);
  auto service = static_cast<std::uint32_t>(*device->driveProperties()->getInt("registryService"));
  kvNVMe reader;
  ASSERT_EQ(reader.startSelfTest(service, 1), 0);
  std::vector<int> seen;
  for (int i = 0; i < 5; ++i) {
    auto log = reader.readSelfTestLog(service);
    ASSERT_TRUE(log);
    seen.push_back(log->currentOperation ? log->currentCompletion : 100);
    if (!log->currentOperation) {
      EXPECT_EQ(log->results.at(0).powerOnHours, 7000u);
      break;
    }
  }
  EXPECT_EQ(seen, (std::vector<int>{20, 60, 100}));
  auto starts = m->calls("nvme.deviceSelfTest");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].getInt("code"), 1);

  ASSERT_EQ(reader.startSelfTest(service, 2), 0);
  ASSERT_EQ(reader.startSelfTest(service, 0xF), 0);  // abort: the log shows nothing running
  EXPECT_EQ(reader.readSelfTestLog(service)->currentOperation, 0);
}

TEST(NvmeSelfTestTest, AControllerWithoutSelfTestsSaysSo) {
  Dict disk = testing::nvmeDisk("disk1", "UUID-1");
  testing::nvmeBlock(disk).set("selftestStatus", "0xE00002C7");
  testing::TestMachine m{disk};
  kvNVMe reader;
  auto device = KVSMARTDevice::deviceWithBSDName("disk1");
  auto service = static_cast<std::uint32_t>(*device->driveProperties()->getInt("registryService"));
  EXPECT_EQ(reader.startSelfTest(service, 1), platform::kUnsupported);
  ASSERT_TRUE(reader.lastFailure());
  EXPECT_EQ(reader.lastFailure()->kind, platform::Failure::Kind::unsupported);
  EXPECT_FALSE(reader.readSelfTestLog(service));  // no log page 6 either
}

}  // namespace
}  // namespace sentrel
