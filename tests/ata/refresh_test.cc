#include <gtest/gtest.h>

#include "sentrel/drive_database.h"
#include "sentrel/smart_device.h"
#include "support/machines.h"

namespace sentrel {
namespace {

using testing::ataBlock;
using testing::AttributeSlot;
using testing::sataDisk;
using testing::sector;
using testing::TestMachine;

Dict diskWith(const std::vector<AttributeSlot>& slots, bool exceeded = false) {
  Dict disk = sataDisk("disk0");
  ataBlock(disk).set("smartData", sector(testing::smartDataSector(slots)));
  ataBlock(disk).set("thresholds", sector(testing::thresholdsSector(slots)));
  ataBlock(disk).set("thresholdExceeded", exceeded);
  return disk;
}

// A database whose default entry names attribute 3 "Spin Up Time".
void installDefaults() {
  DriveDatabase db;
  db.version = "test";
  DriveDatabaseEntry defaults;
  defaults.modelfamily = "DEFAULT";
  defaults.model = "-";
  defaults.firmware = "-";
  defaults.attribDict.push_back({"3", "raw48", "Spin Up Time"});
  defaults.attribDict.push_back({"9", "raw48", "Power On Hours"});
  DriveDatabaseEntry wd;
  wd.modelfamily = "Western Digital Blue";
  wd.model = "WDC WD10EZEX";
  wd.firmware = ".";
  db.drives = {defaults, wd};
  KVSmartDeviceDatabase::installDriveDatabase(std::move(db));
}

TEST(RefreshTest, VerdictTable) {
  struct Case {
    bool exceeded, flagged;
    const char* health;
    const char* attributeHealth;
    Color color;
  } cases[] = {
      {true, false, "Failed", "Failed", Color::blue},
      {true, true, "Failed", "Failed", Color::red},
      {false, true, "Passed", "Warning", Color::red},
      {false, false, "Passed", "Passed", Color::blue},
  };
  for (const Case& c : cases) {
    TestMachine m{diskWith({{.id = 5, .raw = c.flagged ? 3u : 0u, .threshold = 10},
                            {.id = 9, .raw = 4242},
                            {.id = 194, .current = 30, .raw = 36, .threshold = 40}},
                           c.exceeded)};
    installDefaults();
    auto device = KVSMARTDevice::deviceWithBSDName("disk0");
    auto props = device->updateProperties();
    ASSERT_TRUE(props);
    EXPECT_EQ(props.get(), device->driveProperties().get()) << "the device's own dictionary";
    EXPECT_EQ(props->stringOr("Health"), c.health);
    EXPECT_EQ(props->stringOr("attributeHealth"), c.attributeHealth);
    EXPECT_EQ(*props->find("healthColor"), Value(c.color));
    EXPECT_EQ(props->stringOr("Model Family"), "Western Digital Blue");
    EXPECT_EQ(props->stringOr("powerOnHours"), "4242");
    EXPECT_EQ(*props->find("temperature"), Value(36u));
    EXPECT_EQ(props->getArray("vendorspecificAttributes")->size(), 3u);
    EXPECT_FALSE(device->isOpen());
  }
}

TEST(RefreshTest, UnusableSmartDataGivesUnknownAndTheRestGoesOn) {
  Data revisionZero = testing::smartDataSector({{.id = 5}}, 0);
  Data badChecksum = testing::smartDataSector({{.id = 5}});
  badChecksum[511] ^= 1;
  for (const Value& smartData :
       {sector(revisionZero), sector(badChecksum), Value(Dict{{"status", 5}})}) {
    Dict disk = sataDisk("disk0");
    ataBlock(disk).set("smartData", smartData);
    TestMachine m{disk};
    auto device = KVSMARTDevice::deviceWithBSDName("disk0");
    auto props = device->updateProperties();
    ASSERT_TRUE(props);
    EXPECT_EQ(props->stringOr("attributeHealth"), "Unknown");
    EXPECT_EQ(props->stringOr("health"), "Unknown");
    EXPECT_FALSE(props->contains("Health"));
    EXPECT_FALSE(props->contains("vendorspecificAttributes"));
    // The readers after the attribute table still ran.
    EXPECT_EQ(m->calls("ata.readSmartLog").size(), 3u);
  }
}

TEST(RefreshTest, ReadersRunInOrderInsideOneOpening) {
  TestMachine m{diskWith({{.id = 9, .raw = 1}})};
  auto device = KVSMARTDevice::deviceWithBSDName("disk0");
  m->clearJournal();
  ASSERT_TRUE(device->updateProperties());
  std::vector<std::string> calls;
  for (const Dict& d : m->journal()) {
    std::string call = d.stringOr("call");
    if (call == "ata.readSmartLog") call += " " + std::to_string(*d.getInt("address"));
    calls.push_back(call);
  }
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(calls[0], "ata.createPlugIn");
  EXPECT_EQ(calls[1], "ata.queryInterface");
  EXPECT_EQ(calls[2], "ata.enableOperations");
  EXPECT_EQ(calls[3], "ata.readIdentify");
  EXPECT_EQ(calls.back(), "ata.destroyPlugIn");
  EXPECT_EQ(calls[calls.size() - 2], "ata.release");
  // The logs come after the attribute table, in the order 6, 0, 1.
  auto at = [&](const std::string& c) {
    return std::find(calls.begin(), calls.end(), c) - calls.begin();
  };
  EXPECT_LT(at("ata.readSmartThresholds"), at("ata.readSmartLog 6"));
  EXPECT_LT(at("ata.readSmartLog 6"), at("ata.readSmartLog 0"));
  EXPECT_LT(at("ata.readSmartLog 0"), at("ata.readSmartLog 1"));
}

TEST(RefreshTest, RefusedSmartEnableClosesAndAnswersNothing) {
  Dict disk = diskWith({{.id = 9}});
  ataBlock(disk).set("enableStatus", "0xE00002BC");
  TestMachine m{disk};
  auto device = KVSMARTDevice::deviceWithBSDName("disk0");
  m->clearJournal();
  EXPECT_FALSE(device->updateProperties());
  std::vector<std::string> calls;
  for (const Dict& d : m->journal()) calls.push_back(d.stringOr("call"));
  EXPECT_EQ(calls,
            (std::vector<std::string>{"ata.createPlugIn", "ata.queryInterface",
                                      "ata.enableOperations", "ata.release", "ata.destroyPlugIn"}));
  EXPECT_FALSE(device->driveProperties()->contains("attributeHealth"));
}

TEST(RefreshTest, UnopenableAccessAnswersNothing) {
  Dict disk = diskWith({{.id = 9}});
  ataBlock(disk).set("openStatuses", Array{"0xE00002BC"});
  TestMachine m{disk};
  EXPECT_FALSE(KVSMARTDevice::deviceWithBSDName("disk0")->updateProperties());
}

TEST(RefreshTest, GenericDriveTypeBecomesHddWhenAnAttributeNamesRotation) {
  struct Case {
    const char* driveType;
    const char* after;
  } cases[] = {{"Generic", "HDD"}, {"Generic ", "Generic "}, {"SSD ", "SSD "}};
  for (const Case& c : cases) {
    TestMachine m{diskWith({{.id = 3, .raw = 0}})};
    installDefaults();
    auto record = KVSMARTDevice::settingsForBSDName("disk0");
    ASSERT_TRUE(record);
    record->set("Drive Type", c.driveType);
    auto device = KVSMARTDevice::deviceWithSetting(*record);
    auto props = device->updateProperties();
    ASSERT_TRUE(props);
    EXPECT_EQ(props->stringOr("Drive Type"), c.after) << c.driveType;
  }
}

}  // namespace
}  // namespace sentrel
