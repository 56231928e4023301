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

Dict recordOf(const std::string& bsd) {
  auto r = KVSMARTDevice::settingsForBSDName(bsd);
  EXPECT_TRUE(r) << "no record for " << bsd;
  return r.value_or(Dict{});
}

Value volume(const char* name, const char* content = "GUID_partition_scheme") {
  return Value(Dict{{"content", content}, {"name", name}});
}

TEST(DriveInformationTest, RecordOfASataDisk) {
  Dict disk = sataDisk("disk0");
  addVolume(disk, "disk0s2", "Macintosh HD");
  // Hidden volumes are left out whatever their case, and so are descendants
  // without a name, a disk object or a volume name.
  for (const char* hidden : {"EFI", "Recovery HD", "VM", "Preboot", "boot OS X", "RECOVERY"})
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
                      {"mediaType", "HDD 7200 rpm"},
                      {"isNVMe", false},
                      {"isInternal", true},
                      {"isRemovable", false},
                      {"User Capacity", std::uint64_t{1000204886016}},
                      {"sectorSizeStr", "4096 bytes physical"},
                      {"scheme", "GUID Partition Map"},
                      {"deviceLocation", "Bay 1"},
                      {"Loc-Con", "Internal SATA - Bay 1"},
                      {"diskMfgLogo", ""},
                      {"nvmeRevSupported", ""},
                      {"SMART Capable", true},  // the registry's properties stay
                      {"volumes", Array{volume("Macintosh HD"), volume("Backup")}}};
  for (const auto& e : expected) {
    ASSERT_TRUE(r.find(e.key)) << e.key;
    EXPECT_EQ(*r.find(e.key), e.value) << e.key;
  }
  // "registryService" is the handle of the entry that says "SMART Capable".
  auto service = r.find("registryService")->ifUInt();
  ASSERT_TRUE(service);
  EXPECT_EQ(platform::current().registry->name(static_cast<platform::RegistryEntry>(*service)),
            "IOAHCIBlockStorageDevice");
}

// One field of the record, for each change of the SATA disk.
TEST(DriveInformationTest, FieldsForEachShapeOfEntry) {
  const auto characteristics = [](std::optional<const char*> medium, std::optional<Value> rate) {
    return [=](Dict& disk) {
      Dict chars{{"Product Revision Level", "1"}};
      if (medium) chars.set("Medium Type", *medium);
      if (rate) chars.set("Rotation Rate", *rate);
      driveEntry(disk).set("Device Characteristics", chars);
    };
  };
  const auto protocol = [](std::optional<Dict> p, std::optional<Value> location) {
    return [=](Dict& disk) {
      driveEntry(disk).erase("Protocol Characteristics");
      if (p) driveEntry(disk).set("Protocol Characteristics", *p);
      controllerEntry(disk).erase("io-device-location");
      if (location) controllerEntry(disk).set("io-device-location", *location);
    };
  };
  const Dict internalSata{{"Physical Interconnect", "SATA"},
                          {"Physical Interconnect Location", "Internal"}};
  struct Case {
    const char* name;
    std::function<void(Dict&)> change;
    const char* key;
    Value value;
  } cases[] = {
      {"solid state", characteristics("Solid State", {}), "Drive Type", "SSD "},
      {"no medium type", characteristics({}, {}), "Drive Type", " "},
      {"rate without medium", characteristics({}, Value(5400)), "Drive Type", " 5400 rpm"},
      {"rate as text", characteristics("Rotational", Value("5900")), "mediaType", "HDD 5900 rpm"},
      {"model trimmed", [](Dict& d) { driveEntry(d).set("Model", " ST4000 "); }, "Device Model",
       "ST4000"},
      {"model number",
       [](Dict& d) {
         driveEntry(d).erase("Model");
         driveEntry(d).set("Model Number", "  Model Number  ");
       },
       "Device Model", "Model Number"},
      {"blank model: the media name", [](Dict& d) { driveEntry(d).set("Model", "   "); },
       "Device Model", "WDC WD10EZEX Media"},
      {"no name at all: the BSD name",
       [](Dict& d) {
         driveEntry(d).erase("Model");
         description(d).erase("DAMediaName");
       },
       "Device Model", "disk0"},
      {"identity from the first ancestor with a serial",
       [](Dict& d) {
         driveEntry(d).erase("Serial Number");
         driveEntry(d).erase("Model");
         controllerEntry(d).set("Serial Number", "CTRL-1");
         controllerEntry(d).set("Model", "Controller Model");
       },
       "Device Model", "Controller Model"},
      {"no serial anywhere", [](Dict& d) { driveEntry(d).erase("Serial Number"); }, "Serial Number",
       ""},
      {"no device location", protocol(internalSata, {}), "Loc-Con", "Internal SATA "},
      {"no interconnect", protocol(Dict{{"Physical Interconnect Location", "External"}}, {}),
       "Loc-Con", "External - "},
      {"no protocol", protocol({}, {}), "Loc-Con", "- - "},
      {"location not UTF-8", protocol(internalSata, Value(Data{0xff, 0xfe})), "deviceLocation", ""},
      {"Thunderbolt",
       [](Dict& d) {
         controllerEntry(d).set("Controller Characteristics", Dict{{"Vendor Name", "Thunderbolt"}});
       },
       "Loc-Con", "External Thunderbolt"},
      {"NVMe, revision from above",
       [](Dict& d) {
         driveEntry(d).erase("SMART Capable");
         driveEntry(d).set("NVMe SMART Capable", true);
         controllerEntry(d).set("NVMe Revision Supported", "1.4");
       },
       "nvmeRevSupported", "1.4"},
      {"SMART Capable wins on the same entry",
       [](Dict& d) { driveEntry(d).set("NVMe SMART Capable", true); }, "isNVMe", false},
  };
  for (const Case& c : cases) {
    Dict disk = sataDisk("disk0");
    c.change(disk);
    TestMachine m{disk};
    const Dict r = recordOf("disk0");
    EXPECT_EQ(r.find(c.key) ? *r.find(c.key) : Value(), c.value) << c.name;
  }
}

TEST(DriveInformationTest, WhichDisksGetARecord) {
  struct Case {
    const char* content;
    const char* scheme;  // null: no record
  } cases[] = {
      {"", "Unformatted"},
      {"Apple_partition_scheme", "Apple Partition Map"},
      {"FDisk_partition_scheme", "Master Boot Record"},
      {"EF57347C-0000-11AA-AA11-00306543ECAC", nullptr},
      {"Apple_HFS", nullptr},
  };
  for (const Case& c : cases) {
    Dict disk = sataDisk("disk3");
    description(disk).set("DAMediaContent", c.content);
    addVolume(disk, "disk3s1", "Data");
    TestMachine m{disk};
    auto r = KVSMARTDevice::settingsForBSDName("disk3");
    ASSERT_EQ(r.has_value(), c.scheme != nullptr) << c.content;
    if (!r) continue;
    EXPECT_EQ(r->stringOr("scheme"), c.scheme);
    // Every volume entry carries the whole disk's content value.
    EXPECT_EQ(*r->find("volumes"), Value(Array{volume("Data", c.content)}));
  }

  Dict notWhole = sataDisk("disk1");
  description(notWhole).set("DAMediaWhole", false);
  Dict noName = sataDisk("disk2");
  description(noName).erase("DAMediaBSDName");
  Dict noDiskObject = sataDisk("disk3");
  noDiskObject.set("noDisk", true);
  Dict noSmart = sataDisk("disk4");
  driveEntry(noSmart).erase("SMART Capable");
  // Two disks behind one controller.
  Dict a = sataDisk("disk5"), b = sataDisk("disk6");
  for (Dict* d : {&a, &b}) d->find("ancestors")->ifArray()->at(2).ifDict()->set("id", "ahci");
  {
    TestMachine m{notWhole, noName, noDiskObject, noSmart, a, b};
    auto all = KVSMARTDevice::driveInformation();
    ASSERT_TRUE(all);
    EXPECT_EQ(all->size(), 2u);
    EXPECT_EQ(all->getDict("disk6")->stringOr("deviceLocation"), "Bay 1");
  }
  TestMachine failing(Dict{{"diskArbitrationFails", true}, {"disks", Array{Value(sataDisk("d"))}}});
  EXPECT_FALSE(KVSMARTDevice::driveInformation());
}

TEST(DriveInformationTest, IconIsTheGenericOneOrTheDriverBundles) {
  Array extensions{
      Value(Dict{{"folder", "IOStorageFamily.kext"},
                 {"bundleIdentifier", "com.apple.iokit.IOStorageFamily"},
                 {"images", Array{"Internal.icns", "External.icns", "Removable.icns"}}}),
      Value(Dict{{"folder", "Vendor.kext"},
                 {"bundleIdentifier", "com.vendor.driver"},
                 {"images", Array{"Drive.icns"}}}),
  };
  const auto icon = [](const char* bundle, const char* file) {
    return Dict{{"CFBundleIdentifier", bundle}, {"IOBundleResourceFile", file}};
  };
  struct Case {
    bool internal, removable;
    std::optional<Dict> icon;
    const char* expected;  // "" for an empty image
  } cases[] = {
      {false, true, std::nullopt, "IOStorageFamily.kext/Removable.icns"},
      {true, false, icon("com.vendor.driver", "Drive.icns"), "Vendor.kext/Drive.icns"},
      {true, false, icon("com.vendor.driver", "Missing.icns"), ""},
      {true, false, icon("com.unknown", "Drive.icns"), "IOStorageFamily.kext/Internal.icns"},
  };
  for (const Case& c : cases) {
    Dict disk = sataDisk("disk0");
    description(disk).set("DADeviceInternal", c.internal);
    description(disk).set("DAMediaRemovable", c.removable);
    if (c.icon) description(disk).set("DAMediaIcon", *c.icon);
    TestMachine m(Dict{{"extensions", extensions}, {"disks", Array{Value(disk)}}});
    Dict r = recordOf("disk0");
    const Image* image = r.find("diskIcon")->ifImage();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->name, c.expected);
    EXPECT_EQ(image->width, *c.expected ? 256 : 0);
  }
  // Without any extensions there is no image at all.
  TestMachine bare{sataDisk("disk0")};
  EXPECT_TRUE(recordOf("disk0").find("diskIcon")->ifImage()->empty());
}

}  // namespace
}  // namespace sentrel
