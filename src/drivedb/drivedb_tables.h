// The constant tables of the drive database: attribute presets for short
// "-v" options, the abbreviations written out in attribute names, and the
// firmware bugs a "-F" option can name.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "sentrel/value.h"

namespace sentrel::drivedb {

// A preset row: the format and display name that a two-field "-v" option
// gets when its format (or "increasing_" and the id) is the key.
struct PresetRow {
  std::string_view key;
  std::string_view fmt;
  std::string_view name;
};

inline constexpr std::array<PresetRow, 13> kAttributePresets{{
    // "\xE2\x84\x83" is U+2103 DEGREE CELSIUS in UTF-8.
    {"10xCelsius", "temp10x", "Temperature \xE2\x84\x83 x10"},
    {"detectedtacount", "raw48", "Detected TA Count"},
    {"emergencyretractcyclect", "raw48", "Emergency Retract Cycle Count"},
    {"halfminutes", "halfmin2hour", "Power On Half Minutes"},
    {"increasing_197", "raw48", "Total Pending Sectors"},
    {"increasing_198", "raw48", "Total Offline Uncorrectable"},
    {"loadunload", "raw24/raw24", ""},
    {"minutes", "min2hour", "Power On Minutes"},
    {"offlinescanuncsectorct", "raw48", "Offline Scan UNC Sector Count"},
    {"seconds", "sec2hour", "Power On Seconds"},
    // The trailing space goes when names are expanded and trimmed.
    {"temp", "tempminmax", "Temperature \xE2\x84\x83 "},
    {"unknown", "raw48", "Unknown Attribute"},
    {"writeerrorcount", "raw48", "Write Error Count"},
}};

// The row for a preset key; null when the table has none.
const PresetRow* findPresetRow(std::string_view key);

struct ExpansionRow {
  std::string_view pattern;
  std::string_view replacement;
};

// Applied in this order, each on the result of the one before. Leading and
// trailing spaces are part of the patterns: they stand for word edges, and a
// name is given two trailing spaces before expansion so its last word has one.
inline constexpr std::array<ExpansionRow, 45> kNameExpansions{{
    {"Adaptv ", "Adaptive "},
    {" Attr ", " Attribute "},
    {" Avail ", " Available "},
    {"Ave ", "Average "},
    {"Avg ", "Average "},
    {"Bckgnd ", "Background "},
    {" Blk ", " Block "},
    {" Cel ", " Celsius "},
    {" Cnt ", " Count "},
    {" Corr ", " Correction "},
    {" Ct ", " Count "},
    {"Cumulativ ", "Cumulative "},
    {" Err ", " Error "},
    {" Errs ", " Errors "},
    {" Indic ", " Indicator "},
    {" Iface ", " Interface "},
    {" Interfac ", " Interface "},
    {"Max ", "Maximum "},
    {"MaxAvgErase ", "Maximum Average Erase "},
    {"Min ", "Minimum "},
    {"Non4k ", "Non-4k "},
    {"Perc ", "Percentage "},
    {" Performnce ", " Performance "},
    {" Pfail ", " Pre-fail "},
    {" Phy ", " Physical "},
    {" Prog ", " Progress "},
    {"Pwr ", "Power "},
    {" Rd ", " Read "},
    {" RdWr ", " Read/Write "},
    {" Reades ", " Reads "},
    {" Recov ", " Recover "},
    {" Recoverty ", " Recovery "},
    {" Reservd ", " Reserved "},
    {" Resrvd ", " Reserved "},
    {" Rsvd ", " Reserved "},
    {" Rtry ", " Retry "},
    {"Snmple ", "Simple "},
    {" Storg ", " Storage "},
    {" Tot ", " Total "},
    // No leading space in the pattern, one in the replacement: inside a name
    // the space before the word is doubled, at its start it is trimmed away.
    {"Unc ", " Uncorrectable "},
    {" Uncorr ", " Uncorrectable "},
    {" Uncorrect ", " Uncorrectable "},
    {"Unexpect ", "Unexpected "},
    {"Unknown Apple Attrib", "Unknown Apple Attribute"},
    {"Workld ", "Workload "},
}};

struct FirmwareBugRow {
  std::string_view name;
  std::string_view description;
};

inline constexpr std::array<FirmwareBugRow, 5> kFirmwareBugs{{
    {"nologdir", "Avoids reading GP/SMART Log Directories"},
    {"samsung", "Fixes byte order in some SMART data"},
    {"samsung2", "Fixes byte order in some SMART data"},
    {"samsung3", "Fixes completed-selftest reported as in-progress"},
    {"xerrorlba", "Fixes LBA byte ordering in Ext. Comprehensive SMART error log"},
}};

// The description of a firmware bug name; empty for a name not in the table.
std::optional<std::string_view> firmwareBugDescription(std::string_view name);

// An entry's warning as it is shown: the system font at 11 points, in red
// (an entry without a warning has an empty text with the same look).
StyledText warningText(std::string text);

}  // namespace sentrel::drivedb
