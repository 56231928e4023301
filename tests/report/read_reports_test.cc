// Reading several drives: drives left alone in their power mode receive no
// SMART command, a drive that hangs is reported as timed out without
// holding the others back, and is not asked again while it still hangs.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "sentrel/report.h"
#include "support/machines.h"

namespace sentrel {
namespace {

using testing::ataBlock;
using testing::sataDisk;
using testing::sector;
using testing::TestMachine;

Dict disk(const std::string& bsd, const char* powerMode, int delayMs = 0) {
  Dict d = sataDisk(bsd);
  ataBlock(d).set("smartData", sector(testing::smartDataSector({{.id = 9, .raw = 7}})));
  if (powerMode) ataBlock(d).set("powerMode", std::string(powerMode));
  if (delayMs) ataBlock(d).set("delayMs", delayMs);
  return d;
}

// The SMART commands each disk received (not the power-mode check).
std::map<std::string, int> smartCommands(const sim::Machine& m) {
  std::map<std::string, int> out;
  for (const Dict& d : m.journal()) {
    const std::string call = d.stringOr("call");
    if (call.starts_with("ata.read") || call == "ata.enableOperations")
      ++out[d.stringOr("service")];
  }
  return out;
}

TEST(ReadReportsTest, PowerModesAgainstNoWake) {
  struct Case {
    const char* mode;
    NoWake nowake;
    bool skipped;
    PowerMode reported;
  } cases[] = {
      {"standby", NoWake::standby, true, PowerMode::standby},
      {"sleep", NoWake::standby, true, PowerMode::sleep},
      {"sleep", NoWake::sleep, true, PowerMode::sleep},
      {"standby", NoWake::sleep, false, PowerMode::standby},
      {"idle", NoWake::standby, false, PowerMode::idle},
      // Not asked at all: the mode stays unknown and the drive is read.
      {"standby", NoWake::never, false, PowerMode::unknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " nowake " + std::to_string(static_cast<int>(c.nowake)));
    TestMachine m{disk("disk0", c.mode)};
    m->clearJournal();
    auto reports = readDriveReports({"disk0"}, {.workers = 1, .nowake = c.nowake});
    ASSERT_EQ(reports.size(), 1u);
    const DriveReport& r = reports[0];
    EXPECT_EQ(r.skipped, c.skipped);
    EXPECT_EQ(r.powerMode, c.reported);
    EXPECT_EQ(smartCommands(m.machine()).empty(), c.skipped)
        << "a skipped drive gets no SMART command";
    EXPECT_EQ(m->calls("ata.checkPowerMode").size(), c.nowake == NoWake::never ? 0u : 1u);
  }
}

TEST(ReadReportsTest, HungDriveTimesOutAloneAndIsNotAskedAgainWhileItHangs) {
  // Every command of disk0 takes 150 ms, past the deadline of 50 ms.
  TestMachine m{disk("disk0", nullptr, 150), disk("disk1", nullptr)};
  const ReadOptions options{.workers = 1, .deadline = std::chrono::milliseconds(50)};
  auto first = readDriveReports({"disk0", "disk1"}, options);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_TRUE(first[0].timedOut);
  EXPECT_FALSE(first[0].read);
  ASSERT_TRUE(first[0].failure);
  EXPECT_EQ(first[0].failure->kind, platform::Failure::Kind::noResponse);
  // With one worker, the healthy drive was read by the worker that took
  // the hung one's place.
  EXPECT_TRUE(first[1].read);

  // Still hanging: reported at once, without a second reading of it.
  const std::size_t identifyReads = m->calls("ata.readIdentify").size();
  auto second = readDriveReports({"disk0"}, options);
  EXPECT_TRUE(second[0].timedOut);
  EXPECT_NE(second[0].failure->reason.find("earlier reading"), std::string::npos);
  EXPECT_EQ(m->calls("ata.readIdentify").size(), identifyReads);
  // The hung reading ends before the machine goes away: it releases the
  // drive last.
  for (int i = 0; i < 500 && m->calls("ata.release").size() < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

}  // namespace
}  // namespace sentrel
