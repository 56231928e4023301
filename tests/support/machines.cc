#include "support/machines.h"

#include "sentrel/value_io.h"

namespace sentrel::testing {

Dict sataDisk(const std::string& bsd) {
  Dict drive{
      {"Serial Number", "  WD-WCC6Y0ABCDEF  "},
      {"Model", "WDC WD10EZEX-08WN4A0 "},
      {"Device Characteristics", Dict{{"Medium Type", "Rotational"},
                                      {"Rotation Rate", 7200},
                                      {"Product Revision Level", " 01.01A01 "}}},
      {"Protocol Characteristics",
       Dict{{"Physical Interconnect", "SATA"}, {"Physical Interconnect Location", "Internal"}}},
      {"SMART Capable", true},
  };
  Dict disk{
      {"description", Dict{{"DAMediaBSDName", bsd},
                           {"DAMediaContent", "GUID_partition_scheme"},
                           {"DAMediaWhole", true},
                           {"DAMediaName", "WDC WD10EZEX Media"},
                           {"DAMediaSize", std::uint64_t{1000204886016}},
                           {"DAMediaBlockSize", 4096},
                           {"DADeviceInternal", true},
                           {"DAMediaRemovable", false}}},
      {"properties", Dict{{"BSD Name", bsd}}},
      {"descendants", Array{}},
      {"ancestors",
       Array{Value(Dict{{"name", "IOBlockStorageDriver"}, {"class", "IOBlockStorageDriver"}}),
             Value(Dict{{"name", "IOAHCIBlockStorageDevice"},
                        {"class", "IOAHCIBlockStorageDevice"},
                        {"properties", drive},
                        {"ata", Dict{{"smartData", sector()}}}}),
             Value(Dict{{"name", "AppleAHCI"},
                        {"class", "AppleAHCI"},
                        {"properties", Dict{{"io-device-location", Data{'B', 'a', 'y', ' ', '1'}}}}})}},
  };
  return disk;
}

namespace {
Dict& ancestorAt(Dict& disk, std::size_t i) {
  return *disk.find("ancestors")->ifArray()->at(i).ifDict();
}
Dict& child(Dict& d, const std::string& key) {
  if (!d.find(key)) d.set(key, Dict{});
  return *d.find(key)->ifDict();
}
}  // namespace

Dict& description(Dict& disk) { return child(disk, "description"); }
Dict& driveEntry(Dict& disk) { return child(ancestorAt(disk, 1), "properties"); }
Dict& ataBlock(Dict& disk) { return child(ancestorAt(disk, 1), "ata"); }
Dict& controllerEntry(Dict& disk) { return child(ancestorAt(disk, 2), "properties"); }

void addVolume(Dict& disk, const std::string& bsd, const std::string& name) {
  disk.find("descendants")
      ->ifArray()
      ->push_back(Value(Dict{{"properties", Dict{{"BSD Name", bsd}}}, {"volumeName", name}}));
}

Value sector(std::uint8_t fill) { return sector(Data(512, fill)); }
Value sector(const Data& bytes) { return Value(Dict{{"$hex", toHex(bytes)}}); }

void sealChecksum(Data& sector) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < 511; ++i) sum += sector[i];
  sector[511] = static_cast<std::uint8_t>(-sum & 0xFF);
}

Data smartDataSector(const std::vector<AttributeSlot>& slots, std::uint16_t revision) {
  Data d(512, 0);
  d[0] = static_cast<std::uint8_t>(revision);
  d[1] = static_cast<std::uint8_t>(revision >> 8);
  for (std::size_t i = 0; i < slots.size() && i < 30; ++i) {
    std::uint8_t* s = &d[2 + 12 * i];
    s[0] = slots[i].id;
    s[1] = static_cast<std::uint8_t>(slots[i].flags);
    s[2] = static_cast<std::uint8_t>(slots[i].flags >> 8);
    s[3] = slots[i].current;
    s[4] = slots[i].worst;
    for (int b = 0; b < 6; ++b) s[5 + b] = static_cast<std::uint8_t>(slots[i].raw >> (8 * b));
  }
  sealChecksum(d);
  return d;
}

Data thresholdsSector(const std::vector<AttributeSlot>& slots) {
  Data d(512, 0);
  d[0] = 16;
  for (std::size_t i = 0; i < slots.size() && i < 30; ++i) {
    d[2 + 12 * i] = slots[i].id;
    d[3 + 12 * i] = slots[i].threshold;
  }
  sealChecksum(d);
  return d;
}

}  // namespace sentrel::testing
