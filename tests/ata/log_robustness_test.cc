// Damaged, random and truncated sectors through every decoder and through a
// whole refresh: nothing may crash or read outside its buffer (the
// sanitizer build runs these too), and what comes out keeps its shape.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "ata/capabilities.h"
#include "ata/error_log.h"
#include "ata/log_directory.h"
#include "ata/sector_builder.h"
#include "ata/selftest_log.h"
#include "sentrel/smart_device.h"
#include "support/machines.h"

namespace sentrel::ata {
namespace {

using testing::SectorBuilder;

using Bytes = std::array<std::uint8_t, 512>;

Bytes randomSector(std::mt19937& rng) {
  Bytes b;
  std::uniform_int_distribution<int> byte(0, 255);
  for (auto& x : b) x = static_cast<std::uint8_t>(byte(rng));
  return b;
}

// The checks each decoder's output must pass whatever the input.
void decodeAll(const Bytes& bytes) {
  SectorView view(bytes);

  Dict caps = decodeCapabilities(view);
  ASSERT_EQ(caps.size(), 17u);
  Array tests = selfTestList(caps);
  ASSERT_LE(tests.size(), 4u);
  ASSERT_EQ(capabilityPairs(caps).size(), 16u);

  if (auto results = decodeSelfTestLog(view)) {
    ASSERT_LE(results->size(), kSelfTestSlots);
    std::int64_t previous = kSelfTestSlots;
    for (const Value& r : *results) {
      std::int64_t num = *r.ifDict()->find("Num")->ifInt();
      ASSERT_LT(num, previous);  // newest first, never repeated
      ASSERT_GE(num, 0);
      previous = num;
    }
  }

  LogDirectory dir = decodeLogDirectory(view);
  ASSERT_TRUE(dir.logs.size() == 13u || dir.logs.empty());
  ASSERT_EQ(dir.logs.size(), dir.logDir.size());

  if (auto log = decodeErrorLog(view)) {
    const Array& entries = *log->getArray("errorLog");
    ASSERT_EQ(entries.size(), 5u);
    for (const Value& e : entries) ASSERT_EQ(e.ifDict()->getArray("cmnds")->size(), 5u);
  }
}

// Makes a random sector pass the self-test log's checks, so the ring walk
// runs on random descriptors and a random index.
Bytes asValidSelfTestLog(Bytes b) {
  SectorBuilder s;
  s.bytes = b;
  s.put16(0, 1).checksum();
  return s.bytes;
}

TEST(LogRobustnessTest, RandomSectors) {
  std::mt19937 rng(20240601);
  for (int i = 0; i < 2000; ++i) {
    Bytes b = randomSector(rng);
    if (i % 2 == 0) b[0] = 1;  // half pass the error log's version check
    if (i % 4 == 0) b[1] = 0;  // and some the directory's
    ASSERT_NO_FATAL_FAILURE(decodeAll(b)) << "sector " << i;
    Bytes valid = asValidSelfTestLog(b);
    ASSERT_TRUE(decodeSelfTestLog(SectorView(valid))) << "sector " << i;
    ASSERT_NO_FATAL_FAILURE(decodeAll(valid)) << "sector " << i;
  }
}

TEST(LogRobustnessTest, EveryDescriptorIndex) {
  std::mt19937 rng(7);
  Bytes b = randomSector(rng);
  for (unsigned index = 0; index <= 255; ++index) {
    b[508] = static_cast<std::uint8_t>(index);
    Bytes valid = asValidSelfTestLog(b);
    auto results = decodeSelfTestLog(SectorView(valid));
    ASSERT_TRUE(results);
    // Random descriptors are all in use, so a non-zero index shows all 21.
    EXPECT_EQ(results->size(), index == 0 ? 0u : 21u) << index;
  }
}

Bytes demoSector(const std::string& name) {
  Bytes bytes{};
  std::ifstream in(std::string(SENTREL_SOURCE_DIR) + "/examples/demo-mac/sectors/" + name,
                   std::ios::binary);
  in.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
  return bytes;
}

const char* const kDemoLogs[] = {
    "st2000dm008-selftest-log.bin",  "st2000dm008-summary-error-log.bin",
    "st2000dm008-log-directory.bin", "st2000dm008-smart-data.bin",
    "860evo500-selftest-log.bin",    "wd40efrx-summary-error-log.bin",
};

TEST(LogRobustnessTest, MutatedRealSectors) {
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> pos(0, 511), byte(0, 255), flips(1, 16);
  for (const char* name : kDemoLogs) {
    const Bytes original = demoSector(name);
    for (int i = 0; i < 500; ++i) {
      Bytes b = original;
      for (int n = flips(rng); n > 0; --n)
        b[static_cast<std::size_t>(pos(rng))] = static_cast<std::uint8_t>(byte(rng));
      ASSERT_NO_FATAL_FAILURE(decodeAll(b)) << name << " mutation " << i;
      ASSERT_NO_FATAL_FAILURE(decodeAll(asValidSelfTestLog(b))) << name << " mutation " << i;
    }
  }
}

// A drive that sends fewer bytes than asked leaves the rest of the buffer
// zero: every length from nothing to the whole sector.
TEST(LogRobustnessTest, TruncatedRealSectors) {
  for (const char* name : kDemoLogs) {
    const Bytes original = demoSector(name);
    for (std::size_t length = 0; length <= 512; ++length) {
      Bytes b{};
      std::copy_n(original.begin(), length, b.begin());
      ASSERT_NO_FATAL_FAILURE(decodeAll(b)) << name << " cut at " << length;
      ASSERT_NO_FATAL_FAILURE(decodeAll(asValidSelfTestLog(b))) << name << " cut at " << length;
    }
  }
}

TEST(LogRobustnessTest, RefreshesOverDamagedLogsComplete) {
  std::mt19937 rng(3);
  for (int i = 0; i < 25; ++i) {
    Bytes selfTest = randomSector(rng);
    selfTest[508] = static_cast<std::uint8_t>(1 + i);
    selfTest = asValidSelfTestLog(selfTest);
    Bytes errorLog = randomSector(rng);
    errorLog[0] = 1;
    Bytes directory = randomSector(rng);
    directory[0] = 1;
    directory[1] = 0;
    Bytes smartData = randomSector(rng);
    auto sim = [](const Bytes& b) {
      SectorBuilder s;
      s.bytes = b;
      return s.sim();
    };
    Dict disk = testing::sataDisk("disk0");
    testing::ataBlock(disk).set("smartData", sim(smartData));
    testing::ataBlock(disk).set(
        "logs", Dict{{"0", sim(directory)}, {"1", sim(errorLog)}, {"6", sim(selfTest)}});
    testing::TestMachine m{disk};
    auto device = KVSMARTDevice::deviceWithBSDName("disk0");
    ASSERT_TRUE(device);
    auto props = device->updateProperties();
    ASSERT_TRUE(props) << "refresh " << i;
    EXPECT_EQ(props->getArray("selftestResults")->size(), 21u) << "refresh " << i;
    EXPECT_EQ(props->getArray("logs")->size(), 13u) << "refresh " << i;
    EXPECT_EQ(props->getArray("errorLog")->size(), 5u) << "refresh " << i;
    EXPECT_FALSE(device->isOpen());
  }
}

}  // namespace
}  // namespace sentrel::ata
