// The XML property list of a drive whose sectors are the fuzz input: a
// simulated machine with one drive is built around them, the device is
// refreshed as a host refreshes it, and its properties and the reply made
// from them are written with toXmlPlist.
//
// Input: byte 0 picks the drive (bit 0: NVMe rather than ATA; bit 1: the
// drive reports its threshold exceeded), byte 1 says which sectors fail to
// read (one bit each, in the order below), byte 2 picks the model; the
// sectors follow in order, zeros standing in for what the input lacks:
//   ATA:  identify, SMART data, thresholds, logs 0, 1 and 6 (512 bytes each)
//   NVMe: interface version and revision (2 bytes each), identify (4096),
//         health (512), error log (4096), firmware log (512)
//
// Every document must be UTF-8 with only the characters XML allows, its
// prolog in place and its text escaped (checked here, independently of the
// library); and the library's own reader must read it back, structure and
// all, to the values that were written.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "sentrel/drive_database.h"
#include "sentrel/drivedb_parser.h"
#include "sentrel/platform.h"
#include "sentrel/plist_reader.h"
#include "sentrel/sentrel_framework.h"
#include "sentrel/sim_machine.h"
#include "sentrel/smart_device.h"
#include "sentrel/value_io.h"

namespace {

using sentrel::Array;
using sentrel::Data;
using sentrel::Dict;
using sentrel::Value;
using sentrel::fuzz::fail;
using sentrel::fuzz::FuzzInput;

// The database the drives are looked up in: the default presets and one
// family for each of the demo's drives, with raw formats of every kind.
constexpr const char* kDatabase = R"db(
  { "VERSION: 7.5/5700 2025-01-01 12:00:00", "-", "-", "", "" },
  { "DEFAULT", "-", "-", "",
    "-v 9,raw24(raw8),Power_On_Hours -v 194,tempminmax,Temperature_Celsius "
    "-v 190,tempminmax,Airflow_Temperature_Cel" },
  { "Seagate BarraCuda 3.5", "ST2000DM008-.*", "", "",
    "-v 1,raw24/raw32 -v 7,raw24/raw32 -v 9,msec24hour32 -v 240,msec24hour32 -v 188,raw16 "
    "-F xerrorlba" },
  { "Samsung based SSDs", "Samsung SSD 860 EVO .*", "", "",
    "-v 177,raw48,Wear_Leveling_Count -v 241,raw48,Total_LBAs_Written -v 235,hex56,POR_Recovery "
    "-v 12,raw16(raw16)" },
  { "Western Digital Red", "WDC WD40EFRX-.*", "", "Warning: \"quoted\" <tag> & more",
    "-v 9,halfmin2hour -v 3,raw16(avg16) -v 4,raw24(raw8) -v 5,hex48 -v 193,sec2hour "
    "-v 196,min2hour -v 199,raw64 -v 200,hex64 -v 201,raw56 -v 202,temp10x -v 203,raw8" },
};
)db";

constexpr const char* kModels[] = {"ST2000DM008-2FR102", "Samsung SSD 860 EVO 500GB",
                                   "WDC WD40EFRX-68N32N0", "UNLISTED DRIVE 1"};

sentrel::DriveDatabase database;

// Adds the named sectors, read in order from the input; bit k of `failing`
// makes the k-th fail to read.
void addSectors(Dict& block, FuzzInput& in, unsigned failing,
                std::initializer_list<std::pair<const char*, std::size_t>> named) {
  for (const auto& [name, size] : named) {
    const std::vector<std::uint8_t> bytes = in.block(size);
    block.set(name, failing & 1 ? Dict{{"status", "0xE00002BC"}}
                                : Dict{{"$hex", sentrel::toHex(Data(bytes.begin(), bytes.end()))}});
    failing >>= 1;
  }
}

std::string machineDescription(FuzzInput& in) {
  const std::uint8_t kind = in.byte();
  const std::uint8_t failing = in.byte();
  const std::string model = kModels[in.byte() % std::size(kModels)];
  const bool isNVMe = kind & 1;

  Dict drive{
      {"Serial Number", "FUZZ0001"},
      {"Model", model},
      {"Device Characteristics", Dict{{"Medium Type", isNVMe ? "Solid State" : "Rotational"},
                                      {"Product Revision Level", "0001"}}},
      {"Protocol Characteristics", Dict{{"Physical Interconnect", isNVMe ? "PCI-Express" : "SATA"},
                                        {"Physical Interconnect Location", "Internal"}}},
  };
  Dict entry{{"name", "drive"},
             {"class", isNVMe ? "IONVMeBlockStorageDevice" : "IOAHCIBlockStorageDevice"}};
  if (isNVMe) {
    drive.set("NamespaceUUID", "7D3F2A91-5C4E-4B8F-A6D2-0E9B1C47F358");
    drive.set("NVMe SMART Capable", true);
    Dict nvme{{"version", in.u16()}, {"revision", in.u16()}};
    addSectors(nvme, in, failing,
               {{"identify", 4096}, {"health", 512}, {"errorLog", 4096}, {"firmwareLog", 512}});
    entry.set("nvme", std::move(nvme));
  } else {
    drive.set("SMART Capable", true);
    Dict ata{{"thresholdExceeded", (kind & 2) != 0}}, logs;
    addSectors(ata, in, failing, {{"identify", 512}, {"smartData", 512}, {"thresholds", 512}});
    addSectors(logs, in, failing >> 3, {{"0", 512}, {"1", 512}, {"6", 512}});
    ata.set("logs", std::move(logs));
    entry.set("ata", std::move(ata));
  }
  entry.set("properties", std::move(drive));

  Dict disk{
      {"description", Dict{{"DAMediaBSDName", "disk0"},
                           {"DAMediaContent", "GUID_partition_scheme"},
                           {"DAMediaWhole", true},
                           {"DAMediaSize", std::uint64_t{2000398934016}}}},
      {"descendants", Array{Value(Dict{{"properties", Dict{{"BSD Name", "disk0s1"}}},
                                       {"volumeName", "Data & <More>"}})}},
      {"ancestors", Array{Value(Dict{{"name", "IOBlockStorageDriver"}}), Value(std::move(entry)),
                          Value(Dict{{"name", "controller"}})}},
  };
  return sentrel::toJson(Value(Dict{{"systemVersion", "13.6.1"}, {"disks", Array{Value(disk)}}}));
}

// ---- The document checks ----

// A character XML 1.0 admits in a document.
bool xmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Characters, prolog and escapes, independently of the library's reader
// (which then reads the structure back).
void checkDocument(const std::string& xml) {
  for (std::size_t i = 0; i < xml.size();) {
    const std::optional<char32_t> c = sentrel::fuzz::nextCodePoint(xml, i);
    if (!c) fail("the document is not UTF-8", xml);
    if (!xmlChar(*c)) fail("a character XML does not admit", xml);
  }
  if (!xml.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist "))
    fail("the document lacks its prolog", xml);
  // Between the tags: no '>', and '&' only as the three entities the writer uses.
  for (std::size_t gt = xml.find('>'); gt != std::string::npos; gt = xml.find('>', gt + 1)) {
    const std::string_view text(xml.data() + gt + 1,
                                std::min(xml.find('<', gt), xml.size()) - gt - 1);
    if (text.find('>') != std::string_view::npos) fail("an unescaped '>' in text", xml);
    for (std::size_t amp = text.find('&'); amp != std::string_view::npos;
         amp = text.find('&', amp + 1)) {
      const std::string_view rest = text.substr(amp);
      if (!rest.starts_with("&amp;") && !rest.starts_with("&lt;") && !rest.starts_with("&gt;"))
        fail("an unescaped '&' in text", xml);
    }
  }
}

// A text as the document carries it: the characters XML cannot hold are
// written as U+FFFD.
std::string asWritten(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const bool held = xmlChar(sentrel::fuzz::nextCodePoint(text, i).value_or(0));
    out += held ? text.substr(start, i - start) : "\xEF\xBF\xBD";
  }
  return out;
}

// The library's reader gives back what was written, as property lists hold
// it: display values become their plain forms, numbers keep their values.
void checkReadBack(const Value& written, const Value& read, const std::string& xml) {
  const auto expect = [&](bool same, const char* what) {
    if (!same) fail(what, xml);
  };
  if (const sentrel::Image* image = written.ifImage()) {
    const Dict plain{{"image", image->name}, {"width", image->width}, {"height", image->height}};
    return checkReadBack(Value(plain), read, xml);
  }
  if (const Dict* d = written.ifDict()) {
    const Dict* r = read.ifDict();
    expect(r && r->size() == d->size(), "a dictionary read back differently");
    auto ri = r->begin();
    for (const auto& e : *d) {
      expect(ri->key == asWritten(e.key), "a key read back differently");
      checkReadBack(e.value, (ri++)->value, xml);
    }
  } else if (const Array* a = written.ifArray()) {
    const Array* r = read.ifArray();
    expect(r && r->size() == a->size(), "an array read back differently");
    for (std::size_t i = 0; i < a->size(); ++i) checkReadBack((*a)[i], (*r)[i], xml);
  } else if (written.ifString() || written.ifStyledText()) {
    const std::string& text =
        written.ifString() ? *written.ifString() : written.ifStyledText()->text;
    expect(read.ifString() && *read.ifString() == asWritten(text), "a text read back differently");
  } else if (written.ifColor()) {
    expect(read.ifString(), "a colour read back as no string");
  } else if (const bool* b = written.ifBool()) {
    expect(read.ifBool() && *read.ifBool() == *b, "a boolean read back differently");
  } else if (written.ifInt() || written.ifUInt()) {
    expect((read.ifInt() || read.ifUInt()) && read.toInt() == written.toInt() &&
               read.toUInt() == written.toUInt(),
           "an integer read back differently");
  } else if (written.ifReal() || written.ifReal32()) {
    expect(read.ifReal() || read.ifReal32(), "a real read back as no real");
  } else if (const Data* data = written.ifData()) {
    expect(read.ifData() && *read.ifData() == *data, "data read back differently");
  } else if (written.kind() == Value::Kind::null) {
    expect(read.ifString() && read.ifString()->empty(), "null read back as no empty string");
  }
}

void writeAndCheck(const Value& value) {
  const std::string xml = sentrel::toXmlPlist(value);
  checkDocument(xml);
  sentrel::ReadError error;
  std::optional<Value> read = sentrel::parsePropertyList(xml, &error);
  if (!read) fail("the library cannot read its own document back", error.text() + "\n" + xml);
  checkReadBack(value, *read, xml);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::optional<sentrel::DriveDatabase> parsed = sentrel::parseDriveDatabase(kDatabase);
  if (!parsed || parsed->drives.size() != 4) fail("the fuzz database does not parse");
  database = std::move(*parsed);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const std::string json = machineDescription(in);
  sentrel::platform::Failure error;
  auto machine = sentrel::sim::Machine::fromJsonText(json, "/nonexistent", &error);
  if (!machine) fail("the fuzz machine does not load", error.message());
  sentrel::platform::ScopedPlatform installed(machine->platform());
  sentrel::KVSmartDeviceDatabase::installDriveDatabase(database);

  auto device = sentrel::KVSMARTDevice::deviceWithBSDName("disk0");
  if (!device) fail("the fuzz machine's drive is not found");
  std::shared_ptr<Dict> props = device->updateProperties();
  const Dict current = props ? *props : *device->driveProperties();
  writeAndCheck(Value(current));
  writeAndCheck(Value(sentrel::replyForDeviceProperties(props.get())));
  return 0;
}
