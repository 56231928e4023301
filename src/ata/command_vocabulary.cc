#include "ata/command_vocabulary.h"

#include <array>
#include <cstdio>
#include <span>
#include <string_view>

namespace sentrel::ata {

namespace {

struct CommandName {
  std::uint8_t code;
  std::string_view name;
};

// The named command codes.
constexpr CommandName kCommands[] = {
    {0x00, "NOP"},
    {0x03, "CFA REQUEST EXTENDED ERROR"},
    {0x06, "DATA SET MANAGEMENT"},
    {0x08, "ATAPI Soft Reset / DEVICE RESET"},
    {0x0B, "REQUEST SENSE DATA EXT"},
    {0x20, "READ SECTORS"},
    {0x24, "READ SECTORS EXT"},
    {0x25, "READ DMA EXT"},
    {0x26, "READ DMA QUEUED EXT"},
    {0x29, "READ MULTIPLE EXT"},
    {0x2A, "READ STREAM DMA"},
    {0x2B, "READ STREAM"},
    {0x2F, "READ LOG EXT"},
    {0x30, "WRITE SECTORS"},
    {0x34, "WRITE SECTORS EXT"},
    {0x35, "WRITE DMA EXT"},
    {0x36, "WRITE DMA QUEUED EXT"},
    {0x38, "CFA WRITE SECTORS WITHOUT ERASE"},
    {0x39, "WRITE MULTIPLE EXT"},
    {0x3A, "WRITE STREAM DMA"},
    {0x3B, "WRITE STREAM"},
    {0x3D, "WRITE DMA FUA EXT"},
    {0x3F, "WRITE LOG EXT"},
    {0x40, "READ VERIFY SECTORS"},
    {0x42, "READ VERIFY SECTORS EXT"},
    {0x45, "WRITE UNCORRECTABLE EXT"},
    {0x47, "READ LOG DMA EXT"},
    {0x51, "CONFIGURE STREAM"},
    {0x57, "WRITE LOG DMA EXT"},
    {0x5B, "TRUSTED NON-DATA"},
    {0x5C, "TRUSTED RECEIVE"},
    {0x5D, "TRUSTED RECEIVE DMA"},
    {0x5E, "TRUSTED SEND"},
    {0x5F, "TRUSTED SEND DMA"},
    {0x60, "READ FPDMA QUEUED"},
    {0x61, "WRITE FPDMA QUEUED"},
    {0x63, "NCQ QUEUE MANAGEMENT"},
    {0x64, "SEND FPDMA QUEUED"},
    {0x65, "RECEIVE FPDMA QUEUED"},
    {0x77, "SET DATE & TIME EXT"},
    {0x78, "ACCESSIBLE MAX ADDRESS CONFIGURATION"},
    {0x90, "EXECUTE DEVICE DIAGNOSTICS"},
    {0x92, "DOWNLOAD MICROCODE"},
    {0x93, "DOWNLOAD MICROCODE DMA"},
    {0xA0, "PACKET"},
    {0xA1, "IDENTIFY PACKET DEVICE"},
    {0xB0, "SMART"},
    {0xB4, "Sanitize Device"},
    {0xC4, "READ MULTIPLE"},
    {0xC5, "WRITE MULTIPLE"},
    {0xC6, "SET MULTIPLE MODE"},
    {0xC8, "READ DMA"},
    {0xCA, "WRITE DMA"},
    {0xCD, "CFA WRITE MULTIPLE WITHOUT ERASE"},
    {0xCE, "WRITE MULTIPLE FUA EXT"},
    {0xE0, "STANDBY IMMEDIATE"},
    {0xE1, "IDLE IMMEDIATE"},
    {0xE2, "STANDBY"},
    {0xE3, "IDLE"},
    {0xE4, "READ BUFFER"},
    {0xE5, "CHECK POWER MODE"},
    {0xE6, "SLEEP"},
    {0xE7, "FLUSH CACHE"},
    {0xE8, "WRITE BUFFER"},
    {0xE9, "(WRITE SAME) READ BUFFER DMA"},
    {0xEA, "FLUSH CACHE EXT"},
    {0xEB, "WRITE BUFFER DMA"},
    {0xEC, "IDENTIFY DEVICE"},
    {0xEF, "SET FEATURES"},
    {0xF1, "SECURITY SET PASSWORD"},
    {0xF2, "SECURITY UNLOCK"},
    {0xF3, "SECURITY ERASE PREPARE"},
    {0xF4, "SECURITY ERASE UNIT"},
    {0xF5, "SECURITY FREEZE LOCK"},
    {0xF6, "SECURITY DISABLE PASSWORD"},
};

// Codes reserved to drive makers, as first-last ranges.
struct CodeRange {
  std::uint8_t first;
  std::uint8_t last;
};

constexpr CodeRange kVendorSpecificCommands[] = {
    {0x80, 0x8F}, {0x9A, 0x9A}, {0xC0, 0xC3}, {0xF0, 0xF0}, {0xF7, 0xF7}, {0xFA, 0xFF},
};

constexpr std::string_view kVendorSpecific = "(vendor specific)";

constexpr unsigned vendorSpecificCount() {
  unsigned n = 0;
  for (const auto& range : kVendorSpecificCommands) n += range.last - range.first + 1u;
  return n;
}
static_assert(std::size(kCommands) == 75 && vendorSpecificCount() == 29,
              "75 named and 29 vendor-specific codes leave 152 undefined");

// Every code's name at its index; "" where the code is undefined.
constexpr std::array<std::string_view, 256> kCommandByCode = [] {
  std::array<std::string_view, 256> names{};
  for (const auto& range : kVendorSpecificCommands) {
    for (unsigned c = range.first; c <= range.last; ++c) names[c] = kVendorSpecific;
  }
  for (const auto& row : kCommands) names[row.code] = row.name;
  return names;
}();

// A subcommand row: the feature values first to last share one name.
struct FeatureName {
  std::uint8_t first;
  std::uint8_t last;
  std::string_view name;
};

// TRUSTED RECEIVE/SEND (0x5C-0x5F), by security protocol.
constexpr FeatureName kSecurityProtocols[] = {
    {0x00, 0x00, "Return security protocol information"},
    {0x01, 0x06, "Reserved for TCG"},
    {0x20, 0x20, "Reserved for T10"},
    {0xEC, 0xEC, "JEDEC UFS RPMB"},
    {0xED, 0xED, "Defined by SDCard TrustedFlash Security Systems Specification 1.1.3"},
    {0xEE, 0xEE, "Defined by IEEE 1667"},
    {0xEF, 0xEF, "Reserved for T10"},
    {0xF0, 0xFF, "Vendor Specific"},
};

// NCQ QUEUE MANAGEMENT (0x63).
constexpr FeatureName kNcqQueueManagement[] = {
    {0x00, 0x00, "ABORT NCQ QUEUE"},
    {0x01, 0x01, "DEADLINE HANDLING"},
};

// ACCESSIBLE MAX ADDRESS CONFIGURATION (0x78).
constexpr FeatureName kAccessibleMaxAddress[] = {
    {0x00, 0x00, "GET NATIVE MAX ADDRESS EXT"},
    {0x01, 0x01, "SET ACCESSIBLE MAX ADDRESS EXT"},
    {0x02, 0x02, "FREEZE ACCESSIBLE MAX ADDRESS EXT"},
};

// DOWNLOAD MICROCODE and DOWNLOAD MICROCODE DMA (0x92, 0x93).
constexpr FeatureName kDownloadMicrocode[] = {
    {0x03, 0x03, "Save with offsets and activate"},
    {0x07, 0x07, "Save and activate"},
    {0x0E, 0x0E, "Save with offsets"},
    {0x0F, 0x0F, "activate"},
};

// SMART (0xB0).
constexpr FeatureName kSmart[] = {
    {0xD0, 0xD0, "SMART READ DATA"},
    {0xD2, 0xD2, "SMART ENABLE/DISABLE ATTRIBUTE AUTOSAVE"},
    {0xD4, 0xD4, "SMART EXECUTE OFF-LINE IMMEDIATE"},
    {0xD5, 0xD5, "SMART READ LOG"},
    {0xD6, 0xD6, "SMART WRITE LOG"},
    {0xD8, 0xD8, "SMART ENABLE OPERATIONS"},
    {0xD9, 0xD9, "SMART DISABLE OPERATIONS"},
    {0xDA, 0xDA, "SMART RETURN STATUS"},
    {0xE0, 0xFF, "vendor specific"},
};

// Sanitize Device (0xB4).
constexpr FeatureName kSanitize[] = {
    {0x00, 0x00, "SANITIZE STATUS EXT"},      {0x11, 0x11, "CRYPTO SCRAMBLE EXT"},
    {0x12, 0x12, "BLOCK ERASE EXT"},          {0x14, 0x14, "OVERWRITE EXT "},
    {0x20, 0x20, "SANITIZE FREEZE LOCK EXT"},
};

constexpr std::string_view kCfaOrObsolete =
    "If the device implements the CFA feature set, then this subcommand is reserved for CFA; "
    "otherwise, this subcommand is obsolete. ";

// SET FEATURES (0xEF).
constexpr FeatureName kSetFeatures[] = {
    {0x02, 0x02, "Enable volatile write cache"},
    {0x03, 0x03, "Set transfer mode"},
    {0x05, 0x05, "Enable the APM feature set"},
    {0x06, 0x06, "Enable the PUIS feature set"},
    {0x07, 0x07, "PUIS feature set device spin-up"},
    {0x09, 0x09, kCfaOrObsolete},
    {0x0B, 0x0B, "Enable Write-Read-Verify feature set"},
    {0x10, 0x10, "Enable use of SATA feature"},
    {0x41, 0x41, "Enable the Free-fall Control feature set"},
    {0x43, 0x43, "Set Maximum Host Interface Sector Times"},
    {0x4A, 0x4A, "Extended Power conditions"},
    {0x55, 0x55, "Disable read look-ahead feature"},
    {0x62, 0x62, "Long Physical Sector Alignment Error Reporting Control"},
    {0x63, 0x63, "Enable/Disable the DSN feature set"},
    {0x66, 0x66, "Disable reverting to power-on defaults"},
    {0x82, 0x82, "Disable volatile write cache"},
    {0x85, 0x85, "Disable the APM feature set"},
    {0x86, 0x86, "Disable the PUIS feature set"},
    {0x89, 0x89, kCfaOrObsolete},
    {0x8B, 0x8B, "Disable Write-Read-Verify feature set"},
    {0x90, 0x90, "Disable use of SATA feature"},
    {0xAA, 0xAA, "Enable read look-ahead feature"},
    {0xC1, 0xC1, "Disable the Free-fall Control feature set"},
    {0xC3, 0xC3, "Enable/Disable the Sense Data Reporting feature set"},
    {0xCC, 0xCC, "Enable reverting to power-on defaults"},
};

// Which subcommand table a command uses. TRUSTED NON-DATA (0x5B) has none.
struct SubcommandTable {
  std::uint8_t command;
  std::span<const FeatureName> features;
};

constexpr SubcommandTable kSubcommandTables[] = {
    {0x5C, kSecurityProtocols}, {0x5D, kSecurityProtocols},  {0x5E, kSecurityProtocols},
    {0x5F, kSecurityProtocols}, {0x63, kNcqQueueManagement}, {0x78, kAccessibleMaxAddress},
    {0x92, kDownloadMicrocode}, {0x93, kDownloadMicrocode},  {0xB0, kSmart},
    {0xB4, kSanitize},          {0xEF, kSetFeatures},
};

// Error register bits, least significant first.
constexpr std::string_view kErrorBits[8] = {
    "ILI/CCTO/MEDIA",       // 0x01
    "END OF MEDIA",         // 0x02
    "ABORT",                // 0x04
    "obsolete 0x08",        // 0x08
    "ID NOT FOUND",         // 0x10
    "obsolete 0x02",        // 0x20
    "UNCORRECTABLE ERROR",  // 0x40
    "INTERFACE CRC",        // 0x80
};

// Device states by bits 3-0. Rows that carry the value print the whole
// state byte after their word ("Reserved 35").
struct StateName {
  std::uint8_t first;
  std::uint8_t last;
  std::string_view name;
  bool withValue = false;
};

constexpr StateName kDeviceStates[] = {
    {0, 0, "Unknown"},
    {1, 1, "Sleep"},
    {2, 2, "Standby"},
    {3, 3, "Active/Idle"},
    {4, 4, "Executing SMART off-line or self-test"},
    {5, 10, "Reserved", true},
    {11, 15, "Vendor", true},
};

std::string hex2(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

std::string commandName(std::uint32_t command) {
  if (command <= 0xFF && !kCommandByCode[command].empty()) {
    return std::string(kCommandByCode[command]);
  }
  return "undefined " + hex2(command);
}

std::string subcommandName(std::uint32_t command, std::uint32_t feature) {
  for (const auto& table : kSubcommandTables) {
    if (table.command != command) continue;
    for (const auto& row : table.features) {
      if (feature >= row.first && feature <= row.last) return std::string(row.name);
    }
    return "";
  }
  return "";
}

std::string errorBitNames(std::uint32_t error) {
  std::string names;
  for (unsigned bit = 0; bit < 8; ++bit) {
    if (((error >> bit) & 1) == 0) continue;
    names += ' ';
    names += kErrorBits[bit];
  }
  return names.empty() ? "unknown" : names;
}

std::string statusText(std::uint32_t status) {
  return hex2(status);
}

std::string deviceStateName(std::uint32_t state) {
  const std::uint32_t row = state & 0x0F;
  for (const auto& s : kDeviceStates) {
    if (row < s.first || row > s.last) continue;
    return s.withValue ? std::string(s.name) + " " + hex2(state) : std::string(s.name);
  }
  return "";  // the rows cover 0 to 15
}

}  // namespace sentrel::ata
