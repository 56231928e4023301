#include <gtest/gtest.h>

#include "sentrel/sysutil.h"
#include "sysutil/sys_machines.h"
#include "sysutil/version_rules.h"

namespace sentrel {
namespace {

using sysutil_testing::machineRunning;
using sysutil_testing::productVersion;
using sysutil_testing::runsOf;
using sysutil_testing::tool;
using testing::TestMachine;

constexpr const char* kVersionTool = "/usr/bin/sw_vers";

TEST(SystemVersionTest, StoredVersionIsAnsweredWithoutRunningTheTool) {
  TestMachine m(
      machineRunning("14.5", {}, Dict{{"userDefaults", Dict{{"KVCurrentSWVers", "10.14.6"}}}}));
  EXPECT_EQ(KVGetCurrentSystemString(), "10.14.6");
  EXPECT_TRUE(runsOf(m, kVersionTool).empty());
}

TEST(SystemVersionTest, FirstAnswerComesFromTheToolAndIsStored) {
  TestMachine m(Dict{{"tools", Array{productVersion("10.15.7\nsecond line\n")}}});
  EXPECT_EQ(KVGetCurrentSystemString(), "10.15.7");
  EXPECT_EQ(KVGetCurrentSystemString(), "10.15.7");
  auto runs = runsOf(m, kVersionTool);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(*runs[0].getArray("arguments"), Array{"-productVersion"});
  auto sets = m->calls("userDefaults.set");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].stringOr("key"), "KVCurrentSWVers");
  EXPECT_EQ(*sets[0].find("value"), Value("10.15.7"));
}

TEST(SystemVersionTest, UnreadableOutputIsNotStoredSoTheToolRunsAgain) {
  TestMachine m(Dict{{"tools", Array{productVersion("10.15\xe9\n")}}});
  EXPECT_EQ(KVGetCurrentSystemString(), std::nullopt);
  EXPECT_EQ(KVGetCurrentSystemString(), std::nullopt);
  EXPECT_EQ(runsOf(m, kVersionTool).size(), 2u);
  EXPECT_TRUE(m->calls("userDefaults.set").empty());
}

TEST(SystemVersionTest, MissingToolGivesNothingAndComparesAsNotOlder) {
  TestMachine m(Dict{});
  EXPECT_EQ(KVGetCurrentSystemString(), std::nullopt);
  EXPECT_EQ(KVCompareCurrentSystemVersionWith("10.12"), 0);
  ASSERT_FALSE(runsOf(m, kVersionTool).empty());
  EXPECT_EQ(*runsOf(m, kVersionTool)[0].find("started"), Value(false));
}

TEST(SystemVersionTest, EmptyOutputIsStoredAndIsOlderThanEverything) {
  TestMachine m(Dict{{"tools", Array{productVersion("")}}});
  EXPECT_EQ(KVGetCurrentSystemString(), "");
  EXPECT_EQ(KVCompareCurrentSystemVersionWith("10.12"), -1);
  EXPECT_EQ(KVCompareCurrentSystemVersionWith("0"), -1);
  EXPECT_EQ(runsOf(m, kVersionTool).size(), 1u);
}

TEST(SystemVersionTest, ComparesTheRunningVersionNumerically) {
  struct Case {
    const char* running;
    std::optional<std::string_view> given;
    std::int64_t result;
  } cases[] = {
      {"10.11.6", "10.12", -1},
      {"10.12", "10.12", 0},
      {"14.5", "10.12", 1},
      {"10.9", "10.12", -1},
      {"10.13", "10.13.4", -1},
      {"11.0", "10.15.7", 1},
      {"10.13.4", "10.13", 1},
      {"10.13", "Version 10.13", 0},
      {"10.13", "10.13b", 0},
      {"10.13", "\t 10.13 \t", 0},
      {"10.12", "v10.13beta", -1},
      {"10.13", "10.013", 0},
      {"10.13", "", 0},
      {"10.13", std::nullopt, 0},
      {"10.13", "Version", 1},
      {"10.6.8", "10.6", 1},
      {"10.5.8", "10.6", -1},
  };
  for (const Case& c : cases) {
    TestMachine m(machineRunning(c.running));
    EXPECT_EQ(KVCompareCurrentSystemVersionWith(c.given), c.result)
        << c.running << " vs " << c.given.value_or("(none)");
  }
}

TEST(SystemVersionTest, TrimsLettersAndBlanksButNotNewlinesOrDigits) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"Version 10.13", "10.13"},
      {"10.13b", "10.13"},
      {"\t10.13 ", "10.13"},
      {"10.13\n", "10.13\n"},                // a newline is not a blank
      {"\xc3\xa9t\xc3\xa9 10.13", "10.13"},  // letters beyond ASCII
      {"10.13\xe2\x80\x83", "10.13"},        // em space, a space separator
      {"10.13b4", "10.13b4"},
      {"beta", ""},
      {"\xff"
       "10",
       "\xff"
       "10"},  // not UTF-8: left as it is
  };
  for (const Case& c : cases) EXPECT_EQ(sysutil::trimLettersAndBlanks(c.in), c.out) << c.in;
}

TEST(SystemVersionTest, DictionaryLinesFollowTheColonRules) {
  struct Case {
    std::string output;
    Dict expected;
  } cases[] = {
      {"Alpha:\t\tOne\n", Dict{{"Alpha", "One"}}},
      {"Beta:\t2B7\n", Dict{{"Beta", "2B7"}}},
      {"Gamma: a: b\n", Dict{{"Gamma", "a"}}},
      {"no colon here\n", Dict{}},
      {" Spaced :  value  \n", Dict{{" Spaced ", "value"}}},
      {"Empty:\n", Dict{{"Empty", ""}}},
      {"Key: first\nKey: second\n", Dict{{"Key", "second"}}},
      {"ProductName:\tmacOS\nProductVersion:\t14.5\nBuildVersion:\t23F79",
       Dict{{"ProductName", "macOS"}, {"ProductVersion", "14.5"}, {"BuildVersion", "23F79"}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sysutil::versionToolDictionary(c.output), c.expected) << c.output;
  }
}

TEST(SystemVersionTest, DictionaryIsLoggedStoredAndThenAnsweredFromStore) {
  TestMachine m(Dict{{"tools", Array{tool(kVersionTool, Array{},
                                          "ProductName:\tmacOS\n"
                                          "ProductVersion:\t14.5\n")}}});
  Dict expected{{"ProductName", "macOS"}, {"ProductVersion", "14.5"}};
  EXPECT_EQ(KVGetCurrentSystemDictionary(), expected);
  EXPECT_EQ(KVGetCurrentSystemDictionary(), expected);
  EXPECT_EQ(runsOf(m, kVersionTool).size(), 1u);
  auto logs = m->calls("nslog");
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].stringOr("line"),
            "{\n    ProductName = macOS;\n    ProductVersion = \"14.5\";\n}");
  auto sets = m->calls("userDefaults.set");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].stringOr("key"), "KVCurrentSWVersDict");
}

TEST(SystemVersionTest, DictionaryOfUnreadableOutputIsStoredEmpty) {
  TestMachine m(Dict{{"tools", Array{tool(kVersionTool, Array{}, "Name:\t\xff\n")}}});
  EXPECT_EQ(KVGetCurrentSystemDictionary(), Dict{});
  auto sets = m->calls("userDefaults.set");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(*sets[0].find("value"), Value(Dict{}));
}

TEST(SystemVersionTest, StoredDictionaryIsAnsweredAsItIs) {
  Dict stored{{"ProductVersion", "10.14.6"}};
  TestMachine m(Dict{{"userDefaults", Dict{{"KVCurrentSWVersDict", stored}}}});
  EXPECT_EQ(KVGetCurrentSystemDictionary(), stored);
  EXPECT_TRUE(runsOf(m, kVersionTool).empty());
}

TEST(SystemVersionTest, TimeMachineOutputIsParsedWhenItIsAPropertyList) {
  Dict info{{"Destinations", Array{Dict{{"Name", "Backup"}, {"Kind", "Local"}}}}};
  TestMachine m(Dict{
      {"tools",
       Array{tool("/usr/bin/tmutil", Array{"destinationinfo", "-X"}, toXmlPlist(Value(info))),
             tool("/usr/bin/tmutil", Array{"destinationinfo"}, "Name: Backup\nKind: Local\n")}}});
  EXPECT_EQ(tmutil({"destinationinfo", "-X"}), Value(info));
  EXPECT_EQ(tmutil({"destinationinfo"}), std::nullopt);
  EXPECT_EQ(tmutil({"unknown"}), std::nullopt);
  auto runs = runsOf(m, "/usr/bin/tmutil");
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(*runs[0].getArray("arguments"), (Array{"destinationinfo", "-X"}));
}

}  // namespace
}  // namespace sentrel
