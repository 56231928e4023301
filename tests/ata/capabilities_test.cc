#include "ata/capabilities.h"

#include <gtest/gtest.h>

#include <vector>

#include "ata/sector_builder.h"
#include "sentrel/smart_device.h"
#include "support/machines.h"

namespace sentrel::ata {
namespace {

using testing::SectorBuilder;

// A SMART data sector with only the capability area filled.
SectorBuilder dataSector(std::uint8_t offline, std::uint8_t selfTest, std::uint8_t offlineCaps = 0,
                         std::uint16_t smartCaps = 0) {
  SectorBuilder s;
  s.put8(362, offline).put8(363, selfTest).put8(367, offlineCaps).put16(368, smartCaps);
  return s;
}

TEST(OfflineCollectionStatusTest, WholeByteWithAutoBitKeptApart) {
  struct {
    std::uint8_t byte;
    const char* name;
    bool automatic;
  } cases[] = {
      {0x00, "never started", false},   {0x80, "never started", true},
      {0x02, "completed", false},       {0x82, "completed", true},
      {0x03, "in progress", false},     {0x84, "suspended by host", true},
      {0x05, "aborted by host", false}, {0x86, "aborted by device", true},
      {0x01, "reserved", false},        {0x81, "reserved", true},
      {0x07, "reserved", false},        {0x7F, "reserved", false},
      {0x87, "reserved", true},         {0xFF, "reserved", true},
  };
  for (const auto& c : cases) {
    Dict caps = decodeCapabilities(dataSector(c.byte, 0).view());
    EXPECT_EQ(caps.stringOr("Offline data collection status"), c.name) << int{c.byte};
    EXPECT_EQ(caps.getBool("Auto Offline Data Collection Status"), c.automatic) << int{c.byte};
  }
  int reserved = 0;
  for (unsigned b = 0; b <= 0xFF; ++b) {
    reserved += offlineCollectionStatusName(static_cast<std::uint8_t>(b)) == "reserved";
  }
  EXPECT_EQ(reserved, 256 - 12);
}

TEST(SelfTestStatusTest, NameAndPercentWithTheEightBitWrap) {
  struct {
    std::uint8_t byte;
    const char* status;
    unsigned progress;
  } cases[] = {
      {0x00, "Pass 100%", 100},
      {0xF3, "Test In Progress 70%", 70},
      {0x25, "Interrupted By Reset 50%", 50},
      {0x29, "Interrupted By Reset 10%", 10},
      {0x9A, "Unknown 0%", 0},
      {0x1A, "Aborted 0%", 0},
      {0x87, "Handling Damage 30%", 30},
      {0x60, "Servo/Seek Failure 100%", 100},
      {0xE0, "Unknown 100%", 100},
      {0x0B, "Pass 246%", 246},
      {0x0C, "Pass 236%", 236},
      {0x7F, "Read Failure 206%", 206},
  };
  for (const auto& c : cases) {
    Dict caps = decodeCapabilities(dataSector(0, c.byte).view());
    EXPECT_EQ(caps.stringOr("Self-test status"), c.status) << int{c.byte};
    const Value* progress = caps.find("Self-test progress");
    ASSERT_TRUE(progress && progress->ifUInt()) << int{c.byte};
    EXPECT_EQ(*progress->ifUInt(), c.progress) << int{c.byte};
  }
}

TEST(CapabilitiesTest, EveryFlagComesFromItsOwnBit) {
  struct {
    const char* key;
    std::uint8_t offlineCaps;
    std::uint16_t smartCaps;
  } cases[] = {
      {"SMART execute Offline immediate", 0x01, 0},
      {"Auto Offline data collection", 0x02, 0},
      {"Abort Offline collection upon command", 0x04, 0},
      {"Offline read scanning", 0x08, 0},
      {"Self-test", 0x10, 0},
      {"Conveyance Self-test", 0x20, 0},
      {"Selective Self-test", 0x40, 0},
      {"Save data before power-saving mode", 0, 0x0001},
      {"Autosave", 0, 0x0002},
  };
  for (const auto& c : cases) {
    Dict caps = decodeCapabilities(dataSector(0, 0, c.offlineCaps, c.smartCaps).view());
    for (const auto& other : cases) {
      EXPECT_EQ(caps.getBool(other.key), std::string_view(other.key) == c.key)
          << c.key << " set, reading " << other.key;
    }
  }
  // Bit 7 of byte 367 and the upper capability bits name nothing.
  Dict none = decodeCapabilities(dataSector(0, 0, 0x80, 0xFFFC).view());
  for (const auto& c : cases) EXPECT_EQ(none.getBool(c.key), false) << c.key;
}

TEST(CapabilitiesTest, KeysKindsAndOrder) {
  SectorBuilder s = dataSector(0x82, 0xF3, 0x5B, 0x0003);
  s.put16(364, 44280).put8(372, 2).put8(373, 85).put8(374, 5);
  Dict caps = decodeCapabilities(s.view());
  std::vector<std::string> keys;
  for (const auto& e : caps) keys.push_back(e.key);
  EXPECT_EQ(keys,
            (std::vector<std::string>{
                "Offline data collection status", "Auto Offline Data Collection Status",
                "Self-test status", "Self-test progress", "Offline data collection time",
                "SMART execute Offline immediate", "Auto Offline data collection",
                "Abort Offline collection upon command", "Offline read scanning", "Self-test",
                "Conveyance Self-test", "Selective Self-test", "Save data before power-saving mode",
                "Autosave", "Extended self-test polling time", "Short self-test polling time",
                "Conveyance self-test polling time"}));
  EXPECT_EQ(caps.find("Offline data collection time")->kind(), Value::Kind::unsignedInteger);
  EXPECT_EQ(*caps.find("Offline data collection time")->ifUInt(), 44280u);
  EXPECT_EQ(*caps.find("Short self-test polling time")->ifUInt(), 2u);
  EXPECT_EQ(*caps.find("Extended self-test polling time")->ifUInt(), 85u);
  EXPECT_EQ(*caps.find("Conveyance self-test polling time")->ifUInt(), 5u);
}

TEST(CapabilitiesTest, ExtendedPollingTimeMovesToTheWordAt255) {
  struct {
    std::uint8_t byte;
    std::uint16_t word;
    unsigned minutes;
  } cases[] = {
      {255, 0x01A4, 420}, {254, 0x01A4, 254},  // below 255 the word is not read
      {255, 0, 0},        {255, 0xFFFF, 65535}, {0, 0x01A4, 0},
  };
  for (const auto& c : cases) {
    SectorBuilder s;
    s.put8(373, c.byte).put16(375, c.word);
    Dict caps = decodeCapabilities(s.view());
    EXPECT_EQ(caps.find("Extended self-test polling time")->toUInt(), c.minutes) << int{c.byte};
  }
}

std::vector<std::string> testNames(const Array& tests) {
  std::vector<std::string> names;
  for (const Value& t : tests) names.push_back(t.ifDict()->stringOr("name"));
  return names;
}

TEST(SelfTestListTest, TheOfferedTestsInTheirFixedOrder) {
  struct {
    std::uint8_t offlineCaps;
    std::vector<std::string> names;
  } cases[] = {
      {0x00, {}},
      {0x10, {"Short", "Extended"}},
      {0x20, {"Conveyance"}},
      {0x40, {"Selective"}},
      {0x50, {"Short", "Extended", "Selective"}},
      {0x7F, {"Short", "Extended", "Conveyance", "Selective"}},
  };
  for (const auto& c : cases) {
    Dict caps = decodeCapabilities(dataSector(0, 0, c.offlineCaps).view());
    EXPECT_EQ(testNames(selfTestList(caps)), c.names) << int{c.offlineCaps};
  }
}

TEST(SelfTestListTest, DurationsAsHoursAndMinutes) {
  struct {
    std::uint8_t shortMinutes;
    std::uint8_t extendedByte;
    std::uint16_t extendedWord;
    std::uint8_t conveyanceMinutes;
    const char* shortText;
    const char* extendedText;
    const char* conveyanceText;
  } cases[] = {
      {2, 85, 0, 5, "Short Test  00:02", "Extended Test  01:25", "Conveyance Test  00:05"},
      {90, 255, 0x01A4, 0, "Short Test  01:30", "Extended Test  07:00", "Conveyance Test  00:00"},
      {0, 255, 0xFFFF, 255, "Short Test  00:00", "Extended Test  1092:15",
       "Conveyance Test  04:15"},
  };
  for (const auto& c : cases) {
    SectorBuilder s = dataSector(0, 0, 0x70);
    s.put8(372, c.shortMinutes).put8(373, c.extendedByte).put16(375, c.extendedWord);
    s.put8(374, c.conveyanceMinutes);
    Dict caps = decodeCapabilities(s.view());
    Array tests = selfTestList(caps);
    ASSERT_EQ(tests.size(), 4u);
    EXPECT_EQ(tests[0].ifDict()->stringOr("nameWithTime"), c.shortText);
    EXPECT_EQ(tests[1].ifDict()->stringOr("nameWithTime"), c.extendedText);
    EXPECT_EQ(tests[2].ifDict()->stringOr("nameWithTime"), c.conveyanceText);
    EXPECT_EQ(*tests[0].ifDict()->find("pollingTime"), *caps.find("Short self-test polling time"));
    EXPECT_EQ(*tests[1].ifDict()->find("pollingTime"),
              *caps.find("Extended self-test polling time"));
    EXPECT_EQ(tests[3].ifDict()->stringOr("nameWithTime"), "Selective Test (time indefinite)");
    EXPECT_EQ(*tests[3].ifDict()->find("pollingTime"), Value(0));
  }
}

TEST(SelfTestListTest, WithoutCapabilitiesNothingIsOffered) {
  EXPECT_TRUE(selfTestList(Dict{}).empty());
  // A flag of another kind is not a true flag.
  EXPECT_TRUE(selfTestList(Dict{{"Self-test", 1}}).empty());
}

TEST(CapabilityPairsTest, SixteenPairsInListOrder) {
  Dict caps = decodeCapabilities(dataSector(0x82, 0, 0x7B, 0x0003).view());
  Array pairs = capabilityPairs(caps);
  ASSERT_EQ(pairs.size(), 16u);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const Dict& p = *pairs[i].ifDict();
    EXPECT_EQ(p.stringOr("name"), kCapabilityNames[i]);
    if (i < 10) {
      EXPECT_EQ(*p.find("value"), *caps.find(kCapabilityNames[i])) << kCapabilityNames[i];
    } else {
      EXPECT_EQ(*p.find("value"), Value("")) << kCapabilityNames[i];
    }
  }
  EXPECT_EQ(*pairs[0].ifDict()->find("value"), Value(true));   // auto offline, bit 1 of 0x7B
  EXPECT_EQ(*pairs[9].ifDict()->find("value"), Value(true));   // offline read scanning, bit 3
  EXPECT_EQ(*pairs[7].ifDict()->find("value"), Value(true));   // conveyance, bit 5
  EXPECT_EQ(*pairs[5].ifDict()->find("value"), Value(false));  // abort offline, bit 2
}

TEST(CapabilityPairsTest, AHostSuppliedValueIsShown) {
  Array pairs = capabilityPairs(Dict{{"SCT Status", "supported"}});
  EXPECT_EQ(*pairs[12].ifDict()->find("value"), Value("supported"));
  EXPECT_EQ(*pairs[0].ifDict()->find("value"), Value(""));
}

// The device readers, against a simulated drive.
class CapabilityReadersTest : public ::testing::Test {
 protected:
  std::unique_ptr<KVSMARTDevice> open(Value smartData) {
    Dict disk = testing::sataDisk("disk0");
    testing::ataBlock(disk).set("smartData", std::move(smartData));
    machine_.reset();  // one installed machine at a time
    machine_ = std::make_unique<testing::TestMachine>(std::initializer_list<Dict>{disk});
    auto device = KVSMARTDevice::deviceWithBSDName("disk0");
    EXPECT_TRUE(device && device->openInterface());
    return device;
  }
  std::unique_ptr<testing::TestMachine> machine_;
};

TEST_F(CapabilityReadersTest, StoreTheirKeysInTheDeviceProperties) {
  SectorBuilder s = dataSector(0x82, 0x00, 0x73, 0x0003);
  s.put8(372, 1).put8(373, 211).put8(374, 2);
  auto device = open(s.checksum().sim());
  Dict caps = device->capabilities();
  EXPECT_EQ(caps.size(), 17u);
  Array pairs = device->capabilitiesArray();
  Array tests = device->selfTests();
  device->closeInterface();

  const Dict& props = *device->driveProperties();
  for (const auto& e : caps) EXPECT_EQ(*props.find(e.key), e.value) << e.key;
  EXPECT_EQ(props.stringOr("Self-test status"), "Pass 100%");
  ASSERT_TRUE(props.getArray("capArray"));
  EXPECT_EQ(*props.getArray("capArray"), pairs);
  ASSERT_TRUE(props.getArray("selftests"));
  EXPECT_EQ(*props.getArray("selftests"), tests);
  EXPECT_EQ(testNames(tests),
            (std::vector<std::string>{"Short", "Extended", "Conveyance", "Selective"}));
  EXPECT_EQ(tests[1].ifDict()->stringOr("nameWithTime"), "Extended Test  03:31");
  EXPECT_EQ((*machine_)->calls("ata.readSmartData").size(), 1u);
}

TEST_F(CapabilityReadersTest, AFailedReadStoresNothing) {
  auto device = open(Value(Dict{{"data", dataSector(0x82, 0, 0x7F).sim()}, {"status", 5}}));
  EXPECT_TRUE(device->capabilities().empty());
  EXPECT_TRUE(device->selfTests().empty());
  Array pairs = device->capabilitiesArray();
  device->closeInterface();
  const Dict& props = *device->driveProperties();
  EXPECT_FALSE(props.contains("Self-test status"));
  EXPECT_FALSE(props.contains("Self-test"));
  ASSERT_EQ(pairs.size(), 16u);
  for (const Value& p : pairs) EXPECT_EQ(*p.ifDict()->find("value"), Value(""));
}

TEST(CapabilityReadersClosedTest, AClosedDeviceReadsNothing) {
  KVSMARTDevice device(Dict{{"bsdName", "disk0"}});
  EXPECT_TRUE(device.capabilities().empty());
  EXPECT_EQ(device.driveProperties()->size(), 1u);
}

}  // namespace
}  // namespace sentrel::ata
