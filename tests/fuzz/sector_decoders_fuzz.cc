// Every pure sector decoder on arbitrary bytes. The first input byte picks
// the decoder (modulo the count); the bytes after it fill the decoder's
// sectors in order, zeros standing in for what the input lacks.
//
// Beyond not crashing, each result must hold only UTF-8 text and write as
// JSON, and a few facts every result has (table sizes, the fixed key sets)
// are checked where they cost nothing.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "ata/attribute_table.h"
#include "ata/capabilities.h"
#include "ata/error_log.h"
#include "ata/log_directory.h"
#include "ata/raw_value.h"
#include "ata/selftest_log.h"
#include "fuzz_input.h"
#include "nvme/hex_dump.h"
#include "nvme/nvme_health.h"
#include "nvme/nvme_identify.h"
#include "nvme/nvme_logs.h"
#include "sentrel/smart_device.h"
#include "sentrel/value_io.h"

namespace {

using sentrel::Array;
using sentrel::Dict;
using sentrel::Value;
using sentrel::fuzz::checkText;
using sentrel::fuzz::checkTexts;
using sentrel::fuzz::fail;
using sentrel::fuzz::fixed;
using sentrel::fuzz::FuzzInput;
namespace ata = sentrel::ata;
namespace nvme = sentrel::nvme;

constexpr std::size_t kSector = 512;

// Each result holds only UTF-8 texts and writes as JSON.
template <typename... Result>
void check(const Result&... results) {
  for (const Value& v : {Value(results)...}) {
    checkTexts(v);
    sentrel::toJson(v);
  }
}

// A drive entry whose presets come from the input: for each of the first
// few attribute ids, a format from the fixed list and a name.
sentrel::DriveDatabaseEntry presetsFrom(FuzzInput& in) {
  sentrel::DriveDatabaseEntry entry;
  const std::size_t count = in.byte() % 8;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t id = in.byte();
    const std::uint8_t format = in.byte();
    std::string fmt(format < ata::kRawFormats.size() ? ata::kRawFormats[format] : "unlisted");
    entry.attribDict.push_back({std::to_string(id), fmt, "Preset " + std::to_string(id)});
  }
  return entry;
}

void attributeTable(FuzzInput& in) {
  const auto data = in.block(kSector);
  const auto thresholds = in.block(kSector);
  const sentrel::DriveDatabaseEntry entry = presetsFrom(in);
  const sentrel::DriveDatabaseEntry defaults = presetsFrom(in);
  ata::smartDataRevisionAccepted(fixed<kSector>(data));
  ata::AttributeTable table =
      ata::buildAttributeTable(fixed<kSector>(data), fixed<kSector>(thresholds), &entry, &defaults);
  if (table.display.size() > 30) fail("more display rows than slots");
  if (table.plain.size() > table.display.size()) fail("more plain rows than display rows");
  check(table.display, table.plain);
  if (table.powerOnHours) checkText(*table.powerOnHours, "power-on hours text");

  Dict capabilities = ata::decodeCapabilities(fixed<kSector>(data));
  check(capabilities, ata::selfTestList(capabilities), ata::capabilityPairs(capabilities));
}

void rawValue(FuzzInput& in) {
  const auto slot = in.block(12);
  const std::uint8_t format = in.byte();
  const std::string text = ata::decodeRawAttribute(
      fixed<12>(slot), format < ata::kRawFormats.size() ? ata::kRawFormats[format] : "other");
  checkText(text, "raw value text is not UTF-8");
  const std::uint32_t length = in.byte();
  if (ata::binaryString(slot[0] | slot[1] << 8, length).size() != std::min(length, 32u))
    fail("binaryString length");
}

void selfTestLog(FuzzInput& in) {
  const auto sector = in.block(kSector);
  std::optional<Array> log = ata::decodeSelfTestLog(fixed<kSector>(sector));
  if (log && log->size() > ata::kSelfTestSlots) fail("more self-test results than slots");
  if (log) check(*log);
}

void logDirectory(FuzzInput& in) {
  const auto sector = in.block(kSector);
  ata::LogDirectory dir = ata::decodeLogDirectory(fixed<kSector>(sector));
  if (dir.logs.size() != dir.logDir.size()) fail("log directory list and dictionary differ");
  check(dir.logs, dir.logDir);
}

void errorLog(FuzzInput& in) {
  const auto sector = in.block(kSector);
  std::optional<Dict> log = ata::decodeErrorLog(fixed<kSector>(sector));
  if (log) check(*log);  // its vocabulary names the sector's own register values
}

void ataIdentifyString(FuzzInput& in) {
  const std::int32_t length = static_cast<std::int8_t>(in.byte());
  auto bytes = in.block(in.byte());
  const std::string text = sentrel::KVSMARTDevice::stringFromCStringSwapped(bytes, length);
  checkText(text, "identify string is not UTF-8");
}

void nvmeIdentify(FuzzInput& in) {
  const std::uint16_t version = in.u16();
  const std::uint16_t revision = in.u16();
  const auto identify = in.block(nvme::kIdentifySize);
  const auto view = fixed<nvme::kIdentifySize>(identify);
  Dict summary = nvme::controllerIdentifySummary(view, version, revision);
  check(summary, nvme::namespaceIdentifySummary(view));
  nvme::identifyLacksText(view);
  for (const std::string& line : nvme::identifyDiagnosticLines(summary, view))
    checkText(line, "diagnostic line is not UTF-8");
  Array states = nvme::powerStates(view);
  if (states.size() > nvme::kPowerStateDescriptors) fail("more power states than descriptors");
  check(states);
}

void nvmeHealth(FuzzInput& in) {
  std::optional<sentrel::Image> image;
  if (in.byte() & 1) image = sentrel::Image{"checkmark.circle", 32, 32};
  const auto health = in.block(nvme::kHealthSize);
  const auto view = fixed<nvme::kHealthSize>(health);
  check(nvme::controllerHealthSummary(view, image), nvme::namespaceHealthSummary(view));
}

void nvmeErrorLog(FuzzInput& in) {
  const auto log = in.block(nvme::kErrorLogSize);
  Array entries = nvme::errorLogEntries(fixed<nvme::kErrorLogSize>(log));
  if (entries.size() > nvme::kErrorLogEntries) fail("more error entries than the page holds");
  check(entries);
}

void nvmeFirmwareLog(FuzzInput& in) {
  const auto log = in.block(nvme::kFirmwareLogSize);
  const auto identify = in.block(nvme::kIdentifySize);
  Dict reading;
  nvme::addFirmwareSlots(reading, fixed<nvme::kIdentifySize>(identify),
                         fixed<nvme::kFirmwareLogSize>(log));
  check(reading);
}

void hexDump(FuzzInput& in) {
  const std::int32_t length = static_cast<std::int16_t>(in.u16());
  const auto bytes = in.block(in.byte() * 4u);
  const std::string text = nvme::hexDumpText(bytes, length);
  if (text.size() > 2047) fail("hex dump larger than its 2048-byte buffer");
  nvme::hexDumpLogLine(length, text);
}

using Decoder = void (*)(FuzzInput&);
constexpr Decoder kDecoders[] = {
    attributeTable, selfTestLog,     logDirectory, errorLog,          nvmeIdentify, nvmeHealth,
    nvmeErrorLog,   nvmeFirmwareLog, rawValue,     ataIdentifyString, hexDump,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  FuzzInput in(data + 1, size - 1);
  kDecoders[data[0] % std::size(kDecoders)](in);
  return 0;
}
