// Runs the built `sentrel` program as a user would and checks what it
// prints and the exit status bits it answers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "sentrel/value_io.h"
#include "support/machines.h"
#include "support/run_cli.h"

namespace sentrel {
namespace {

using testing::AttributeSlot;
using testing::Outcome;
using testing::runSentrel;

// A SATA disk whose drive reports these attributes (and, when asked, a
// threshold exceeded).
Dict diskWith(const std::string& bsd, const std::vector<AttributeSlot>& slots,
              bool exceeded = false) {
  Dict disk = testing::sataDisk(bsd);
  Dict& ata = testing::ataBlock(disk);
  ata.set("smartData", testing::sector(testing::smartDataSector(slots)));
  ata.set("thresholds", testing::sector(testing::thresholdsSector(slots)));
  if (exceeded) ata.set("thresholdExceeded", true);
  return disk;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("sentrel-cli-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(folder_);
    const AttributeSlot sound{.id = 5, .flags = 0x33, .raw = 0, .threshold = 10};
    Dict passed = diskWith("disk0", {sound});
    testing::ataBlock(passed).set("openStatuses", Array{"0xE00002BE", 0});
    // Threshold exceeded, and an attribute that was below its threshold once.
    Dict failed = diskWith(
        "disk4", {{.id = 3, .flags = 0x22, .current = 90, .worst = 5, .threshold = 10}}, true);
    // A pre-fail attribute at its threshold now (and so not only once).
    Dict worn =
        diskWith("disk5", {{.id = 1, .flags = 0x0B, .current = 10, .worst = 10, .threshold = 10}});
    Dict machine{{"systemVersion", "13.6"},
                 {"disks", Array{Value(passed), Value(failed), Value(worn)}}};
    std::ofstream(folder_ / "machine.json") << toJson(Value(machine));
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string sim() const { return "--offline --sim " + folder_.string(); }
  std::filesystem::path folder_;
};

TEST_F(CliTest, ExitStatusBitsSayWhatWentWrong) {
  const std::string demo = "--offline --sim " SENTREL_SOURCE_DIR "/examples/demo-mac";
  struct Case {
    std::string args;
    int status;
    std::string says;
  } cases[] = {
      {sim() + " health disk0", 0, "Verdict: Passed"},
      {sim() + " health disk4", 8 | 32, "the drive reports that a SMART threshold is exceeded"},
      {sim() + " health disk5", 16, "value 10 is at or below its threshold 10"},
      // Several disks: their bits OR-ed.
      {sim() + " health --all --workers 2", 8 | 16 | 32, "disk5"},
      {sim() + " health disk7", 2,
       "no disk is named disk7 (drives with SMART access: disk0, disk4, disk5)"},
      // The demo's disk0: a warning for the raw counts of 5 and 187; errors
      // in its error log and a failed self-test.
      {demo + " health disk0", 16 | 64 | 128,
       "  - Reallocated Sector Count (5): raw value 8 is above 0\n"
       "  - Reported Uncorrectable (187): raw value 2 is above 0\n"},
      // Command line and input errors.
      {sim() + " health", 1, "name one or more disks, or give --all"},
      // This machine's own disks: whatever it has, no disk has this name.
      {"device nosuchdisk9", 2, "no disk is named nosuchdisk9"},
  };
  for (const Case& c : cases) {
    Outcome r = runSentrel(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
  }
}

TEST_F(CliTest, GlobalOptionsGoBeforeOrAfterTheCommand) {
  Outcome before = runSentrel(sim() + " --format json list");
  Outcome after = runSentrel("list " + sim() + " --format json");
  EXPECT_EQ(before.status, 0);
  EXPECT_EQ(before.out, after.out);
}

// A wrong line of the user's configuration file (read from
// XDG_CONFIG_HOME) is named and stops the command.
TEST_F(CliTest, AWrongConfigurationLineIsNamedAndStopsTheCommand) {
  const std::filesystem::path file = folder_ / "config/sentrel/sentrel.conf";
  std::filesystem::create_directories(file.parent_path());
  ::setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
  const std::string name = file.string();
  struct Case {
    std::string text;
    std::string says;
  } cases[] = {
      {"auto-update = yes\ncolour = red\n", name + ":2: unknown key \"colour\""},
      {"db-source = mirror.invalid\n", name + ":1: db-source takes an https:// or http:// address"},
  };
  for (const Case& c : cases) {
    std::ofstream(file) << c.text;
    Outcome r = runSentrel(sim() + " list");
    EXPECT_EQ(r.status, 1) << c.text << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.text << r.out;
  }
  ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace sentrel
