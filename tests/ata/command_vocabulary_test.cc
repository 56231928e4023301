#include "ata/command_vocabulary.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "sentrel/smart_device.h"

namespace sentrel::ata {
namespace {

bool isUndefined(const std::string& name) {
  return name.rfind("undefined ", 0) == 0;
}

TEST(CommandNameTest, TheByteCodesSplitIntoNamedVendorAndUndefined) {
  int named = 0, vendor = 0, undefined = 0;
  std::set<unsigned> vendorCodes, namedCodes;
  for (unsigned code = 0; code <= 0xFF; ++code) {
    std::string name = commandName(code);
    ASSERT_FALSE(name.empty()) << code;
    if (name == "(vendor specific)") {
      ++vendor;
      vendorCodes.insert(code);
    } else if (isUndefined(name)) {
      ++undefined;
    } else {
      ++named;
      namedCodes.insert(code);
    }
  }
  EXPECT_EQ(named, 75);
  EXPECT_EQ(vendor, 29);
  EXPECT_EQ(undefined, 152);

  std::set<unsigned> expectedVendor{0x9A, 0xF0, 0xF7};
  for (unsigned c = 0x80; c <= 0x8F; ++c) expectedVendor.insert(c);
  for (unsigned c = 0xC0; c <= 0xC3; ++c) expectedVendor.insert(c);
  for (unsigned c = 0xFA; c <= 0xFF; ++c) expectedVendor.insert(c);
  EXPECT_EQ(vendorCodes, expectedVendor);

  const std::set<unsigned> expectedNamed{
      0x00, 0x03, 0x06, 0x08, 0x0B, 0x20, 0x24, 0x25, 0x26, 0x29, 0x2A, 0x2B, 0x2F, 0x30, 0x34,
      0x35, 0x36, 0x38, 0x39, 0x3A, 0x3B, 0x3D, 0x3F, 0x40, 0x42, 0x45, 0x47, 0x51, 0x57, 0x5B,
      0x5C, 0x5D, 0x5E, 0x5F, 0x60, 0x61, 0x63, 0x64, 0x65, 0x77, 0x78, 0x90, 0x92, 0x93, 0xA0,
      0xA1, 0xB0, 0xB4, 0xC4, 0xC5, 0xC6, 0xC8, 0xCA, 0xCD, 0xCE, 0xE0, 0xE1, 0xE2, 0xE3, 0xE4,
      0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xEF, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6};
  EXPECT_EQ(namedCodes, expectedNamed);
}

TEST(CommandNameTest, NamesAndUndefinedCodes) {
  struct {
    std::uint32_t code;
    const char* name;
  } cases[] = {
      {0x00, "NOP"},
      {0x08, "ATAPI Soft Reset / DEVICE RESET"},
      {0x25, "READ DMA EXT"},
      {0x5B, "TRUSTED NON-DATA"},
      {0x60, "READ FPDMA QUEUED"},
      {0x77, "SET DATE & TIME EXT"},
      {0xB0, "SMART"},
      {0xB4, "Sanitize Device"},
      {0xE9, "(WRITE SAME) READ BUFFER DMA"},
      {0xEC, "IDENTIFY DEVICE"},
      {0xF6, "SECURITY DISABLE PASSWORD"},
      {0x80, "(vendor specific)"},
      {0x9A, "(vendor specific)"},
      {0xFF, "(vendor specific)"},
      {0x01, "undefined 01"},
      {0x9B, "undefined 9B"},
      {0xF8, "undefined F8"},
      {0x100, "undefined 100"},
      {0xFFFFFFFF, "undefined FFFFFFFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(commandName(c.code), c.name) << std::hex << c.code;
}

TEST(SubcommandNameTest, EachTableHasItsRowCount) {
  // Named feature values per command, counting every value a range covers.
  struct {
    std::uint32_t command;
    int named;
  } cases[] = {
      {0x5B, 0}, {0x5C, 28}, {0x5D, 28}, {0x5E, 28}, {0x5F, 28}, {0x63, 2}, {0x78, 3},  {0x92, 4},
      {0x93, 4}, {0xB0, 40}, {0xB4, 5},  {0xEF, 25}, {0x25, 0},  {0x00, 0}, {0x1B0, 0},
  };
  for (const auto& c : cases) {
    int named = 0;
    for (unsigned f = 0; f <= 0xFF; ++f) named += subcommandName(c.command, f).empty() ? 0 : 1;
    EXPECT_EQ(named, c.named) << std::hex << c.command;
  }
}

TEST(SubcommandNameTest, Names) {
  const std::string cfa =
      "If the device implements the CFA feature set, then this subcommand is reserved for CFA; "
      "otherwise, this subcommand is obsolete. ";
  struct {
    std::uint32_t command, feature;
    std::string name;
  } cases[] = {
      {0xB0, 0xD0, "SMART READ DATA"},
      {0xB0, 0xD1, ""},
      {0xB0, 0xD5, "SMART READ LOG"},
      {0xB0, 0xDA, "SMART RETURN STATUS"},
      {0xB0, 0xDF, ""},
      {0xB0, 0xE0, "vendor specific"},
      {0xB0, 0xE5, "vendor specific"},
      {0xB0, 0xFF, "vendor specific"},
      {0xB0, 0x1E0, ""},  // a feature value wider than the register names nothing
      {0xEF, 0x09, cfa},
      {0xEF, 0x89, cfa},
      {0xEF, 0x02, "Enable volatile write cache"},
      {0xEF, 0x10, "Enable use of SATA feature"},
      {0xEF, 0xCC, "Enable reverting to power-on defaults"},
      {0xEF, 0x01, ""},
      {0x5B, 0x00, ""},
      {0x5C, 0x00, "Return security protocol information"},
      {0x5F, 0x06, "Reserved for TCG"},
      {0x5D, 0x07, ""},
      {0x5E, 0x20, "Reserved for T10"},
      {0x5E, 0xEF, "Reserved for T10"},
      {0x5C, 0xED, "Defined by SDCard TrustedFlash Security Systems Specification 1.1.3"},
      {0x5C, 0xF0, "Vendor Specific"},
      {0x5C, 0xFF, "Vendor Specific"},
      {0x63, 0x01, "DEADLINE HANDLING"},
      {0x78, 0x02, "FREEZE ACCESSIBLE MAX ADDRESS EXT"},
      {0x92, 0x0F, "activate"},
      {0x93, 0x03, "Save with offsets and activate"},
      {0xB4, 0x14, "OVERWRITE EXT "},
      {0xB4, 0x20, "SANITIZE FREEZE LOCK EXT"},
      {0x25, 0x00, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(subcommandName(c.command, c.feature), c.name)
        << std::hex << c.command << " " << c.feature;
  }
}

TEST(ErrorBitNamesTest, SetBitsInBitOrderEachAfterOneBlank) {
  struct {
    std::uint32_t error;
    const char* names;
  } cases[] = {
      {0x00, "unknown"},
      {0x01, " ILI/CCTO/MEDIA"},
      {0x02, " END OF MEDIA"},
      {0x04, " ABORT"},
      {0x08, " obsolete 0x08"},
      {0x10, " ID NOT FOUND"},
      {0x20, " obsolete 0x02"},
      {0x40, " UNCORRECTABLE ERROR"},
      {0x80, " INTERFACE CRC"},
      {0x84, " ABORT INTERFACE CRC"},
      {0x51, " ILI/CCTO/MEDIA ID NOT FOUND UNCORRECTABLE ERROR"},
      {0xFF,
       " ILI/CCTO/MEDIA END OF MEDIA ABORT obsolete 0x08 ID NOT FOUND obsolete 0x02 "
       "UNCORRECTABLE ERROR INTERFACE CRC"},
      {0x100, "unknown"},  // the register has eight bits
  };
  for (const auto& c : cases) EXPECT_EQ(errorBitNames(c.error), c.names) << c.error;
}

TEST(DeviceStateNameTest, LowNibbleChoosesTheRowWholeValueIsPrinted) {
  struct {
    std::uint32_t state;
    const char* name;
  } cases[] = {
      {0x00, "Unknown"},
      {0x01, "Sleep"},
      {0x02, "Standby"},
      {0x03, "Active/Idle"},
      {0x04, "Executing SMART off-line or self-test"},
      {0x14, "Executing SMART off-line or self-test"},
      {0xF3, "Active/Idle"},
      {0x05, "Reserved 05"},
      {0x0A, "Reserved 0A"},
      {0x35, "Reserved 35"},
      {0x0B, "Vendor 0B"},
      {0x0F, "Vendor 0F"},
      {0xFF, "Vendor FF"},
      {0x10, "Unknown"},
  };
  for (const auto& c : cases) EXPECT_EQ(deviceStateName(c.state), c.name) << c.state;
}

TEST(StatusTextTest, TwoUpperCaseHexDigitsAtLeast) {
  EXPECT_EQ(statusText(0x51), "51");
  EXPECT_EQ(statusText(0x0), "00");
  EXPECT_EQ(statusText(0xAB), "AB");
  EXPECT_EQ(statusText(0x1234), "1234");
}

TEST(CommandVocabularyTest, TheClassOperationsAnswerTheSameWords) {
  EXPECT_EQ(KVSMARTDevice::commandName(0x25), "READ DMA EXT");
  EXPECT_EQ(KVSMARTDevice::command(0xB0, 0xD5), "SMART READ LOG");
  EXPECT_EQ(KVSMARTDevice::error(0x04), " ABORT");
  EXPECT_EQ(KVSMARTDevice::status(0x51), "51");
  EXPECT_EQ(KVSMARTDevice::state(0x0A), "Reserved 0A");
}

}  // namespace
}  // namespace sentrel::ata
