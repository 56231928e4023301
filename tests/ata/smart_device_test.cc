// The ATA device against simulated drives: opening its access through the
// seam (retries, sleeps, logs, releases), and the refresh's verdict with
// Debian's drive database.
#include <gtest/gtest.h>

#include "sentrel/smart_device.h"
#include "support/debian_drivedb.h"
#include "support/machines.h"

namespace sentrel {
namespace {

using testing::ataBlock;
using testing::sataDisk;
using testing::TestMachine;

// The machine's journal, one call a line: ATA calls without their "ata.",
// sleeps with their length, log lines as their text.
std::string journal(const sim::Machine& m) {
  std::string out;
  for (const Dict& d : m.journal()) {
    std::string call = d.stringOr("call");
    if (call.starts_with("ata.")) call.erase(0, 4);
    if (call == "sleep") call += " " + std::to_string(*d.getInt("ms"));
    if (call == "nslog") call = d.stringOr("line");
    out += call + "\n";
  }
  return out;
}

TEST(OpenInterfaceTest, RetriesLogsAndReleasesAsTheStatusesSay) {
  using enum platform::Failure::Kind;
  const std::string fail = "KVSMARTDevice openInterface fail  retries: ";
  const std::string busy = "createPlugIn\nsleep 100\n";
  struct Case {
    const char* name;
    Array openStatuses;
    std::optional<const char*> queryStatus;
    std::string calls;
    platform::Failure::Kind failure;
    bool openTwice = false;  // the second opening releases the first access
  } cases[] = {
      {"opens at once", Array{"0"}, std::nullopt,
       "createPlugIn\nqueryInterface\nrelease\ndestroyPlugIn\ncreatePlugIn\nqueryInterface\n", none,
       true},
      {"busy twice then open", Array{"0xE00002BE", "0xE00002BE", "0"}, std::nullopt,
       busy + busy + "createPlugIn\nqueryInterface\n", none},
      {"unsupported every time", Array{"0xE00002C7"}, std::nullopt,
       busy + busy + busy + busy + busy + fail +
           "5 plugin: E00002C7  interface: FFFFFFFF  bsdname: disk0\n",
       unsupported},
      {"busy then general error", Array{"0xE00002BE", "0xE00002BC"}, std::nullopt,
       busy + "createPlugIn\n" + fail + "1 plugin: E00002BC  interface: FFFFFFFF  bsdname: disk0\n",
       io},
      {"no device", Array{"0xE00002C0"}, std::nullopt,
       "createPlugIn\n" + fail + "0 plugin: E00002C0  interface: FFFFFFFF  bsdname: disk0\n",
       noResponse},
      {"interface refused: the plug-in is destroyed", Array{"0"}, "0xE00002C2",
       "createPlugIn\nqueryInterface\ndestroyPlugIn\n" + fail +
           "0 plugin: 0  interface: E00002C2  bsdname: disk0\n",
       io},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    Dict disk = sataDisk("disk0");
    ataBlock(disk).set("openStatuses", c.openStatuses);
    if (c.queryStatus) ataBlock(disk).set("queryStatus", *c.queryStatus);
    TestMachine m{disk};
    auto device = KVSMARTDevice::deviceWithBSDName("disk0");
    ASSERT_TRUE(device);
    m->clearJournal();
    const bool opens = c.failure == none;
    EXPECT_TRUE(!c.openTwice || device->openInterface());
    EXPECT_EQ(device->openInterface(), opens);
    EXPECT_EQ(device->isOpen(), opens);
    EXPECT_EQ(journal(m.machine()), c.calls);
    EXPECT_EQ(device->failure() ? device->failure()->kind : none, c.failure);
    device->closeInterface();
    device->closeInterface();  // closed: nothing more happens
    EXPECT_EQ(m->calls("ata.release").size(), opens ? (c.openTwice ? 2u : 1u) : 0u);
  }
}

Dict diskWith(const std::vector<testing::AttributeSlot>& slots, bool exceeded = false) {
  Dict disk = sataDisk("disk0");
  ataBlock(disk).set("smartData", testing::sector(testing::smartDataSector(slots)));
  ataBlock(disk).set("thresholds", testing::sector(testing::thresholdsSector(slots)));
  ataBlock(disk).set("thresholdExceeded", exceeded);
  return disk;
}

TEST(RefreshTest, TheDrivesFlagAndTheAttributesMakeTheVerdict) {
  ASSERT_NE(testing::debianDatabase(), nullptr) << testing::kNoDebianDriveDb;
  struct Case {
    bool exceeded;
    std::uint64_t pending;
    const char* health;
    const char* attributeHealth;
    Color color;
  } cases[] = {
      {true, 0, "Failed", "Failed", Color::blue},
      {true, 1, "Failed", "Failed", Color::red},
      {false, 1, "Passed", "Warning", Color::red},
      {false, 0, "Passed", "Passed", Color::blue},
  };
  for (const Case& c : cases) {
    TestMachine m{diskWith({{.id = 197, .raw = c.pending},
                            {.id = 9, .raw = 4242},
                            {.id = 194, .current = 30, .raw = 36, .threshold = 40}},
                           c.exceeded)};
    KVSmartDeviceDatabase::installDriveDatabase(*testing::debianDatabase());
    auto device = KVSMARTDevice::deviceWithBSDName("disk0");
    auto props = device->updateProperties();
    ASSERT_TRUE(props);
    EXPECT_EQ(props->stringOr("Health"), c.health);
    EXPECT_EQ(props->stringOr("attributeHealth"), c.attributeHealth);
    EXPECT_EQ(*props->find("healthColor"), Value(c.color));
    EXPECT_EQ(props->stringOr("Model Family"), "Western Digital Blue");
    EXPECT_EQ(props->stringOr("powerOnHours"), "4242 (0 0 0)");  // the default preset
    EXPECT_EQ(*props->find("temperature"), Value(36u));
    EXPECT_FALSE(device->isOpen());
  }
}

TEST(RefreshTest, UnusableSmartDataGivesUnknownAndTheRestGoesOn) {
  Data revisionZero = testing::smartDataSector({{.id = 5, .raw = 1}}, 0);
  Data badChecksum = testing::smartDataSector({{.id = 5, .raw = 1}});
  badChecksum[511] ^= 1;
  for (const Value& smartData : {testing::sector(revisionZero), testing::sector(badChecksum)}) {
    Dict disk = sataDisk("disk0");
    ataBlock(disk).set("smartData", smartData);
    TestMachine m{disk};
    auto props = KVSMARTDevice::deviceWithBSDName("disk0")->updateProperties();
    ASSERT_TRUE(props);
    EXPECT_EQ(props->stringOr("attributeHealth"), "Unknown");
    EXPECT_FALSE(props->contains("vendorspecificAttributes"));
    EXPECT_EQ(m->calls("ata.readSmartLog").size(), 3u);  // the log readers still ran
  }
}

}  // namespace
}  // namespace sentrel
