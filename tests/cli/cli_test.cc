// Runs the built `sentrel` program as a user would and checks what it
// prints and how it exits.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "sentrel/value_io.h"
#include "support/machines.h"
#include "support/run_cli.h"

namespace sentrel {
namespace {

using testing::Outcome;
using testing::runSentrel;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("sentrel-cli-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(folder_);
    Dict disk = testing::sataDisk("disk0");
    testing::addVolume(disk, "disk0s2", "Macintosh HD");
    testing::ataBlock(disk).set("openStatuses", Array{"0xE00002BE", 0});
    // A virtual disk: no SMART-capable entry above it.
    Dict virtualDisk = testing::sataDisk("disk1");
    virtualDisk.set("ancestors", Array{});
    virtualDisk.find("properties")->ifDict()->set("SMART Unavailable Reason", "a virtio disk");
    // A drive that refuses to be opened.
    Dict refusing = testing::sataDisk("disk2");
    testing::ataBlock(refusing).set("openStatuses", Array{"0xE00002E2"});
    Dict machine{{"systemVersion", "13.6"},
                 {"disks", Array{Value(disk), Value(virtualDisk), Value(refusing)}}};
    std::ofstream(folder_ / "machine.json") << toJson(Value(machine));
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string sim() const { return "--sim " + folder_.string(); }
  std::filesystem::path folder_;
};

TEST_F(CliTest, ListPrintsOneRecordPerDiskInJson) {
  Outcome r = runSentrel(sim() + " list --format json");
  ASSERT_EQ(r.status, 0) << r.out;
  ReadError error;
  auto v = fromJson(r.out, &error);
  ASSERT_TRUE(v) << error.text() << "\n" << r.out;
  const Dict* disk0 = v->ifDict()->getDict("disk0");
  ASSERT_TRUE(disk0);
  EXPECT_EQ(disk0->stringOr("Device Model"), "WDC WD10EZEX-08WN4A0");
  EXPECT_EQ(*disk0->find("diskIcon"), Value(Dict{{"image", ""}, {"width", 0}, {"height", 0}}));
}

TEST_F(CliTest, GlobalOptionsGoBeforeOrAfterTheCommand) {
  Outcome before = runSentrel(sim() + " --format json list");
  Outcome after = runSentrel("list " + sim() + " --format json");
  EXPECT_EQ(before.status, 0);
  EXPECT_EQ(before.out, after.out);
  Outcome plist = runSentrel(sim() + " list --format plist");
  EXPECT_NE(plist.out.find("<key>disk0</key>"), std::string::npos) << plist.out;
  Outcome text = runSentrel(sim() + " list");
  EXPECT_NE(text.out.find("WD-WCC6Y0ABCDEF"), std::string::npos) << text.out;
}

TEST_F(CliTest, ExitStatusesSayWhatWentWrong) {
  const std::string demo = "--offline --sim " SENTREL_SOURCE_DIR "/examples/demo-mac";
  struct Case {
    std::string args;
    int status;
    std::string says;
  } cases[] = {
      {sim() + " device disk7", 1,
       "no disk is named disk7 (drives with SMART access: disk0, disk2)"},
      {sim() + " device disk0s2", 1, "disk0s2 is a partition of disk0"},
      // The demo's disk0 is "Warning" for the raw counts of 5 and 187: marked and said.
      {demo + " health disk0 --no-pace", 0,
       "Why:     attribute 5: raw value 8 is above 0; attribute 187: raw value 2 is above 0"},
      {demo + " health disk0 --no-pace", 0, "   4* Reallocated Sectors Count (5)"},
      {demo + " health disk0 --no-pace", 0, "   3  Start/Stop Count (4)"},
      {sim() + " health disk1", 1, "disk1 has no SMART access: a virtio disk"},
      {sim() + " health disk2", 1, "cannot use disk2: ata.createPlugIn failed (status 0xE00002E2)"},
      {sim() + " device disk0", 0, "Device Model: WDC WD10EZEX-08WN4A0"},
      {sim() + " list --format yaml", 2, "--format"},
      {"--sim /nonexistent/machine list", 2, "/nonexistent/machine/machine.json"},
      {"list --journal /tmp/x.jsonl", 2, "--journal needs --sim"},
      {"", 2, "A subcommand is required"},
      {sim() + " selftest disk0 long", 2, "TEST"},
      {sim() + " selftest disk0 short", 0, "short self-test sent to disk0"},
      {sim() + " selftest disk9 abort", 1, "no disk is named disk9"},
      // This machine's own disks: whatever it has, no disk has this name.
      {"device nosuchdisk9", 1, "no disk is named nosuchdisk9"},
  };
  for (const Case& c : cases) {
    Outcome r = runSentrel(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
  }
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
    Outcome r =
        runSentrel(sim() + " health disk0 --no-pace --journal " + journal.string() + " " + args);
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
  };
  for (const Case& c : cases) {
    configure(c.text);
    Outcome r = runSentrel(sim() + " list");
    EXPECT_EQ(r.status, 2) << c.text << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.text << r.out;
  }
}

}  // namespace
}  // namespace sentrel
