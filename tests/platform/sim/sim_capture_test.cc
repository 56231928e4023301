// A captured drive replays as the drive it was read from: the device
// reading of the replay equals the original's, for every kind of drive of
// the demo machine.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/run_cli.h"

namespace sentrel::testing {
namespace {

namespace fs = std::filesystem;

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("sentrel-capture-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  static std::string demo() { return std::string(SENTREL_SOURCE_DIR) + "/examples/demo-mac"; }
  fs::path folder_;
};

TEST_F(CaptureTest, ReplayPrintsTheSameReading) {
  for (const char* disk : {"disk0", "disk1", "disk3", "disk5"}) {
    fs::path into = folder_ / "capture";  // each capture replaces the one before
    Outcome captured = runSentrel("--sim " + demo() + " capture " + disk + " " + into.string());
    ASSERT_EQ(captured.status, 0) << captured.out;
    EXPECT_NE(captured.out.find("replay it with: sentrel --sim"), std::string::npos);
    ASSERT_TRUE(fs::exists(into / "machine.json"));

    Outcome original = runSentrel("--sim " + demo() + " device " + disk + " --format json");
    Outcome replayed = runSentrel("--sim " + into.string() + " device " + disk + " --format json");
    EXPECT_EQ(original.status, replayed.status) << disk;
    EXPECT_EQ(original.out, replayed.out) << disk;

    Outcome health = runSentrel("--sim " + demo() + " health " + disk + " --format json --no-pace");
    Outcome replayedHealth =
        runSentrel("--sim " + into.string() + " health " + disk + " --format json --no-pace");
    EXPECT_EQ(health.out, replayedHealth.out) << disk;
  }
}

// A folder it did not make is refused in the hostile-input rows.
TEST_F(CaptureTest, RefusesAnUnknownDisk) {
  Outcome unknown = runSentrel("--sim " + demo() + " capture disk9 " + (folder_ / "x").string());
  EXPECT_EQ(unknown.status, 2);  // no such disk
  EXPECT_NE(unknown.out.find("disk9"), std::string::npos);
  EXPECT_FALSE(fs::exists(folder_ / "x" / "machine.json"));
}

}  // namespace
}  // namespace sentrel::testing
