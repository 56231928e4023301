#include <gtest/gtest.h>

#include <numeric>

#include "nvme/hex_dump.h"

namespace sentrel::nvme {
namespace {

const std::string kHeader = "___  00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n";

std::vector<std::uint8_t> counting(std::size_t n) {
  std::vector<std::uint8_t> out(n);
  std::iota(out.begin(), out.end(), std::uint8_t{0});
  return out;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    out.push_back(text.substr(at, end - at + 1));
    at = end + 1;
  }
  return out;
}

TEST(NvmeHexDumpTest, RowsCoverTheLength) {
  struct Case {
    std::int32_t length;
    std::size_t rows;
    const char* lastLabel;
  } cases[] = {{-5, 0, ""},        {0, 0, ""},         {1, 1, "000  "},    {16, 1, "000  "},
               {20, 2, "001  "},   {32, 2, "001  "},   {256, 16, "00f  "}, {576, 36, "023  "},
               {577, 36, "023  "}, {4096, 36, "023  "}};
  auto bytes = counting(4096);
  for (const Case& c : cases) {
    auto all = lines(hexDumpText(bytes, c.length));
    ASSERT_EQ(all.size(), c.rows + 1) << c.length;
    EXPECT_EQ(all[0], kHeader);
    for (const std::string& l : all) EXPECT_EQ(l.size(), 54u) << c.length;
    if (c.rows) {
      EXPECT_EQ(all.back().substr(0, 5), c.lastLabel) << c.length;
    }
  }
}

TEST(NvmeHexDumpTest, RowShowsItsSixteenBytes) {
  auto bytes = counting(32);
  bytes[31] = 0xAB;
  auto all = lines(hexDumpText(bytes, 32));
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[1], "000  00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n");
  EXPECT_EQ(all[2], "001  10 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e ab \n");
}

TEST(NvmeHexDumpTest, ShortLastRowIsPaddedWithBlanks) {
  auto bytes = counting(64);
  auto all = lines(hexDumpText(bytes, 20));
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[2], "001  10 11 12 13" + std::string(12 * 3 + 1, ' ') + "\n");
}

TEST(NvmeHexDumpTest, NeverReadsPastTheBuffer) {
  auto bytes = counting(20);
  auto all = lines(hexDumpText(std::span(bytes), 64));  // longer than the buffer
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[2], "001  10 11 12 13" + std::string(12 * 3 + 1, ' ') + "\n");
}

TEST(NvmeHexDumpTest, LogLineFramesTheText) {
  EXPECT_EQ(hexDumpLogLine(20, "TEXT"), "\n\nnvme::hexDump (20 bytes) \n\nTEXT\n\n");
  EXPECT_EQ(hexDumpLogLine(-1, ""), "\n\nnvme::hexDump (-1 bytes) \n\n\n\n");
}

}  // namespace
}  // namespace sentrel::nvme
