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
// elements balanced and known to the property list format, its text
// escaped; and the library's own reader must read it back to the values
// that were written.
#include <cstddef>
#include <cstdint>
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

Value sectorValue(const std::vector<std::uint8_t>& bytes, bool fails) {
  if (fails) return Value(Dict{{"status", "0xE00002BC"}});
  return Value(Dict{{"$hex", sentrel::toHex(Data(bytes.begin(), bytes.end()))}});
}

Dict ataBlock(FuzzInput& in, std::uint8_t failing, bool exceeded) {
  Dict block{{"thresholdExceeded", exceeded}};
  block.set("identify", sectorValue(in.block(512), failing & 1));
  block.set("smartData", sectorValue(in.block(512), failing & 2));
  block.set("thresholds", sectorValue(in.block(512), failing & 4));
  Dict logs;
  logs.set("0", sectorValue(in.block(512), failing & 8));
  logs.set("1", sectorValue(in.block(512), failing & 16));
  logs.set("6", sectorValue(in.block(512), failing & 32));
  block.set("logs", std::move(logs));
  return block;
}

Dict nvmeBlock(FuzzInput& in, std::uint8_t failing) {
  Dict block;
  block.set("version", in.u16());
  block.set("revision", in.u16());
  block.set("identify", sectorValue(in.block(4096), failing & 1));
  block.set("health", sectorValue(in.block(512), failing & 2));
  block.set("errorLog", sectorValue(in.block(4096), failing & 4));
  block.set("firmwareLog", sectorValue(in.block(512), failing & 8));
  return block;
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
    entry.set("nvme", nvmeBlock(in, failing));
  } else {
    drive.set("SMART Capable", true);
    entry.set("ata", ataBlock(in, failing, kind & 2));
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

char32_t nextCodePoint(std::string_view s, std::size_t& i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  const std::size_t n = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
  char32_t cp = n == 0 ? c : n == 1 ? c & 0x1F : n == 2 ? c & 0x0F : c & 0x07;
  for (std::size_t k = 1; k <= n; ++k) cp = cp << 6 | (b(i + k) & 0x3F);
  i += n + 1;
  return cp;
}

bool knownElement(std::string_view name) {
  for (std::string_view known :
       {"plist", "dict", "array", "key", "string", "integer", "real", "true", "false", "data"}) {
    if (name == known) return true;
  }
  return false;
}

// Structure and characters, independently of the library's reader.
void checkDocument(const std::string& xml) {
  if (!sentrel::fuzz::wellFormedUtf8(xml)) fail("the document is not UTF-8", xml);
  for (std::size_t i = 0; i < xml.size();) {
    if (!xmlChar(nextCodePoint(xml, i))) fail("a character XML does not admit", xml);
  }
  constexpr std::string_view kProlog =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist ";
  if (!xml.starts_with(kProlog)) fail("the document lacks its prolog", xml);
  std::size_t at = xml.find('>', kProlog.size());
  if (at == std::string::npos) fail("unterminated DOCTYPE", xml);
  ++at;

  std::vector<std::string_view> open;
  bool rootSeen = false;
  while (at < xml.size()) {
    const std::size_t lt = xml.find('<', at);
    const std::string_view text(xml.data() + at, (lt == std::string::npos ? xml.size() : lt) - at);
    if (text.find('>') != std::string_view::npos) fail("an unescaped '>' in text", xml);
    for (std::size_t amp = text.find('&'); amp != std::string_view::npos;
         amp = text.find('&', amp + 1)) {
      const std::string_view rest = text.substr(amp);
      if (!rest.starts_with("&amp;") && !rest.starts_with("&lt;") && !rest.starts_with("&gt;")) {
        fail("an unescaped '&' in text", xml);
      }
    }
    if (open.empty() && text.find_first_not_of(" \t\n") != std::string_view::npos) {
      fail("text outside the root element", xml);
    }
    if (lt == std::string::npos) break;
    const std::size_t gt = xml.find('>', lt);
    if (gt == std::string::npos) fail("an unterminated tag", xml);
    std::string_view tag(xml.data() + lt + 1, gt - lt - 1);
    at = gt + 1;
    if (tag.starts_with("/")) {
      if (open.empty() || open.back() != tag.substr(1))
        fail("a closing tag that does not match", xml);
      open.pop_back();
      continue;
    }
    const bool selfClosing = tag.ends_with("/");
    if (selfClosing) tag.remove_suffix(1);
    const std::string_view name = tag.substr(0, tag.find(' '));
    if (!knownElement(name)) fail("an element unknown to property lists", xml);
    if (open.empty()) {
      if (rootSeen || name != "plist") fail("a second root, or a root that is not <plist>", xml);
      rootSeen = true;
    }
    if (!selfClosing) open.push_back(name);
  }
  if (!open.empty() || !rootSeen) fail("unbalanced elements", xml);
}

// A text as the document carries it: the characters XML cannot hold are
// written as U+FFFD.
std::string asWritten(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    if (xmlChar(nextCodePoint(text, i))) {
      out.append(text.substr(start, i - start));
    } else {
      out += "\xEF\xBF\xBD";
    }
  }
  return out;
}

// The library's reader gives back what was written, as property lists hold
// it: display values become their plain forms, numbers keep their values.
void checkReadBack(const Value& written, const Value& read, const std::string& xml) {
  const auto mismatch = [&](const char* what) { fail(what, xml); };
  if (const sentrel::Image* image = written.ifImage()) {
    checkReadBack(
        Value(Dict{{"image", image->name}, {"width", image->width}, {"height", image->height}}),
        read, xml);
    return;
  }
  if (const Dict* d = written.ifDict()) {
    const Dict* r = read.ifDict();
    if (!r || r->size() != d->size()) mismatch("a dictionary read back differently");
    auto ri = r->begin();
    for (const auto& e : *d) {
      if (ri->key != asWritten(e.key)) mismatch("a key read back differently");
      checkReadBack(e.value, ri->value, xml);
      ++ri;
    }
  } else if (const Array* a = written.ifArray()) {
    const Array* r = read.ifArray();
    if (!r || r->size() != a->size()) mismatch("an array read back differently");
    for (std::size_t i = 0; i < a->size(); ++i) checkReadBack((*a)[i], (*r)[i], xml);
  } else if (const std::string* s = written.ifString()) {
    if (!read.ifString() || *read.ifString() != asWritten(*s)) {
      mismatch("a string read back differently");
    }
  } else if (const sentrel::StyledText* t = written.ifStyledText()) {
    if (!read.ifString() || *read.ifString() != asWritten(t->text))
      mismatch("a styled text read back differently");
  } else if (written.ifColor()) {
    if (!read.ifString()) mismatch("a colour read back as no string");
  } else if (const bool* b = written.ifBool()) {
    if (!read.ifBool() || *read.ifBool() != *b) mismatch("a boolean read back differently");
  } else if (const std::int64_t* n = written.ifInt()) {
    const bool same =
        (read.ifInt() && *read.ifInt() == *n) ||
        (read.ifUInt() && *n >= 0 && *read.ifUInt() == static_cast<std::uint64_t>(*n));
    if (!same) mismatch("an integer read back differently");
  } else if (const std::uint64_t* u = written.ifUInt()) {
    const bool same =
        (read.ifUInt() && *read.ifUInt() == *u) ||
        (read.ifInt() && *read.ifInt() >= 0 && static_cast<std::uint64_t>(*read.ifInt()) == *u);
    if (!same) mismatch("an unsigned integer read back differently");
  } else if (written.ifReal() || written.ifReal32()) {
    if (!read.ifReal() && !read.ifReal32()) mismatch("a real read back as no real");
  } else if (const Data* data = written.ifData()) {
    if (!read.ifData() || *read.ifData() != *data) mismatch("data read back differently");
  } else if (written.kind() == Value::Kind::null) {
    if (!read.ifString() || !read.ifString()->empty())
      mismatch("null read back as no empty string");
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
