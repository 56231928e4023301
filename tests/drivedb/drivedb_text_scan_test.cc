// The parser's notions of white space and of well-formed UTF-8.
#include <gtest/gtest.h>

#include "drivedb/text_scan.h"
#include "sentrel/drivedb_parser.h"

namespace sentrel::drivedb {
namespace {

struct TrimCase {
  std::string_view input;
  std::string_view expected;
};

class DriveDbTrimWhiteSpaceTest : public ::testing::TestWithParam<TrimCase> {};

TEST_P(DriveDbTrimWhiteSpaceTest, Trims) {
  EXPECT_EQ(trimWhiteSpace(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DriveDbTrimWhiteSpaceTest,
    ::testing::Values(TrimCase{"  a b  ", "a b"}, TrimCase{"\t\r\n\v\fa\r\n", "a"},
                      TrimCase{"", ""}, TrimCase{" \n\t ", ""},
                      // NO-BREAK SPACE, NEXT LINE, EM SPACE, LINE SEPARATOR, IDEOGRAPHIC SPACE
                      TrimCase{"\xC2\xA0\xC2\x85"
                               "a\xE2\x80\x83\xE2\x80\xA8\xE3\x80\x80",
                               "a"},
                      // ZERO WIDTH SPACE is no white space; a lone lead byte is no character.
                      TrimCase{"\xE2\x80\x8B"
                               "a",
                               "\xE2\x80\x8B"
                               "a"},
                      TrimCase{"a \xC2", "a \xC2"},
                      // The degree-Celsius sign is kept whole.
                      TrimCase{"\xE2\x84\x83 ", "\xE2\x84\x83"}));

struct Utf8Case {
  std::string_view bytes;
  bool valid;
};

class DriveDbUtf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(DriveDbUtf8Test, Checks) {
  EXPECT_EQ(isValidUtf8(GetParam().bytes), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(Cases, DriveDbUtf8Test,
                         ::testing::Values(Utf8Case{"", true}, Utf8Case{"plain", true},
                                           Utf8Case{"Temperature \xE2\x84\x83", true},
                                           Utf8Case{"\xF0\x9F\x92\xBE",
                                                    true},               // a four-byte character
                                           Utf8Case{"\xFF", false},      // never a UTF-8 byte
                                           Utf8Case{"\xC0\xAF", false},  // overlong "/"
                                           Utf8Case{"\xED\xA0\x80", false},      // a surrogate
                                           Utf8Case{"\xF4\x90\x80\x80", false},  // past U+10FFFF
                                           Utf8Case{"ok \xE2\x84", false},   // cut short at the end
                                           Utf8Case{"\xE2\x28\xA1", false},  // bad continuation
                                           Utf8Case{"Latin-1 caf\xE9 text", false}));  // ISO 8859-1

}  // namespace
}  // namespace sentrel::drivedb
