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
    testing::addVolume(passed, "disk0s2", "Macintosh HD");
    testing::ataBlock(passed).set("openStatuses", Array{"0xE00002BE", 0});
    // A virtual disk: no SMART-capable entry above it.
    Dict virtualDisk = testing::sataDisk("disk1");
    virtualDisk.set("ancestors", Array{});
    virtualDisk.find("properties")->ifDict()->set("SMART Unavailable Reason", "a virtio disk");
    // A drive that refuses to be opened.
    Dict refusing = testing::sataDisk("disk2");
    testing::ataBlock(refusing).set("openStatuses", Array{"0xE00002E2"});
    Dict warning = diskWith("disk3", {{.id = 5, .flags = 0x33, .raw = 8, .threshold = 10}});
    Dict failed = diskWith("disk4", {sound}, true);
    // A pre-fail attribute at its threshold now, another below it once.
    Dict worn =
        diskWith("disk5", {{.id = 1, .flags = 0x0B, .current = 10, .worst = 10, .threshold = 10},
                           {.id = 3, .flags = 0x22, .current = 90, .worst = 5, .threshold = 10}});
    Dict machine{{"systemVersion", "13.6"},
                 {"disks", Array{Value(passed), Value(virtualDisk), Value(refusing), Value(warning),
                                 Value(failed), Value(worn)}}};
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
      {sim() + " health disk3", 16, "Verdict: Warning"},
      {sim() + " health disk4", 8, "the drive reports that a SMART threshold is exceeded"},
      {sim() + " health disk5", 16 | 32, "value 10 is at or below its threshold 10"},
      // Several disks: their bits OR-ed.
      {sim() + " health --all --workers 2", 2 | 8 | 16 | 32, "disk5"},
      {sim() + " health disk7", 2,
       "no disk is named disk7 (drives with SMART access: disk0, disk2, "
       "disk3, disk4, disk5)"},
      {sim() + " device disk0s2", 2, "disk0s2 is a partition of disk0"},
      {sim() + " health disk1", 2, "disk1 has no SMART access: a virtio disk"},
      {sim() + " health disk2", 2, "cannot use disk2: ata.createPlugIn failed (status 0xE00002E2)"},
      // The demo's disk0: a warning for the raw counts of 5 and 187, marked
      // and said; errors in its error log and a failed self-test.
      {demo + " health disk0", 16 | 64 | 128,
       "  - Reallocated Sector Count (5): raw value 8 is above 0\n"
       "  - Reported Uncorrectable (187): raw value 2 is above 0\n"},
      {demo + " health disk0", 16 | 64 | 128, "*  5    Reallocated Sector Count"},
      // Command line and input errors.
      {sim() + " list --format yaml", 1, "sentrel: --format"},
      {sim() + " health", 1, "name one or more disks, or give --all"},
      {"--sim '' list", 1, "--sim needs a machine folder"},
      {"--sim /nonexistent/machine list", 1, "/nonexistent/machine/machine.json"},
      {"list --journal /tmp/x.jsonl", 1, "--journal needs --sim"},
      {sim() + " selftest disk0 long", 1, "TEST"},
      {"decode raw bogusfmt 000000000000000000000000", 1, "no raw-value format is named"},
      {sim() + " selftest disk0 short", 0, "short self-test started on disk0"},
      {sim() + " selftest disk0 abort", 0,
       "aborted the self-test of disk0 by disabling SMART operations, then enabled them again"},
      // Followed to the end: the demo's drives run in a few steps.
      {demo + " selftest disk0 short --wait", 0,
       "[##########----------] 50% done\n[################----] 80% done\n"
       "[####################] 100% done\nShort Offline: Pass\n"},
      {demo + " selftest disk5 short --wait", 0, "Short: Completed without error\n"},
      // This machine's own disks: whatever it has, no disk has this name.
      {"device nosuchdisk9", 2, "no disk is named nosuchdisk9"},
  };
  for (const Case& c : cases) {
    Outcome r = runSentrel(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
  }
}

// What health shows of each attribute is what the library's own
// dictionaries hold, on every ATA drive of the demo.
TEST(CliDemoTest, HealthShowsTheValuesOfTheDeviceProperties) {
  const std::string demo = "--offline --sim " SENTREL_SOURCE_DIR "/examples/demo-mac ";
  for (const char* disk : {"disk0", "disk1", "disk3"}) {
    auto typed = fromJson(runSentrel(demo + "--format json health " + disk).out, nullptr);
    auto raw = fromJson(runSentrel(demo + "--format raw-json device " + disk).out, nullptr);
    ASSERT_TRUE(typed && raw) << disk;
    const Array& attributes =
        *typed->ifDict()->getDict("health")->getArray("devices")->at(0).ifDict()->getArray(
            "ata_attributes");
    const Array& entries = *raw->ifDict()->getArray("vendorspecificAttributes");
    ASSERT_EQ(attributes.size(), entries.size()) << disk;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const Dict& a = *attributes[i].ifDict();
      const Dict& e = *entries[i].ifDict();
      for (const char* key : {"value", "worst", "threshold"})
        EXPECT_EQ(std::to_string(*a.getInt(key)), e.stringOr(key)) << disk << " " << key;
      EXPECT_EQ(std::to_string(*a.getInt("id")), e.stringOr("ID")) << disk;
      EXPECT_EQ(a.getDict("raw")->stringOr("string"), e.stringOr("rawValue")) << disk;
    }
  }
}

TEST_F(CliTest, GlobalOptionsGoBeforeOrAfterTheCommand) {
  Outcome before = runSentrel(sim() + " --format json list");
  Outcome after = runSentrel("list " + sim() + " --format json");
  EXPECT_EQ(before.status, 0);
  EXPECT_EQ(before.out, after.out);
  Outcome coloured = runSentrel(sim() + " health disk3 --color always");
  EXPECT_NE(coloured.out.find("\x1b[31mVerdict: Warning\x1b[0m"), std::string::npos)
      << coloured.out;
}

TEST_F(CliTest, JournalRecordsEveryPlatformCallAsJsonLines) {
  auto journal = folder_ / "journal.jsonl";
  Outcome r = runSentrel(sim() + " selftest disk0 extended --journal " + journal.string());
  ASSERT_EQ(r.status, 0) << r.out;
  std::ifstream in(journal);
  std::vector<std::string> calls;
  for (std::string line; std::getline(in, line);) {
    auto v = fromJson(line, nullptr);
    ASSERT_TRUE(v) << line;
    calls.push_back(v->ifDict()->stringOr("call"));
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"ata.createPlugIn", "sleep", "ata.createPlugIn",
                                             "ata.queryInterface", "ata.runOfflineImmediate",
                                             "ata.release", "ata.destroyPlugIn"}));
}

// The configuration files decide whether a command that reads a drive also
// updates the drive database; the user's file is read from XDG_CONFIG_HOME.
class CliConfigTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    std::filesystem::create_directories(folder_ / "config/sentrel");
    ::setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    CliTest::TearDown();
  }
  void configure(const std::string& text) const {
    std::ofstream(folder_ / "config/sentrel/sentrel.conf") << text;
  }
  // The addresses the command downloaded from, in order.
  std::vector<std::string> downloads(const std::string& args) const {
    auto journal = folder_ / "journal.jsonl";
    Outcome r = runSentrel("--sim " + folder_.string() + " health disk0 --no-pace --journal " +
                           journal.string() + " " + args);
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<std::string> urls;
    std::ifstream in(journal);
    for (std::string line; std::getline(in, line);) {
      auto v = fromJson(line, nullptr);
      if (v && v->ifDict()->stringOr("call") == "download")
        urls.push_back(v->ifDict()->stringOr("url"));
    }
    return urls;
  }
};

TEST_F(CliConfigTest, DownloadsOnlyWhenTheConfigurationTurnsUpdatesOn) {
  configure("# the default, said\nauto-update = no\n");
  EXPECT_TRUE(downloads("").empty());

  configure("auto-update = yes\ndb-source = http://mirror.invalid\n");
  std::vector<std::string> urls = downloads("");
  ASSERT_FALSE(urls.empty());
  EXPECT_TRUE(urls.front().starts_with("http://mirror.invalid/")) << urls.front();
  EXPECT_TRUE(downloads("--offline").empty());
}

TEST_F(CliConfigTest, AWrongLineIsNamedAndStopsTheCommand) {
  const std::string file = (folder_ / "config/sentrel/sentrel.conf").string();
  struct Case {
    std::string text;
    std::string says;
  } cases[] = {
      {"auto-update = yes\ncolour = red\n", file + ":2: unknown key \"colour\""},
      {"\n\nauto-update\n", file + ":3: expected \"key = value\""},
      {"auto-update = sometimes\n", file + ":1: auto-update takes yes or no"},
      {"db-source = mirror.invalid\n", file + ":1: db-source takes an https:// or http:// address"},
      {"data-home = var/lib\n", file + ":1: data-home takes an absolute path"},
  };
  for (const Case& c : cases) {
    configure(c.text);
    Outcome r = runSentrel(sim() + " list");
    EXPECT_EQ(r.status, 1) << c.text << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.text << r.out;
  }
}

}  // namespace
}  // namespace sentrel
