// The drive records discovery builds from the registry: which disks get
// one, and what each field says for each shape of registry entry.
#include <gtest/gtest.h>

#include <functional>

#include "sentrel/smart_device.h"
#include "support/machines.h"

namespace sentrel {
namespace {

using testing::addVolume;
using testing::controllerEntry;
using testing::description;
using testing::driveEntry;
using testing::sataDisk;
using testing::TestMachine;

Value volume(const char* name, const char* content = "GUID_partition_scheme") {
  return Value(Dict{{"content", content}, {"name", name}});
}

TEST(DriveInformationTest, RecordOfASataDisk) {
  Dict disk = sataDisk("disk0");
  addVolume(disk, "disk0s2", "Macintosh HD");
  // Hidden volumes are left out whatever their case, and so are descendants
  // without a name, a disk object or a volume name.
  for (const char* hidden : {"EFI", "Recovery HD", "boot OS X", "RECOVERY"})
    addVolume(disk, "disk0s9", hidden);
  Array& d = *disk.find("descendants")->ifArray();
  d.push_back(Value(Dict{{"properties", Dict{}}, {"volumeName", "NoBSDName"}}));
  d.push_back(Value(Dict{
      {"properties", Dict{{"BSD Name", "disk0s1"}}}, {"volumeName", "NoDisk"}, {"noDisk", true}}));
  d.push_back(Value(Dict{{"properties", Dict{{"BSD Name", "disk0s3"}}}}));
  addVolume(disk, "disk0s4", "Backup");
  TestMachine m{disk};
  auto all = KVSMARTDevice::driveInformation();
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 1u);
  const Dict& r = *all->getDict("disk0");
  const Dict expected{{"bsdName", "disk0"},
                      {"Device Model", "WDC WD10EZEX-08WN4A0"},
                      {"Serial Number", "WD-WCC6Y0ABCDEF"},
                      {"Firmware Version", "01.01A01"},
                      {"Drive Type", "HDD 7200 rpm"},
                      {"User Capacity", std::uint64_t{1000204886016}},
                      {"sectorSizeStr", "4096 bytes physical"},
                      {"scheme", "GUID Partition Map"},
                      {"Loc-Con", "Internal SATA - Bay 1"},
                      {"SMART Capable", true},  // the registry's properties stay
                      {"volumes", Array{volume("Macintosh HD"), volume("Backup")}}};
  for (const auto& e : expected) {
    ASSERT_TRUE(r.find(e.key)) << e.key;
    EXPECT_EQ(*r.find(e.key), e.value) << e.key;
  }
}

// One field of the record, for each change of the SATA disk; a disk that
// gets no record shows no "bsdName".
TEST(DriveInformationTest, FieldsForEachShapeOfEntry) {
  const Array extensions{
      Value(Dict{{"folder", "IOStorageFamily.kext"},
                 {"bundleIdentifier", "com.apple.iokit.IOStorageFamily"},
                 {"images", Array{"Internal.icns", "External.icns", "Removable.icns"}}}),
      Value(Dict{{"folder", "Vendor.kext"},
                 {"bundleIdentifier", "com.vendor.driver"},
                 {"images", Array{"Drive.icns"}}})};
  // Sets the key of one part of the disk; a null value erases it.
  const auto set = [](Dict& (*of)(Dict&), const char* key, Value value) {
    return [=](Dict& disk) {
      if (value.kind() == Value::Kind::null) {
        of(disk).erase(key);
      } else {
        of(disk).set(key, value);
      }
    };
  };
  const char* const kChars = "Device Characteristics";
  struct Case {
    const char* name;
    std::function<void(Dict&)> change;
    const char* key;
    Value value;
  } cases[] = {
      {"solid state", set(driveEntry, kChars, Dict{{"Medium Type", "Solid State"}}), "Drive Type",
       "SSD "},
      {"rate without medium", set(driveEntry, kChars, Dict{{"Rotation Rate", 5400}}), "Drive Type",
       " 5400 rpm"},
      {"blank model: the media name", set(driveEntry, "Model", "   "), "Device Model",
       "WDC WD10EZEX Media"},
      {"no protocol", set(driveEntry, "Protocol Characteristics", Value()), "Loc-Con",
       "- - - Bay 1"},
      {"location not UTF-8", set(controllerEntry, "io-device-location", Data{0xff, 0xfe}),
       "deviceLocation", ""},
      {"Thunderbolt",
       set(controllerEntry, "Controller Characteristics", Dict{{"Vendor Name", "Thunderbolt"}}),
       "Loc-Con", "External Thunderbolt"},
      {"unformatted", set(description, "DAMediaContent", ""), "scheme", "Unformatted"},
      {"an APFS container: no record",
       set(description, "DAMediaContent", "EF57347C-0000-11AA-AA11-00306543ECAC"), "bsdName",
       Value()},
      {"external: the generic icon", set(description, "DADeviceInternal", false), "diskIcon",
       Image{"IOStorageFamily.kext/External.icns", 256, 256}},
      {"the driver bundle's icon",
       set(description, "DAMediaIcon",
           Dict{{"CFBundleIdentifier", "com.vendor.driver"},
                {"IOBundleResourceFile", "Drive.icns"}}),
       "diskIcon", Image{"Vendor.kext/Drive.icns", 256, 256}},
      {"NVMe, revision from above",
       [](Dict& d) {
         driveEntry(d).erase("SMART Capable");
         driveEntry(d).set("NVMe SMART Capable", true);
         controllerEntry(d).set("NVMe Revision Supported", "1.4");
       },
       "nvmeRevSupported", "1.4"},
  };
  for (const Case& c : cases) {
    Dict disk = sataDisk("disk0");
    c.change(disk);
    TestMachine m(Dict{{"extensions", extensions}, {"disks", Array{Value(disk)}}});
    const Dict r = KVSMARTDevice::settingsForBSDName("disk0").value_or(Dict{});
    EXPECT_EQ(r.find(c.key) ? *r.find(c.key) : Value(), c.value) << c.name;
  }
}

// Only whole, named disks with a disk object and SMART access get a record,
// and none at all when disk arbitration fails.
TEST(DriveInformationTest, WhichDisksGetARecord) {
  Dict notWhole = sataDisk("disk1");
  description(notWhole).set("DAMediaWhole", false);
  Dict noName = sataDisk("disk2");
  description(noName).erase("DAMediaBSDName");
  Dict noDiskObject = sataDisk("disk3");
  noDiskObject.set("noDisk", true);
  Dict noSmart = sataDisk("disk4");
  driveEntry(noSmart).erase("SMART Capable");
  {
    TestMachine m{notWhole, noName, noDiskObject, noSmart, sataDisk("disk5")};
    auto all = KVSMARTDevice::driveInformation();
    ASSERT_TRUE(all);
    EXPECT_EQ(all->size(), 1u);
  }
  TestMachine failing(Dict{{"diskArbitrationFails", true}, {"disks", Array{Value(sataDisk("d"))}}});
  EXPECT_FALSE(KVSMARTDevice::driveInformation());
}

}  // namespace
}  // namespace sentrel
