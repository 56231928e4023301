#include <gtest/gtest.h>

#include "sentrel/smart_device.h"
#include "support/machines.h"

namespace sentrel {
namespace {

using testing::addVolume;
using testing::ataBlock;
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

TEST(DriveInformationTest, RecordHoldsTheTwentyKeysOverTheRegistryProperties) {
  Dict disk = sataDisk("disk0");
  addVolume(disk, "disk0s2", "Macintosh HD");
  TestMachine m{disk};

  auto all = KVSMARTDevice::driveInformation();
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 1u);
  const Dict& r = *all->getDict("disk0");

  static const char* keys[] = {
      "nvmeRevSupported", "isNVMe",     "bsdName",       "Device Model",   "Serial Number",
      "Firmware Version", "Drive Type", "isInternal",    "isRemovable",    "mediaType",
      "User Capacity",    "sectorSizeStr", "diskIcon",   "diskIconDict",   "diskMfgLogo",
      "scheme",           "volumes",    "deviceLocation", "Loc-Con",       "registryService"};
  for (const char* key : keys) EXPECT_TRUE(r.contains(key)) << key;
  // The registry properties of the drive entry stay in the record.
  EXPECT_EQ(r.getBool("SMART Capable"), true);
  EXPECT_TRUE(r.getDict("Protocol Characteristics"));

  EXPECT_EQ(r.stringOr("bsdName"), "disk0");
  EXPECT_EQ(r.stringOr("Device Model"), "WDC WD10EZEX-08WN4A0");
  EXPECT_EQ(r.stringOr("Serial Number"), "WD-WCC6Y0ABCDEF");
  EXPECT_EQ(r.stringOr("Firmware Version"), "01.01A01");
  EXPECT_EQ(r.stringOr("Drive Type"), "HDD 7200 rpm");
  EXPECT_EQ(r.stringOr("mediaType"), "HDD 7200 rpm");
  EXPECT_EQ(r.getBool("isNVMe"), false);
  EXPECT_EQ(r.getBool("isInternal"), true);
  EXPECT_EQ(r.getBool("isRemovable"), false);
  EXPECT_EQ(*r.find("User Capacity"), Value(std::uint64_t{1000204886016}));
  EXPECT_EQ(r.stringOr("sectorSizeStr"), "4096 bytes physical");
  EXPECT_EQ(r.stringOr("scheme"), "GUID Partition Map");
  EXPECT_EQ(r.stringOr("deviceLocation"), "Bay 1");
  EXPECT_EQ(r.stringOr("Loc-Con"), "Internal SATA - Bay 1");
  EXPECT_EQ(r.stringOr("diskMfgLogo"), "");
  EXPECT_EQ(r.stringOr("diskIconDict", "x"), "");
  EXPECT_EQ(r.stringOr("nvmeRevSupported", "x"), "");
  EXPECT_EQ(*r.find("volumes"),
            Value(Array{Value(Dict{{"content", "GUID_partition_scheme"}, {"name", "Macintosh HD"}})}));

  // "registryService" is the handle of the entry that says "SMART Capable".
  auto service = r.find("registryService")->ifUInt();
  ASSERT_TRUE(service);
  auto& registry = *platform::current().registry;
  EXPECT_EQ(registry.name(static_cast<platform::RegistryEntry>(*service)),
            "IOAHCIBlockStorageDevice");
}

TEST(DriveInformationTest, SchemeTableDecidesWhichDisksAreKept) {
  struct Case {
    const char* content;
    const char* scheme;  // null: no record
  } cases[] = {
      {"", "Unformatted"},
      {"Apple_partition_scheme", "Apple Partition Map"},
      {"FDisk_partition_scheme", "Master Boot Record"},
      {"GUID_partition_scheme", "GUID Partition Map"},
      {"EF57347C-0000-11AA-AA11-00306543ECAC", nullptr},
      {"Apple_HFS", nullptr},
  };
  for (const Case& c : cases) {
    Dict disk = sataDisk("disk3");
    description(disk).set("DAMediaContent", c.content);
    addVolume(disk, "disk3s1", "Data");
    TestMachine m{disk};
    auto r = KVSMARTDevice::settingsForBSDName("disk3");
    if (!c.scheme) {
      EXPECT_FALSE(r) << c.content;
      continue;
    }
    ASSERT_TRUE(r) << c.content;
    EXPECT_EQ(r->stringOr("scheme"), c.scheme);
    // Every volume entry carries the whole disk's content value.
    EXPECT_EQ(r->getArray("volumes")->at(0).ifDict()->stringOr("content"), c.content);
  }
}

TEST(DriveInformationTest, MediaThatAreNotWholeNamedOrDescribedAreSkipped) {
  Dict notWhole = sataDisk("disk1");
  description(notWhole).set("DAMediaWhole", false);
  Dict noName = sataDisk("disk2");
  description(noName).erase("DAMediaBSDName");
  Dict noDiskObject = sataDisk("disk3");
  noDiskObject.set("noDisk", true);
  Dict noSmart = sataDisk("disk4");
  driveEntry(noSmart).erase("SMART Capable");
  Dict kept = sataDisk("disk5");
  TestMachine m{notWhole, noName, noDiskObject, noSmart, kept};

  auto all = KVSMARTDevice::driveInformation();
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 1u);
  EXPECT_TRUE(all->contains("disk5"));
}

TEST(DriveInformationTest, HiddenVolumesAreLeftOutWhateverTheirCase) {
  Dict disk = sataDisk("disk0");
  for (const char* name : {"EFI", "Recovery HD", "VM", "Preboot", "boot OS X", "Boot OSX", "xART",
                           "Hardware", "iSCPreboot", "RECOVERY", "Backup", "/Volumes/EFI",
                           "Backup"})
    addVolume(disk, "disk0s9", name);
  TestMachine m{disk};
  Dict r = recordOf("disk0");
  Array expected;
  for (const char* name : {"Backup", "Backup"})
    expected.push_back(Value(Dict{{"content", "GUID_partition_scheme"}, {"name", name}}));
  EXPECT_EQ(*r.find("volumes"), Value(expected));
}

TEST(DriveInformationTest, DescendantsWithoutNameDiskObjectOrVolumeNameAddNothing) {
  Dict disk = sataDisk("disk0");
  Array& d = *disk.find("descendants")->ifArray();
  d.push_back(Value(Dict{{"properties", Dict{}}, {"volumeName", "NoBSDName"}}));
  d.push_back(Value(Dict{{"properties", Dict{{"BSD Name", "disk0s1"}}},
                         {"volumeName", "NoDisk"},
                         {"noDisk", true}}));
  d.push_back(Value(Dict{{"properties", Dict{{"BSD Name", "disk0s2"}}}}));
  addVolume(disk, "disk0s3", "Kept");
  TestMachine m{disk};
  Dict record = recordOf("disk0");
  const Array& volumes = *record.getArray("volumes");
  ASSERT_EQ(volumes.size(), 1u);
  EXPECT_EQ(volumes[0].ifDict()->stringOr("name"), "Kept");
}

TEST(DriveInformationTest, DriveTypeText) {
  struct Case {
    std::optional<const char*> medium;
    std::optional<Value> rate;
    const char* expected;
  } cases[] = {
      {"Rotational", Value(7200), "HDD 7200 rpm"},
      {"Solid State", std::nullopt, "SSD "},
      {std::nullopt, std::nullopt, " "},
      {std::nullopt, Value(5400), " 5400 rpm"},
      {"Rotational", Value("5900"), "HDD 5900 rpm"},
  };
  for (const Case& c : cases) {
    Dict disk = sataDisk("disk0");
    Dict chars{{"Product Revision Level", "1"}};
    if (c.medium) chars.set("Medium Type", *c.medium);
    if (c.rate) chars.set("Rotation Rate", *c.rate);
    driveEntry(disk).set("Device Characteristics", chars);
    TestMachine m{disk};
    Dict r = recordOf("disk0");
    EXPECT_EQ(r.stringOr("Drive Type"), c.expected);
    EXPECT_EQ(r.stringOr("mediaType"), c.expected);
  }
}

TEST(DriveInformationTest, DeviceModelFallsBackToMediaNameThenBsdName) {
  struct Case {
    std::optional<const char*> model, modelNumber, mediaName;
    const char* expected;
  } cases[] = {
      {" ST4000 ", "Other", "Media", "ST4000"},
      {std::nullopt, "  Model Number  ", "Media", "Model Number"},
      {std::nullopt, std::nullopt, "WDC Media", "WDC Media"},
      {std::nullopt, std::nullopt, std::nullopt, "disk0"},
      {"   ", std::nullopt, "Media", "Media"},
  };
  for (const Case& c : cases) {
    Dict disk = sataDisk("disk0");
    driveEntry(disk).erase("Model");
    if (c.model) driveEntry(disk).set("Model", *c.model);
    if (c.modelNumber) driveEntry(disk).set("Model Number", *c.modelNumber);
    description(disk).erase("DAMediaName");
    if (c.mediaName) description(disk).set("DAMediaName", *c.mediaName);
    TestMachine m{disk};
    EXPECT_EQ(recordOf("disk0").stringOr("Device Model"), c.expected);
  }
}

TEST(DriveInformationTest, IdentityComesFromTheFirstAncestorWithASerialNumber) {
  Dict disk = sataDisk("disk0");
  driveEntry(disk).erase("Serial Number");
  driveEntry(disk).erase("Model");
  controllerEntry(disk).set("Serial Number", "CTRL-1");
  controllerEntry(disk).set("Model", "Controller Model");
  TestMachine m{disk};
  Dict r = recordOf("disk0");
  EXPECT_EQ(r.stringOr("Serial Number"), "CTRL-1");
  EXPECT_EQ(r.stringOr("Device Model"), "Controller Model");

  Dict none = sataDisk("disk1");
  driveEntry(none).erase("Serial Number");
  TestMachine m2{none};
  Dict r2 = recordOf("disk1");
  EXPECT_EQ(r2.stringOr("Serial Number", "x"), "");
  EXPECT_EQ(r2.stringOr("Device Model"), "WDC WD10EZEX Media");  // identity model unused
}

TEST(DriveInformationTest, LocationText) {
  struct Case {
    const char* name;
    std::optional<Dict> protocol;
    std::optional<Value> deviceLocation;
    bool thunderbolt;
    const char* locCon;
    const char* location;
  } cases[] = {
      {"bay", Dict{{"Physical Interconnect", "SATA"}, {"Physical Interconnect Location", "Internal"}},
       Value(Data{'B', 'a', 'y', ' ', '1'}), false, "Internal SATA - Bay 1", "Bay 1"},
      {"no device location", Dict{{"Physical Interconnect", "SATA"},
                                  {"Physical Interconnect Location", "Internal"}},
       std::nullopt, false, "Internal SATA ", ""},
      {"no interconnect", Dict{{"Physical Interconnect Location", "External"}}, std::nullopt, false,
       "External - ", ""},
      {"no protocol", std::nullopt, std::nullopt, false, "- - ", ""},
      {"not UTF-8", Dict{{"Physical Interconnect", "USB"}, {"Physical Interconnect Location", "External"}},
       Value(Data{0xff, 0xfe}), false, "External USB ", ""},
      {"thunderbolt", Dict{{"Physical Interconnect", "PCI"}}, Value(Data{'X'}), true,
       "External Thunderbolt", ""},
  };
  for (const Case& c : cases) {
    Dict disk = sataDisk("disk0");
    driveEntry(disk).erase("Protocol Characteristics");
    if (c.protocol) driveEntry(disk).set("Protocol Characteristics", *c.protocol);
    controllerEntry(disk).erase("io-device-location");
    if (c.deviceLocation) controllerEntry(disk).set("io-device-location", *c.deviceLocation);
    if (c.thunderbolt)
      controllerEntry(disk).set("Controller Characteristics", Dict{{"Vendor Name", "Thunderbolt"}});
    TestMachine m{disk};
    Dict r = recordOf("disk0");
    EXPECT_EQ(r.stringOr("Loc-Con"), c.locCon) << c.name;
    EXPECT_EQ(r.stringOr("deviceLocation", "x"), c.location) << c.name;
  }
}

TEST(DriveInformationTest, NvmeDriveIsMarkedAndTakesItsRevisionFromAbove) {
  Dict disk = sataDisk("disk1");
  driveEntry(disk).erase("SMART Capable");
  driveEntry(disk).set("NVMe SMART Capable", true);
  controllerEntry(disk).set("NVMe Revision Supported", "1.4");
  TestMachine m{disk};
  Dict r = recordOf("disk1");
  EXPECT_EQ(r.getBool("isNVMe"), true);
  EXPECT_EQ(r.stringOr("nvmeRevSupported"), "1.4");
}

TEST(DriveInformationTest, SmartCapableIsPreferredOnTheSameEntry) {
  Dict disk = sataDisk("disk1");
  driveEntry(disk).set("NVMe SMART Capable", true);
  TestMachine m{disk};
  EXPECT_EQ(recordOf("disk1").getBool("isNVMe"), false);
}

TEST(DriveInformationTest, LookupTakesTheLastPathComponent) {
  TestMachine m{sataDisk("disk2")};
  struct Case {
    std::optional<std::string_view> name;
    bool found;
  } cases[] = {
      {"disk2", true}, {"/dev/disk2", true}, {"/dev/disk2/", true},
      {"disk2s1", false}, {"", false}, {std::nullopt, false}, {"disk", false},
  };
  for (const Case& c : cases) {
    auto r = KVSMARTDevice::settingsForBSDName(c.name);
    EXPECT_EQ(r.has_value(), c.found) << c.name.value_or("(none)");
    if (r) {
      EXPECT_EQ(r->stringOr("bsdName"), "disk2");
    }
  }
}

TEST(DriveInformationTest, NoDiskArbitrationSessionGivesNothing) {
  TestMachine m(Dict{{"diskArbitrationFails", true},
                     {"disks", Array{Value(sataDisk("disk0"))}}});
  EXPECT_FALSE(KVSMARTDevice::driveInformation());
  EXPECT_FALSE(KVSMARTDevice::settingsForBSDName("disk0"));
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
  struct Case {
    bool internal, removable;
    std::optional<Dict> icon;
    const char* expected;  // "" for an empty image
  } cases[] = {
      {true, false, std::nullopt, "IOStorageFamily.kext/Internal.icns"},
      {false, true, std::nullopt, "IOStorageFamily.kext/Removable.icns"},
      {false, false, std::nullopt, "IOStorageFamily.kext/External.icns"},
      {true, false,
       Dict{{"CFBundleIdentifier", "com.vendor.driver"}, {"IOBundleResourceFile", "Drive.icns"}},
       "Vendor.kext/Drive.icns"},
      {true, false,
       Dict{{"CFBundleIdentifier", "com.vendor.driver"}, {"IOBundleResourceFile", "Missing.icns"}},
       ""},
      {true, false,
       Dict{{"CFBundleIdentifier", "com.unknown"}, {"IOBundleResourceFile", "Drive.icns"}},
       "IOStorageFamily.kext/Internal.icns"},
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
    if (c.icon) {
      EXPECT_EQ(*r.getDict("diskIconDict"), *c.icon);
    }
  }
  // Without any extensions there is no image at all.
  TestMachine bare{sataDisk("disk0")};
  EXPECT_TRUE(recordOf("disk0").find("diskIcon")->ifImage()->empty());
}

TEST(DriveInformationTest, SharedControllerServesSeveralDisks) {
  Dict a = sataDisk("disk0"), b = sataDisk("disk1");
  for (Dict* d : {&a, &b}) {
    Array& ancestors = *d->find("ancestors")->ifArray();
    ancestors[2].ifDict()->set("id", "ahci");
  }
  TestMachine m{a, b};
  auto all = KVSMARTDevice::driveInformation();
  ASSERT_TRUE(all);
  EXPECT_EQ(all->size(), 2u);
  EXPECT_EQ(all->getDict("disk1")->stringOr("deviceLocation"), "Bay 1");
}

TEST(SystemVersionTest, TenThirteenOrLater) {
  struct Case {
    std::optional<const char*> version;
    bool expected;
  } cases[] = {
      {"10.12.6", false}, {"10.13", true}, {"10.15.7", true}, {"11.2", true},
      {"10.9", false},    {"10.13.0", true}, {std::nullopt, false}, {"", false},
  };
  for (const Case& c : cases) {
    Dict machine;
    if (c.version) machine.set("systemVersion", *c.version);
    TestMachine m(machine);
    EXPECT_EQ(KVSMARTDevice::isOSX1013(), c.expected) << c.version.value_or("(missing)");
  }
}

}  // namespace
}  // namespace sentrel
