// The refresh of a device and its readers: the NVMe readers, or the ATA
// readers in their fixed order inside one opening of the ATA SMART access,
// then the refinement of a generic drive type. Each ATA reader reads its
// sectors through the open access, decodes them with the pure decoders of
// this folder and writes its keys into the device properties.

#include <algorithm>
#include <array>

#include "ata/attribute_table.h"
#include "ata/capabilities.h"
#include "ata/drive_type.h"
#include "ata/error_log.h"
#include "ata/health_verdict.h"
#include "ata/log_directory.h"
#include "ata/selftest_log.h"
#include "nvme/nvme_health.h"
#include "sentrel/drive_database.h"
#include "sentrel/keys.h"
#include "sentrel/nvme.h"
#include "sentrel/smart_device.h"

namespace sentrel {

namespace {

constexpr std::uint8_t kLogDirectory = 0;
constexpr std::uint8_t kSummaryErrorLog = 1;
constexpr std::uint8_t kSelfTestLog = 6;

using SectorBuffer = std::array<std::uint8_t, platform::kSectorSize>;

// One page of a SMART log; nothing when there is no open access or the
// drive refuses the read (a read that fails counts as a sector that fails
// validation).
std::optional<SectorBuffer> readLogPage(platform::AtaSmartInterface* ata, std::uint8_t address) {
  if (!ata) return std::nullopt;
  SectorBuffer sector{};
  if (ata->readSmartLog(address, sector) != platform::kSuccess) return std::nullopt;
  return sector;
}

void refineDriveType(Dict& props) {
  if (props.stringOr(keys::kDriveType) != "Generic") return;
  const Dict* vsa = props.getDict(keys::kVsaDict);
  if (!vsa) return;
  for (const auto& e : *vsa) {
    const Dict* plain = e.value.ifDict();
    if (plain && ata::namesRotatingMedia(plain->stringOr(keys::kAttributeName))) {
      props.set(keys::kDriveType, "HDD");
      return;
    }
  }
}

}  // namespace

std::shared_ptr<Dict> KVSMARTDevice::updateProperties() {
  std::shared_ptr<Dict> props = driveProperties();
  if (!props) return nullptr;
  failure_.reset();
  verdict_ = {};
  attributeRows_.clear();
  selfTestEntries_.clear();
  nvmeHealthLog_.reset();

  if (props->getBool(keys::kIsNVMe).value_or(false)) {
    auto reader = std::make_shared<kvNVMe>();
    nvmeDrive_ = reader;
    const Value* service = props->find(keys::kRegistryService);
    auto reading = reader->readNVMeForService(
        static_cast<std::uint32_t>(service ? service->toUInt().value_or(0) : 0));
    if (!reading || !reading->contains(keys::kPercentRemaining)) {
      // The namespace's reading stands in; the controller's failure only
      // matters when it cannot.
      std::optional<platform::Failure> controllerFailure = reader->lastFailure();
      std::optional<std::string> uuid;
      if (const std::string* s = props->getString(keys::kNamespaceUUID)) uuid = *s;
      reading = reader->readNVMeUUID(uuid);
      if (controllerFailure && !(reading && reading->contains(keys::kPercentRemaining)))
        noteFailure(std::move(*controllerFailure));
    }
    nvmeHealthLog_ = reader->lastHealthLog();
    if (reading) {
      for (const auto& e : *reading) props->set(e.key, e.value);
      if (auto warning = reading->find(keys::kCriticalWarning)) {
        verdict_ = nvme::judgeNvmeHealth(static_cast<std::uint8_t>(warning->toUInt().value_or(0)));
      }
    }
    if (auto f = reader->lastFailure()) noteFailure(std::move(*f));
  } else {
    if (!openInterface()) return nullptr;
    if (enableSMART(true) != 0) {
      closeInterface();
      return nullptr;
    }
    identifyDevice();
    capabilities();
    capabilitiesArray();
    selfTests();
    attributes();
    selftestLog();
    logDirectory();
    errorLog();
    closeInterface();
  }
  refineDriveType(*props);
  return props;
}

std::optional<Array> KVSMARTDevice::attributes() {
  std::shared_ptr<Dict> props = driveProperties();
  if (!sif_ || !props) return std::nullopt;
  SectorBuffer data{}, thresholds{};
  const bool read = sif_->readSmartData(data) == 0;
  // Why the health is unknown, noted before a later command's failure.
  if (!read) {
    if (auto f = sif_->lastFailure()) noteFailure(std::move(*f));
  }
  if (!read || !ata::smartDataRevisionAccepted(data) || sif_->validateSmartData(data) != 0) {
    verdict_ = ata::unusableSmartData();
    props->set(keys::kAttributeHealth, verdict_.word);
    props->set(keys::kHealthLower, verdict_.word);
    return std::nullopt;
  }
  bool exceeded = false;
  if (sif_->reportStatus(exceeded) != 0) exceeded = false;
  if (sif_->readSmartThresholds(thresholds) != 0) thresholds.fill(0);

  auto entry = KVSmartDeviceDatabase::lookupDriveModel(props->stringOr(keys::kDeviceModel),
                                                       props->stringOr(keys::kFirmwareVersion));
  auto defaults = KVSmartDeviceDatabase::defaultEntry();
  ata::AttributeTable table =
      ata::buildAttributeTable(data, thresholds, entry.get(), defaults.get());
  const bool anyFlagged = !table.attention.empty();
  attributeRows_ = std::move(table.rows);
  verdict_ = ata::judgeAtaHealth(exceeded, std::move(table.attention));

  if (table.temperature) props->set(keys::kTemperature, static_cast<unsigned>(*table.temperature));
  if (table.powerOnHours) props->set(keys::kPowerOnHours, *table.powerOnHours);
  props->set(keys::kVsaDict, std::move(table.plain));
  props->set(keys::kModelFamily, entry ? entry->modelfamily : "-");
  props->set(keys::kVendorSpecificAttributes, table.display);
  props->set(keys::kHealth, exceeded ? keys::kFailed : keys::kPassed);
  props->set(keys::kAttributeHealth, verdict_.word);
  props->set(keys::kHealthColor, anyFlagged ? Color::red : Color::blue);
  return std::move(table.display);
}

Dict KVSMARTDevice::capabilities() {
  std::shared_ptr<Dict> props = driveProperties();
  platform::AtaSmartInterface* ata = sif();
  if (!props || !ata) return Dict{};
  SectorBuffer sector{};
  // A failed read leaves nothing worth decoding: store nothing rather than
  // a zero sector's "never started" and "Pass 100%".
  if (ata->readSmartData(sector) != platform::kSuccess) return Dict{};
  Dict caps = ata::decodeCapabilities(sector);
  for (const auto& e : caps) props->set(e.key, e.value);
  return caps;
}

Array KVSMARTDevice::capabilitiesArray() {
  std::shared_ptr<Dict> props = driveProperties();
  if (!props) return Array{};
  Array pairs = ata::capabilityPairs(*props);
  props->set(keys::kCapArray, pairs);
  return pairs;
}

Array KVSMARTDevice::selfTests() {
  std::shared_ptr<Dict> props = driveProperties();
  if (!props) return Array{};
  Array tests = ata::selfTestList(*props);
  props->set(keys::kSelftests, tests);
  return tests;
}

Array KVSMARTDevice::selftestLog() {
  std::shared_ptr<Dict> props = driveProperties();
  auto sector = readLogPage(sif(), kSelfTestLog);
  if (!props || !sector) return Array{};
  auto entries = ata::decodeSelfTestEntries(*sector);
  if (!entries) return Array{};
  Array results;
  for (const SelfTestEntry& e : *entries) results.push_back(ata::selfTestEntryDict(e));
  selfTestEntries_ = std::move(*entries);
  props->set(keys::kSelftestResults, results);
  return results;
}

Array KVSMARTDevice::logDirectory() {
  std::shared_ptr<Dict> props = driveProperties();
  if (!props) return Array{};
  ata::LogDirectory dir;
  if (auto sector = readLogPage(sif(), kLogDirectory)) dir = ata::decodeLogDirectory(*sector);
  props->set(keys::kLogs, dir.logs);
  props->set(keys::kLogDir, std::move(dir.logDir));
  return std::move(dir.logs);
}

void KVSMARTDevice::errorLog() {
  std::shared_ptr<Dict> props = driveProperties();
  auto sector = readLogPage(sif(), kSummaryErrorLog);
  if (!props || !sector) return;
  std::optional<Dict> log = ata::decodeErrorLog(*sector);
  if (!log) return;
  for (const auto& e : *log) props->set(e.key, e.value);
}

}  // namespace sentrel
