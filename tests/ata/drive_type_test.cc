#include "ata/drive_type.h"

#include <gtest/gtest.h>

namespace sentrel::ata {
namespace {

// ASCII names are folded without ICU; the others with ICU's case folding,
// which folds a long s to s but leaves an accented letter alone.
TEST(DriveTypeTest, RotatingMediaWordsInAnyCase) {
  const std::pair<std::string_view, bool> names[] = {
      {"Spin_Up_Time", true},
      {"Seek_Error_Rate", true},
      {"HEAD_FLYING_HOURS", true},
      {"G-Sense_Error_Rate", false},
      {"Power_On_Hours", false},
      {"Spi_n", false},
      {"", false},
      {"\xc5\xbfpin_Up", true},
      {"\xc3\x89pin_Up", false},
      {"T\xc3\xa9mp Fly", true},
  };
  for (const auto& [name, rotating] : names) EXPECT_EQ(namesRotatingMedia(name), rotating) << name;
}

}  // namespace
}  // namespace sentrel::ata
