// `sentrel ata ...`, run as a user would run it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "sentrel/value_io.h"
#include "support/run_cli.h"

namespace sentrel {
namespace {

using testing::Outcome;
using testing::runSentrel;

TEST(AtaCliTest, NamesRegisterValuesInDecimalOrHex) {
  struct {
    const char* args;
    const char* out;
  } cases[] = {
      {"ata command 0xB0", "0xB0: SMART\n"},
      {"ata command 176", "0xB0: SMART\n"},
      {"ata command 0XB0 0xD5", "0xB0: SMART\nfeature 0xD5: SMART READ LOG\n"},
      {"ata command 0x25 0", "0x25: READ DMA EXT\nfeature 0x00: (no name)\n"},
      {"ata command 0x100", "0x100: undefined 100\n"},
      {"ata feature 0xB0 229", "0xB0 0xE5: vendor specific\n"},
      {"ata error 0x40", "0x40: UNCORRECTABLE ERROR\n"},
      {"ata error 0", "0x00: unknown\n"},
      {"ata status 81", "0x51: 51\n"},
      {"ata state 0x35", "0x35: Reserved 35\n"},
  };
  for (const auto& c : cases) {
    Outcome r = runSentrel(c.args);
    EXPECT_EQ(r.status, 0) << c.args;
    EXPECT_EQ(r.out, c.out) << c.args;
  }
}

TEST(AtaCliTest, JsonKeepsTheExactWords) {
  Outcome r = runSentrel("--format json ata error 0x84");
  ASSERT_EQ(r.status, 0) << r.out;
  auto v = fromJson(r.out, nullptr);
  ASSERT_TRUE(v && v->ifDict() && v->ifDict()->getDict("result")) << r.out;
  const Dict* result = v->ifDict()->getDict("result");
  EXPECT_EQ(result->stringOr("name"), " ABORT INTERFACE CRC");
  EXPECT_EQ(result->getInt("error"), 0x84);

  r = runSentrel("--format json ata command 0xB0 0xD0");
  v = fromJson(r.out, nullptr);
  ASSERT_TRUE(v && v->ifDict() && v->ifDict()->getDict("result")) << r.out;
  result = v->ifDict()->getDict("result");
  EXPECT_EQ(result->stringOr("name"), "SMART");
  EXPECT_EQ(result->stringOr("subcommand"), "SMART READ DATA");
}

TEST(AtaCliTest, BadValuesAreUsageErrors) {
  for (const char* args : {"ata command 0xZZ", "ata command -1", "ata command 0x",
                           "ata command 0x100000000", "ata error 12abc", "ata feature 0xB0 x1",
                           "ata feature 0xB0", "ata state", "ata status 1 2", "ata"}) {
    Outcome r = runSentrel(args);
    EXPECT_EQ(r.status, 1) << args << "\n" << r.out;
    EXPECT_FALSE(r.out.empty()) << args;
  }
  EXPECT_NE(runSentrel("ata error 12abc").out.find("not a register value: '12abc'"),
            std::string::npos);
}

}  // namespace
}  // namespace sentrel
