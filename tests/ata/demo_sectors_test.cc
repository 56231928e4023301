// The bundled demo machine's sectors, decoded: they were written from the
// command set's layouts by a separate script, so they check the decoders
// against an independent reading of the same layouts.
#include <gtest/gtest.h>

#include "support/fault_printers.h"

#include <array>
#include <fstream>
#include <iterator>
#include <string>

#include "ata/capabilities.h"
#include "ata/error_log.h"
#include "ata/log_directory.h"
#include "ata/selftest_log.h"
#include "sentrel/sim_machine.h"
#include "sentrel/smart_device.h"

namespace sentrel::ata {
namespace {

const std::string kDemo = std::string(SENTREL_SOURCE_DIR) + "/examples/demo-mac";

std::array<std::uint8_t, 512> demoSector(const std::string& name) {
  std::array<std::uint8_t, 512> bytes{};
  std::ifstream in(kDemo + "/sectors/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  in.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
  EXPECT_EQ(in.gcount(), 512) << name;
  return bytes;
}

TEST(DemoSectorsTest, SeagateSelfTestHistoryNewestFirst) {
  auto results = decodeSelfTestLog(demoSector("st2000dm008-selftest-log.bin"));
  ASSERT_TRUE(results);
  auto row = [](int num, const char* type, const char* status, unsigned hours, const char* lba) {
    return Value(Dict{{"Num", num},
                      {"Type", type},
                      {"Status", status},
                      {"LifetimeHours", hours},
                      {"LBAFirstError", lba}});
  };
  EXPECT_EQ(*results, (Array{
                          row(20, "Short Offline", "Pass 100%", 18650, ""),
                          row(19, "Extended Offline", "Read Failure 70%", 18512, "171908136"),
                          row(18, "Extended Offline", "Interrupted 40%", 18400, ""),
                          row(17, "Short Offline", "Pass 100%", 18120, ""),
                          row(16, "Extended Offline", "Pass 100%", 17402, ""),
                          row(15, "Short Offline", "Pass 100%", 17320, ""),
                      }));
}

TEST(DemoSectorsTest, SeagateErrorLogWithTwoErrors) {
  auto log = decodeErrorLog(demoSector("st2000dm008-summary-error-log.bin"));
  ASSERT_TRUE(log);
  EXPECT_EQ(*log->find("errorLogIndex"), Value(2u));
  EXPECT_EQ(*log->find("errorLogCount"), Value(2u));
  const Array& entries = *log->getArray("errorLog");
  ASSERT_EQ(entries.size(), 5u);

  const Dict& first = *entries[0].ifDict();
  EXPECT_EQ(first.stringOr("error"), " UNCORRECTABLE ERROR");
  EXPECT_EQ(*first.find("lba"), Value(4135976u));  // the low 24 bits of the bad sector
  EXPECT_EQ(first.stringOr("device"), "0x0A");     // and its top bits
  EXPECT_EQ(first.stringOr("status"), "0x51");
  EXPECT_EQ(first.stringOr("state"), "Active/Idle");
  EXPECT_EQ(*first.find("timestamp"), Value(18498u));
  const Array& c1 = *first.getArray("cmnds");
  std::vector<std::string> names, times;
  for (const Value& c : c1) {
    names.push_back(c.ifDict()->stringOr("command"));
    times.push_back(c.ifDict()->stringOr("timestamp"));
  }
  EXPECT_EQ(names,
            (std::vector<std::string>{"READ FPDMA QUEUED", "READ FPDMA QUEUED", "READ FPDMA QUEUED",
                                      "SET FEATURES", "IDENTIFY DEVICE"}));
  EXPECT_EQ(times,
            (std::vector<std::string>{"09:04:12:33.524", "09:04:12:33.523", "09:04:12:33.522",
                                      "09:04:12:33.482", "09:04:12:33.481"}));
  EXPECT_EQ(c1[3].ifDict()->stringOr("feature"), "Enable use of SATA feature");
  EXPECT_EQ(*c1[0].ifDict()->find("lba"), Value(4135976u));
  EXPECT_EQ(*c1[0].ifDict()->find("count"), Value(16u));
  EXPECT_EQ(c1[0].ifDict()->stringOr("device"), "0x40");

  const Dict& second = *entries[1].ifDict();
  EXPECT_EQ(*second.find("timestamp"), Value(18501u));
  const Dict& oldest = *second.getArray("cmnds")->at(4).ifDict();
  EXPECT_EQ(oldest.stringOr("command"), "SMART");
  EXPECT_EQ(oldest.stringOr("feature"), "SMART READ LOG");
  EXPECT_EQ(oldest.stringOr("timestamp"), "09:07:03:30.730");
  EXPECT_EQ(second.getArray("cmnds")->at(0).ifDict()->stringOr("timestamp"), "09:07:03:40.600");

  for (std::size_t k = 2; k < 5; ++k) {
    EXPECT_EQ(entries[k].ifDict()->stringOr("error"), "unknown") << k;
  }
}

TEST(DemoSectorsTest, SeagateLogDirectory) {
  LogDirectory dir = decodeLogDirectory(demoSector("st2000dm008-log-directory.bin"));
  ASSERT_EQ(dir.logs.size(), 13u);
  std::vector<std::pair<std::string, std::uint64_t>> pages;
  for (const auto& e : dir.logDir)
    pages.emplace_back(e.key, *e.value.ifDict()->find("pages")->toUInt());
  EXPECT_EQ(pages, (std::vector<std::pair<std::string, std::uint64_t>>{{"1", 1},
                                                                       {"2", 5},
                                                                       {"3", 0},
                                                                       {"4", 8},
                                                                       {"6", 1},
                                                                       {"7", 0},
                                                                       {"9", 1},
                                                                       {"16", 0},
                                                                       {"17", 0},
                                                                       {"33", 0},
                                                                       {"34", 0},
                                                                       {"224", 1},
                                                                       {"225", 1}}));
}

TEST(DemoSectorsTest, CapabilitiesOfTheThreeDrives) {
  struct {
    const char* file;
    const char* offline;
    std::vector<std::string> tests;
    std::vector<std::string> times;
  } cases[] = {
      {"st2000dm008-smart-data.bin",
       "completed",
       {"Short", "Extended", "Conveyance", "Selective"},
       {"Short Test  00:01", "Extended Test  03:31", "Conveyance Test  00:02",
        "Selective Test (time indefinite)"}},
      {"860evo500-smart-data.bin",
       "never started",
       {"Short", "Extended", "Selective"},
       {"Short Test  00:02", "Extended Test  01:25", "Selective Test (time indefinite)"}},
      // 497 minutes does not fit the byte: the word at 375 holds it.
      {"wd40efrx-smart-data.bin",
       "never started",
       {"Short", "Extended", "Conveyance", "Selective"},
       {"Short Test  00:02", "Extended Test  08:17", "Conveyance Test  00:05",
        "Selective Test (time indefinite)"}},
  };
  for (const auto& c : cases) {
    Dict caps = decodeCapabilities(demoSector(c.file));
    EXPECT_EQ(caps.stringOr("Offline data collection status"), c.offline) << c.file;
    EXPECT_EQ(caps.stringOr("Self-test status"), "Pass 100%") << c.file;
    std::vector<std::string> names, times;
    for (const Value& t : selfTestList(caps)) {
      names.push_back(t.ifDict()->stringOr("name"));
      times.push_back(t.ifDict()->stringOr("nameWithTime"));
    }
    EXPECT_EQ(names, c.tests) << c.file;
    EXPECT_EQ(times, c.times) << c.file;
  }
}

TEST(DemoSectorsTest, ARefreshOfTheDemoDiskFillsEveryKey) {
  platform::Failure error;
  auto machine = sim::Machine::load(kDemo, &error);
  ASSERT_TRUE(machine) << error;
  platform::ScopedPlatform installed(machine->platform());
  auto device = KVSMARTDevice::deviceWithBSDName("disk0");
  ASSERT_TRUE(device);
  ASSERT_TRUE(device->updateProperties());
  const Dict& props = *device->driveProperties();
  for (const char* key :
       {"Offline data collection status", "Self-test status", "Conveyance self-test polling time",
        "capArray", "selftests", "selftestResults", "logs", "logDir", "errorLog", "errorLogVersion",
        "errorLogIndex", "errorLogCount"}) {
    EXPECT_TRUE(props.contains(key)) << key;
  }
  EXPECT_EQ(props.getArray("selftestResults")->size(), 6u);
  EXPECT_EQ(props.getArray("capArray")->size(), 16u);
  EXPECT_EQ(props.getArray("selftests")->size(), 4u);
}

}  // namespace
}  // namespace sentrel::ata
