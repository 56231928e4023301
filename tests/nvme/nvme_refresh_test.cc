// The refresh of an NVMe drive: the controller reading merged into the
// device properties, or the namespace reading when the controller cannot
// be read.
#include <gtest/gtest.h>

#include "support/fault_printers.h"

#include "nvme/nvme_pages.h"
#include "sentrel/sim_machine.h"
#include "sentrel/smart_device.h"

namespace sentrel {
namespace {

using testing::nvmeBlock;
using testing::nvmeDisk;
using testing::TestMachine;

constexpr const char* kUuid = "6C2A1F3E-0B4D-4E8A-9F21-3D5C7A9B1E04";

std::shared_ptr<Dict> refresh(const std::string& bsd) {
  auto device = KVSMARTDevice::deviceWithBSDName(bsd);
  EXPECT_TRUE(device) << bsd;
  return device ? device->updateProperties() : nullptr;
}

TEST(NvmeRefreshTest, ControllerReadingIsMergedAndTheFallbackNotAsked) {
  TestMachine m{nvmeDisk("disk5", kUuid)};
  auto props = refresh("disk5");
  ASSERT_TRUE(props);
  // The record's keys stay beside the reading.
  EXPECT_EQ(props->stringOr("bsdName"), "disk5");
  EXPECT_EQ(props->getBool("isNVMe"), true);
  EXPECT_EQ(props->stringOr("NamespaceUUID"), kUuid);
  // The controller reading, with its own types.
  EXPECT_EQ(props->stringOr("attributeHealth"), "Passed");
  EXPECT_EQ(*props->find("percentRemaining"), Value(97u));
  EXPECT_EQ(*props->find("lowSpare"), Value(false));
  EXPECT_TRUE(props->find("extendedHealth")->ifStyledText());
  EXPECT_TRUE(props->getArray("powerStates"));
  // Its "Serial Number" is the record's; the reading's serial is "sn".
  EXPECT_EQ(props->stringOr("sn"), "S4EWNX0R123456A");
  EXPECT_TRUE(m->calls("nvme.readHealthData").empty());
  EXPECT_TRUE(m->calls("ata.createPlugIn").empty());
  EXPECT_FALSE(props->contains("service_name"));
}

TEST(NvmeRefreshTest, WithoutTheControllerTheNamespaceReadingIsMerged) {
  // disk5's own entry refuses the plug-in; an entry that comes first in the
  // registry carries the same namespace UUID and answers.
  Dict twin = nvmeDisk("disk9", kUuid);
  twin.set("noDisk", true);
  Dict disk = nvmeDisk("disk5", kUuid);
  nvmeBlock(disk).set("openStatus", "0xE00002C7");
  TestMachine m{twin, disk};
  auto props = refresh("disk5");
  ASSERT_TRUE(props);

  auto opens = m->calls("nvme.createPlugIn");
  ASSERT_EQ(opens.size(), 2u);
  EXPECT_NE(opens[0].getInt("service"), opens[1].getInt("service"));
  EXPECT_EQ(m->calls("nslog").at(0).stringOr("line"), "Lost connection to plugin");
  EXPECT_EQ(m->calls("nvme.readHealthData").size(), 1u);
  EXPECT_TRUE(m->calls("syslog").empty());

  // The namespace reading's types, and none of the controller-only keys.
  EXPECT_EQ(*props->find("percentRemaining"), Value(97));
  EXPECT_EQ(*props->find("lowSpare"), Value(0));
  EXPECT_EQ(*props->find("mdts"), Value(512));
  EXPECT_EQ(props->stringOr("service_class"), "IONVMeBlockStorageDevice");
  EXPECT_EQ(props->stringOr("Physical Interconnect"), "PCI-Express");
  for (const char* absent : {"tempoC", "extendedHealth", "errorLog", "powerStates", "nvmeIFRev"})
    EXPECT_FALSE(props->contains(absent)) << absent;
}

TEST(NvmeRefreshTest, WhenBothReadersFailOnlyTheRegistryGroupArrives) {
  Dict disk = nvmeDisk("disk5", kUuid);
  nvmeBlock(disk).set("openStatus", "0xE00002C7");
  TestMachine m{disk};
  auto props = refresh("disk5");
  ASSERT_TRUE(props);  // the NVMe readers never make the refresh fail
  EXPECT_FALSE(props->contains("percentRemaining"));
  EXPECT_FALSE(props->contains("attributeHealth"));
  EXPECT_EQ(props->stringOr("service_name"), "IONVMeBlockStorageDevice");
  auto syslog = m->calls("syslog");
  ASSERT_EQ(syslog.size(), 1u);
  EXPECT_EQ(syslog[0].stringOr("line"),
            "readNVMe error plugin: e00002c7 query: 00000000 ident: 00000000 data: 00000000 ");
}

TEST(NvmeRefreshTest, AnUnknownUuidMergesNothing) {
  Dict disk = nvmeDisk("disk5", kUuid);
  nvmeBlock(disk).set("queryStatus", "0xE00002BC");
  TestMachine m{disk};
  auto device = KVSMARTDevice::deviceWithBSDName("disk5");
  ASSERT_TRUE(device);
  device->driveProperties()->set("NamespaceUUID", "not-a-namespace");
  Dict before = *device->driveProperties();
  auto props = device->updateProperties();
  ASSERT_TRUE(props);
  EXPECT_EQ(*props, before);
  EXPECT_TRUE(m->calls("syslog").empty());
}

TEST(NvmeRefreshTest, DemoMachineSsdAnswersItsWholeReading) {
  platform::Failure error;
  auto machine = sim::Machine::load(SENTREL_SOURCE_DIR "/examples/demo-mac", &error);
  ASSERT_TRUE(machine) << error;
  platform::ScopedPlatform installed(machine->platform());
  auto props = refresh("disk5");
  ASSERT_TRUE(props);
  EXPECT_EQ(props->stringOr("mn"), "Samsung SSD 970 EVO Plus 1TB");
  EXPECT_EQ(props->stringOr("sn"), props->stringOr("Serial Number"));
  EXPECT_EQ(props->stringOr("attributeHealth"), "Passed");
  EXPECT_EQ(*props->find("temperature"), Value(310u));
  EXPECT_EQ(*props->find("availableSpare"), Value(100u));
  EXPECT_EQ(*props->find("spareThreshold"), Value(10u));
  EXPECT_EQ(*props->find("percentUsed"), Value(3u));
  EXPECT_EQ(props->getArray("errorLog")->size(), 2u);
  EXPECT_EQ(props->getArray("powerStates")->size(), 5u);
  EXPECT_EQ(props->getArray("firmwareSlots")->size(), 2u);
  EXPECT_EQ(*props->find("lifetimeErrorsLo"), Value(2u));
  EXPECT_TRUE(machine->calls("nslog").empty());
  EXPECT_TRUE(machine->calls("syslog").empty());
}

}  // namespace
}  // namespace sentrel
