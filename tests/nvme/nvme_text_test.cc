#include <gtest/gtest.h>

#include "nvme/nvme_text.h"

namespace sentrel::nvme {
namespace {

std::optional<std::string> textOf(std::string_view bytes) {
  return fieldText(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

TEST(NvmeFieldTextTest, TrimsSpaceSeparatorsButKeepsLineEndsAndZeros) {
  using namespace std::string_literals;
  struct Case {
    const char* name;
    std::string bytes;
    std::optional<std::string> text;
  } cases[] = {
      {"blank padding", "S4EWNX0R   "s, "S4EWNX0R"s},
      {"leading blanks", "   WD-1234"s, "WD-1234"s},
      {"tabs", "\tAB\t"s, "AB"s},
      {"no-break space and ideographic space",
       "\xC2\xA0"
       "AB\xE3\x80\x80"s,
       "AB"s},
      {"blanks inside stay", " A B "s, "A B"s},
      {"line feed is not a blank", "AB\n"s, "AB\n"s},
      {"zero bytes stay", "AB\0\0"s, "AB\0\0"s},
      {"zeros behind blanks stay with them", "AB  \0"s, "AB  \0"s},
      {"all blanks", "    "s, ""s},
      {"invalid byte", "AB\xFF"s, std::nullopt},
      {"cut multibyte sequence", "AB\xC3"s, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(textOf(c.bytes), c.text) << c.name;
}

TEST(NvmeFieldTextTest, HexForms) {
  EXPECT_EQ(hexText(0x144d, 4), "144d");
  EXPECT_EQ(hexText(0x7, 2), "07");
  EXPECT_EQ(hexText(0x1234567, 4), "1234567");  // wider values are not cut
  const std::uint8_t bytes[] = {0x00, 0xab, 0x20};
  EXPECT_EQ(hexBytes(bytes), "00 ab 20 ");
}

}  // namespace
}  // namespace sentrel::nvme
