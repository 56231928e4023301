// `sentrel ata ...`, run as a user would run it.
#include <gtest/gtest.h>

#include "support/run_cli.h"

namespace sentrel {
namespace {

TEST(AtaCliTest, NamesRegisterValuesAndRejectBadOnes) {
  struct {
    const char* args;
    int status;
    const char* out;  // the whole output, or a part of it for a usage error
  } cases[] = {
      {"ata command 176", 0, "0xB0: SMART\n"},
      {"ata command 0XB0 0xD5", 0, "0xB0: SMART\nfeature 0xD5: SMART READ LOG\n"},
      {"ata command 0x25 0", 0, "0x25: READ DMA EXT\nfeature 0x00: (no name)\n"},
      {"ata feature 0xB0 229", 0, "0xB0 0xE5: vendor specific\n"},
      {"ata status 81", 0, "0x51: 51\n"},
      {"ata state 0x35", 0, "0x35: Reserved 35\n"},
      {"ata error 12abc", 1, "not a register value: '12abc'"},
      {"ata command 0x100000000", 1, "0x100000000"},
      {"ata command -1", 1, "-1"},
      {"ata feature 0xB0", 1, "FEATURE is required"},
  };
  for (const auto& c : cases) {
    testing::Outcome r = testing::runSentrel(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
    EXPECT_TRUE(c.status == 0 ? r.out == c.out : r.out.find(c.out) != std::string::npos)
        << c.args << "\n"
        << r.out;
  }
}

}  // namespace
}  // namespace sentrel
