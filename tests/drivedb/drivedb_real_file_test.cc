// The real smartmontools database that Debian ships (package smartmontools,
// version 7.3), and the copy the build puts among the host's resources.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "drivedb/drive_search.h"
#include "fake_machine.h"
#include "sentrel/drive_database.h"
#include "sentrel/drivedb_parser.h"
#include "support/debian_drivedb.h"

namespace sentrel {
namespace {

using testing::debianText;
using testing::kDebianDriveDb;

class DriveDatabaseRealFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(debianText().empty())
        << kDebianDriveDb << " is missing: install smartmontools (apt-get install smartmontools)";
    ASSERT_TRUE(debianText().find("$Id: drivedb.h 5319 ") != std::string::npos)
        << kDebianDriveDb << " is not the 7.3 file these expectations are written for";
  }
  static const DriveDatabase& db() {
    static const DriveDatabase parsed = parseDriveDatabase(debianText()).value_or(DriveDatabase{});
    return parsed;
  }
};

TEST_F(DriveDatabaseRealFileTest, VersionAndEntryCount) {
  // The family text is "VERSION: 7.3 $Id: drivedb.h 5319 2022-02-19 ...": its
  // second word is the revision and its third, "$Id:", takes the date's place.
  EXPECT_EQ(db().version, "$Id: (Revision 7.3)");
  // 740 entries in the file, less the version entry.
  EXPECT_EQ(db().drives.size(), 739u);
  // The field trim set takes the trailing space of "USB: ; ".
  EXPECT_EQ(db().drives.back().modelfamily, "USB: ;");
  EXPECT_EQ(db().drives.back().model, "0xabcd:0x610[34]");
}

TEST_F(DriveDatabaseRealFileTest, DefaultEntryPresets) {
  const DriveDatabaseEntry& defaults = db().drives.front();
  EXPECT_EQ(defaults.modelfamily, "DEFAULT");
  EXPECT_EQ(defaults.model, "-");
  EXPECT_EQ(defaults.firmware, "-");
  EXPECT_EQ(defaults.warning.text, "Default settings");
  EXPECT_EQ(defaults.attributes.size(), 64u);
  EXPECT_EQ(defaults.attribDict.size(), 64u);
  struct Expected {
    const char* id;
    const char* fmt;
    const char* name;
  };
  for (const Expected& e : {Expected{"1", "raw48", "Raw Read Error Rate"},
                            Expected{"5", "raw16(raw16)", "Reallocated Sector Count"},
                            Expected{"9", "raw24(raw8)", "Power On Hours"},
                            Expected{"178", "raw48", "Used Reserved Block Count Chip"},
                            Expected{"187", "raw48", "Reported Uncorrectable"},
                            Expected{"190", "tempminmax", "Airflow Temperature Celsius"},
                            Expected{"194", "tempminmax", "Temperature Celsius"},
                            Expected{"202", "raw48", "Data Address Mark Errors"},
                            Expected{"209", "raw48", "Offline Seek Performance"},
                            Expected{"254", "raw48", "Free Fall Sensor"}}) {
    const AttributePreset* p = defaults.preset(e.id);
    ASSERT_NE(p, nullptr) << e.id;
    EXPECT_EQ(*p, (AttributePreset{e.id, e.fmt, e.name}));
  }
  EXPECT_EQ(defaults.preset("14"), nullptr);  // commented "Unknown_Attribute" ranges
  EXPECT_EQ(defaults.firmwarebug, "");
}

TEST_F(DriveDatabaseRealFileTest, LookupsOfRealModels) {
  drivedb::SearchableDatabase searchable(db());
  struct Case {
    const char* model;
    const char* firmware;
    const char* family;
  };
  // The families smartctl -P showall names for the same models.
  for (const Case& c : {
           Case{"Samsung SSD 850 EVO 500GB", "EMT02B6Q", "Samsung based SSDs"},
           Case{"ST2000DM001-1CH164", "CC26", "Seagate Barracuda 7200.14 (AF)"},
           Case{"WDC WD10EZEX-00BN5A0", "01.01A01", "Western Digital Blue"},
           Case{"INTEL SSDSC2BB080G4", "D2010370", "Intel 730 and DC S35x0/3610/3700 Series SSDs"},
           Case{"APPLE SSD SM0256F", "UXM2JA1Q", "Apple SD/SM/TS...E/F/G SSDs"},
           Case{"Crucial_CT500MX200SSD1", "MU03", "Crucial/Micron Client SSDs"},
           // Only warnings lose the backslash of an escaped quote.
           Case{"TOSHIBA MQ01ABD100", "AX001U", "Toshiba 2.5\\\" HDD MQ01ABD..."},
           // Found anywhere: a hyphen in model and firmware meets the defaults' "-".
           Case{"ST2000DM001-1CH164", "CC-26", "DEFAULT"},
           Case{"NO SUCH DRIVE", "1.0", ""},
       }) {
    const DriveDatabaseEntry* found = searchable.lookup(c.model, c.firmware);
    EXPECT_EQ(found ? found->modelfamily : "", c.family) << c.model;
  }
}

TEST_F(DriveDatabaseRealFileTest, CachedLookupAgreesWithCompilingEachTime) {
  drivedb::SearchableDatabase searchable(db());
  // Every entry's model pattern text as a model string exercises many entries.
  std::size_t step = 7;
  for (std::size_t i = 0; i < db().drives.size(); i += step) {
    const std::string& model = db().drives[i].model;
    const DriveDatabaseEntry* cached = searchable.lookup(model, "1");
    const DriveDatabaseEntry* fresh = drivedb::lookupCompilingEachTime(db(), model, "1");
    const std::ptrdiff_t cachedIndex = cached ? cached - searchable.database().drives.data() : -1;
    const std::ptrdiff_t freshIndex = fresh ? fresh - db().drives.data() : -1;
    EXPECT_EQ(cachedIndex, freshIndex) << model;
  }
}

TEST_F(DriveDatabaseRealFileTest, TruncatedCopiesNeverCrash) {
  const std::string& text = debianText();
  for (std::size_t cut = 0; cut < text.size(); cut += text.size() / 37 + 1) {
    std::optional<DriveDatabase> part = parseDriveDatabase(std::string_view(text).substr(0, cut));
    if (part) {
      EXPECT_LE(part->drives.size(), db().drives.size());
    }
  }
}

TEST_F(DriveDatabaseRealFileTest, HostResourceCopyIsUsedWithoutAStoredFile) {
  // The build copies the file to <build>/resources/driveDatabase/drivedb.h.
  drivedb_testing::FakeMachine machine("TestHost", /*realFiles=*/true, SENTREL_RESOURCE_DIR);
  ASSERT_TRUE(KVSmartDeviceDatabase::unpackDriveDBFile())
      << "no drivedb.h under " << SENTREL_RESOURCE_DIR << "/driveDatabase";
  auto installed = KVSmartDeviceDatabase::driveDatabase();
  ASSERT_NE(installed, nullptr);
  EXPECT_EQ(*installed, db());
  auto found = KVSmartDeviceDatabase::lookupDriveModel("WDC WD10EZEX-00BN5A0", "01.01A01");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->modelfamily, "Western Digital Blue");
}

}  // namespace
}  // namespace sentrel
