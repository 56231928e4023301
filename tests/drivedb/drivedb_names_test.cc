// Attribute name expansion and the version text, each a table of cases.
#include <gtest/gtest.h>

#include "sentrel/drivedb_parser.h"

namespace sentrel {
namespace {

struct TextCase {
  const char* input;
  const char* expected;
};

std::ostream& operator<<(std::ostream& os, const TextCase& c) {
  return os << '"' << c.input << "\" -> \"" << c.expected << '"';
}

class DriveDbNameExpansionTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(DriveDbNameExpansionTest, Expands) {
  EXPECT_EQ(expandAttributeName(GetParam().input), GetParam().expected);
}

// One case per row of the expansion table, in table order.
INSTANTIATE_TEST_SUITE_P(
    EveryRow, DriveDbNameExpansionTest,
    ::testing::Values(
        TextCase{"Adaptv Cache", "Adaptive Cache"}, TextCase{"Unknown Attr", "Unknown Attribute"},
        TextCase{"Blocks Avail", "Blocks Available"}, TextCase{"Ave Erase", "Average Erase"},
        TextCase{"Avg Temp", "Average Temp"}, TextCase{"Bckgnd Scan", "Background Scan"},
        TextCase{"Bad Blk", "Bad Block"}, TextCase{"Temperature Cel", "Temperature Celsius"},
        TextCase{"Erase Cnt", "Erase Count"}, TextCase{"ECC Corr Rate", "ECC Correction Rate"},
        TextCase{"Reallocated Sector Ct", "Reallocated Sector Count"},
        TextCase{"Cumulativ Writes", "Cumulative Writes"},
        TextCase{"Host Err Rate", "Host Error Rate"}, TextCase{"Program Errs", "Program Errors"},
        TextCase{"Wear Indic", "Wear Indicator"},
        TextCase{"SATA Iface Downshift", "SATA Interface Downshift"},
        TextCase{"SATA Interfac Downshift", "SATA Interface Downshift"},
        TextCase{"Max Temp", "Maximum Temp"},
        TextCase{"MaxAvgErase Count", "Maximum Average Erase Count"},
        TextCase{"Min Erase", "Minimum Erase"},
        TextCase{"Non4k Aligned Access", "Non-4k Aligned Access"},
        TextCase{"Perc Lifetime Remain", "Percentage Lifetime Remain"},
        TextCase{"Offline Seek Performnce", "Offline Seek Performance"},
        TextCase{"Raw Pfail Count", "Raw Pre-fail Count"},
        TextCase{"SATA Phy Error", "SATA Physical Error"},
        TextCase{"Block Prog Fail", "Block Progress Fail"}, TextCase{"Pwr Cycle", "Power Cycle"},
        TextCase{"Host Rd Count", "Host Read Count"},
        TextCase{"Host RdWr Count", "Host Read/Write Count"}, TextCase{"Host Reades", "Host Reads"},
        TextCase{"ECC Recov", "ECC Recover"}, TextCase{"Error Recoverty", "Error Recovery"},
        TextCase{"Used Reservd Blocks", "Used Reserved Blocks"},
        TextCase{"Used Resrvd Blocks", "Used Reserved Blocks"},
        TextCase{"Used Rsvd Blocks", "Used Reserved Blocks"},
        TextCase{"Read Rtry Rate", "Read Retry Rate"}, TextCase{"Snmple Check", "Simple Check"},
        TextCase{"Host Storg Used", "Host Storage Used"},
        TextCase{"Erase Fail Tot", "Erase Fail Total"},
        TextCase{"Unc Sectors", "Uncorrectable Sectors"},
        TextCase{"Reported Uncorr", "Reported Uncorrectable"},
        TextCase{"Reported Uncorrect", "Reported Uncorrectable"},
        TextCase{"Unexpect Power Loss", "Unexpected Power Loss"},
        TextCase{"Unknown Apple Attrib 5", "Unknown Apple Attribute 5"},
        TextCase{"Workld Media Wear", "Workload Media Wear"}));

INSTANTIATE_TEST_SUITE_P(Interplay, DriveDbNameExpansionTest,
                         ::testing::Values(
                             // Row 11 writes out "Ct" first, then row 19 matches.
                             TextCase{"MaxAvgErase Ct", "Maximum Average Erase Count"},
                             // Row 40 doubles the space before the word inside a name.
                             TextCase{"Total Unc Err", "Total  Uncorrectable Error"},
                             // A leading-space pattern never matches the first word.
                             TextCase{"Ct Total", "Ct Total"},
                             // A pattern without a leading space matches the end of a longer word.
                             TextCase{"XMax Temp", "XMaximum Temp"},
                             // Row 44 has no word edges and matches inside an already whole word.
                             TextCase{"Unknown Apple Attribute", "Unknown Apple Attributeute"},
                             // Several rows in one name, each replacing every occurrence.
                             TextCase{"Used Rsvd Blk Cnt Tot", "Used Reserved Block Count Total"},
                             // Neighbours share their space: after one match the next cannot start.
                             TextCase{"Err Err Err", "Err Error Err"},
                             // The trailing space of the "temp" preset goes with the final trim.
                             TextCase{"Temperature \xE2\x84\x83 ", "Temperature \xE2\x84\x83"},
                             TextCase{"  Padded\t", "Padded"}, TextCase{"", ""}));

class DriveDbVersionTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(DriveDbVersionTest, ReadsTheVersion) {
  EXPECT_EQ(driveDatabaseVersion(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, DriveDbVersionTest,
    ::testing::Values(
        TextCase{"", "version unavailable"},
        TextCase{"$Id: drivedb.h 1234 2024-06-30 10:00:00Z editor $", "2024-06-30 (Revision 1234)"},
        // Fewer than four space-separated fields: the text itself.
        TextCase{"$Id: drivedb.h 1234", "$Id: drivedb.h 1234"},
        // Single spaces separate, so a double space makes an empty field.
        TextCase{"$Id:  drivedb.h 1234 2024", "1234 (Revision drivedb.h)"},
        TextCase{"VERSION: 7.5/1234 2024-06-30 10:00:00 $Id: drivedb.h 1234 2024-06-30 "
                 "10:00:00Z editor $",
                 "2024-06-30 (Revision 1234)"},
        TextCase{"VERSION: 7.5", "VERSION: 7.5"},
        // Debian's 7.3 file: the third word is the "$Id:" of the old form.
        TextCase{"VERSION: 7.3 $Id: drivedb.h 5319 2022-02-19 17:48:34Z chrfranke $",
                 "$Id: (Revision 7.3)"},
        // Runs of blanks, tabs and Unicode spaces all separate.
        TextCase{"VERSION:  7.5/1234\t\t2024-06-30", "2024-06-30 (Revision 1234)"},
        TextCase{"VERSION:\xC2\xA0"
                 "7.5/1234\xE2\x80\x83"
                 "2024-06-30",
                 "2024-06-30 (Revision 1234)"},
        // Line breaks do not separate.
        TextCase{"VERSION: 7.5\n2024-06-30", "VERSION: 7.5\n2024-06-30"},
        // Nothing after the slash keeps the whole revision; only the first slash counts.
        TextCase{"VERSION: 7.5/ 2024-06-30", "2024-06-30 (Revision 7.5/)"},
        TextCase{"VERSION: 7.5/12/34 2024-06-30", "2024-06-30 (Revision 12/34)"},
        TextCase{"Version information", "Version information"}, TextCase{"DEFAULT", "DEFAULT"}));

}  // namespace
}  // namespace sentrel
