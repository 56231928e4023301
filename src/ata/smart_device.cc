// The device object: its class operations (discovery, the raw-value
// formats and the command vocabulary, each kept by its own module), making
// a device from a drive record, opening and closing the ATA SMART access,
// and the few commands that change the drive (enable SMART, start a
// self-test, disable SMART to abort one). The refresh and its readers are
// in device_refresh.cc.
#include "sentrel/smart_device.h"

#include <array>
#include <cstdio>

#include "ata/attribute_table.h"
#include "ata/capabilities.h"
#include "ata/command_vocabulary.h"
#include "ata/error_log.h"
#include "ata/raw_value.h"
#include "core/text.h"
#include "discovery/drive_records.h"
#include "sentrel/keys.h"

namespace sentrel {

namespace {

using platform::Status;

constexpr int kOpenAttempts = 5;
constexpr std::chrono::milliseconds kOpenRetryWait{100};

// Drives whose identify read is skipped on 10.13 and later.
constexpr std::array<std::string_view, 4> kIdentifySkipModels{
    "LaCie   2big v2 THB USB3 Raid 0",
    "LaCie   2big v2 THB USB3 Raid 1",
    "ST3000DM001-1ER166",
    "ST4000DX002-1H2178",
};

bool shouldRetryOpen(Status s) {
  return s == platform::kNoResources || s == platform::kUnsupported;
}

}  // namespace

// ---- Class operations ----

void KVSMARTDevice::initialize() {
  discovery::refreshSystemVersion();
}

bool KVSMARTDevice::isOSX1013() {
  return discovery::isOSX1013();
}

std::optional<Dict> KVSMARTDevice::driveInformation() {
  return discovery::enumerateDriveRecords();
}

std::optional<Dict> KVSMARTDevice::settingsForBSDName(std::optional<std::string_view> bsdName) {
  return discovery::driveRecord(bsdName);
}

std::string KVSMARTDevice::commandName(std::uint32_t command) {
  return ata::commandName(command);
}

std::string KVSMARTDevice::command(std::uint32_t command, std::uint32_t feature) {
  return ata::subcommandName(command, feature);
}

std::string KVSMARTDevice::error(std::uint32_t error) {
  return ata::errorBitNames(error);
}

std::string KVSMARTDevice::status(std::uint32_t status) {
  return ata::statusText(status);
}

std::string KVSMARTDevice::state(std::uint32_t state) {
  return ata::deviceStateName(state);
}

std::string KVSMARTDevice::binaryString(std::uint64_t value, std::uint32_t length) {
  return ata::binaryString(value, length);
}

std::string KVSMARTDevice::decodeRawAttribute(std::span<const std::uint8_t, 12> slot,
                                              std::string_view fmt) {
  return ata::decodeRawAttribute(slot, fmt);
}

std::span<const std::string_view> KVSMARTDevice::rawFormatNames() {
  return ata::kRawFormats;
}

bool KVSMARTDevice::raw(std::span<const std::uint8_t, 6> raw, std::int8_t minidx,
                        std::int8_t maxidx, std::uint8_t otc, std::span<std::int16_t, 4> temp) {
  ata::Temperatures t{};
  bool ok = ata::readTemperatures(raw, minidx, maxidx, otc, t);
  std::copy(t.begin(), t.end(), temp.begin());
  return ok;
}

bool KVSMARTDevice::temp(std::uint8_t index, std::uint8_t low, std::uint8_t high, std::uint8_t,
                         std::span<const std::uint8_t, 6> raw) {
  return ata::temperatureInRange(index, low, high, raw);
}

std::string KVSMARTDevice::msToTime(std::uint32_t milliseconds) {
  return ata::msToTime(milliseconds);
}

std::string KVSMARTDevice::stringFromCStringSwapped(std::span<std::uint8_t> buffer,
                                                    std::int32_t length) {
  std::size_t n = length <= 0 ? 0 : std::min(buffer.size(), static_cast<std::size_t>(length));
  if (n >= 2) {
    for (std::size_t i = 0; i + 1 < n; i += 2) std::swap(buffer[i], buffer[i + 1]);
  }
  std::string_view bytes(reinterpret_cast<const char*>(buffer.data()), n);
  std::string_view decoded = text::isValidUtf8(bytes) ? bytes : std::string_view(" ");
  decoded = decoded.substr(0, decoded.find('\0'));
  return std::string(text::trimWhitespace(decoded));
}

// ---- Making a device ----

std::unique_ptr<KVSMARTDevice> KVSMARTDevice::deviceWithBSDName(
    std::optional<std::string_view> bsdName) {
  auto record = settingsForBSDName(bsdName);
  if (!record) return nullptr;
  return deviceWithSetting(*record);
}

std::unique_ptr<KVSMARTDevice> KVSMARTDevice::deviceWithSetting(const Dict& setting) {
  return std::make_unique<KVSMARTDevice>(setting);
}

KVSMARTDevice::KVSMARTDevice() : driveProperties_(std::make_shared<Dict>()) {}

KVSMARTDevice::KVSMARTDevice(const Dict& setting)
    : driveProperties_(std::make_shared<Dict>(setting)) {}

KVSMARTDevice::~KVSMARTDevice() {
  closeInterface();
}

// ---- The ATA SMART access ----

bool KVSMARTDevice::openInterface() {
  closeInterface();
  std::shared_ptr<Dict> props = driveProperties();
  const Value* bsd = props ? props->find(keys::kBsdName) : nullptr;
  std::string bsdName = text::formatObject(bsd ? *bsd : Value());
  const Value* serviceValue = props ? props->find(keys::kRegistryService) : nullptr;
  auto service =
      static_cast<platform::RegistryEntry>(serviceValue ? serviceValue->toUInt().value_or(0) : 0);

  platform::Platform& p = platform::current();
  int retries = 0;
  Status plugInStatus = 0;
  Status interfaceStatus = -1;
  platform::Failure why;
  for (;;) {
    why = {};
    plugInStatus = p.plugIns->createAtaPlugIn(service, pif_, &why);
    if (plugInStatus == 0) break;
    pif_.reset();
    if (!shouldRetryOpen(plugInStatus)) break;
    p.clock->sleep(kOpenRetryWait);
    if (++retries == kOpenAttempts) break;
  }
  if (plugInStatus == 0) {
    interfaceStatus = pif_->queryInterface(sif_);
    if (interfaceStatus == 0 && sif_) return true;
    why = platform::failureOfCommand("", "opening the SMART interface", interfaceStatus);
    sif_.reset();
    pif_.reset();
  } else if (!why.failed()) {
    why = platform::failureOfCommand("", "opening the SMART access", plugInStatus);
  }
  noteFailure(std::move(why));
  char line[256];
  std::snprintf(line, sizeof line,
                "KVSMARTDevice openInterface fail  retries: %d plugin: %X  interface: %X  "
                "bsdname: %s",
                retries, static_cast<unsigned>(plugInStatus),
                static_cast<unsigned>(interfaceStatus), bsdName.c_str());
  p.log->nslog(line);
  return false;
}

void KVSMARTDevice::closeInterface() {
  if (sif_) {
    if (auto f = sif_->lastFailure()) noteFailure(std::move(*f));
  }
  sif_.reset();
  pif_.reset();
}

void KVSMARTDevice::noteFailure(platform::Failure failure) {
  if (!failure_) failure_ = std::move(failure);
}

Status KVSMARTDevice::enableSMART(bool enable) {
  if (!sif_) return platform::kNoDevice;
  return sif_->enableOperations(enable);
}

Dict KVSMARTDevice::identifyDevice() {
  std::shared_ptr<Dict> props = driveProperties();
  const std::string* model = props ? props->getString(keys::kDeviceModel) : nullptr;
  bool skipped = false;
  if (model && isOSX1013()) {
    for (std::string_view m : kIdentifySkipModels) skipped = skipped || *model == m;
  }
  if (!skipped && sif_) {
    std::array<std::uint8_t, platform::kSectorSize> scratch{};
    sif_->readIdentify(scratch);
  }
  return Dict{};
}

Status KVSMARTDevice::startSelftest(std::string_view testName) {
  if (testName != "Short" && testName != "Extended") return platform::kGeneralError;
  if (!sif_) return platform::kNoDevice;
  return sif_->runOfflineImmediate(testName == "Extended");
}

void KVSMARTDevice::abortSelftest() {
  enableSMART(false);
}

Status KVSMARTDevice::runSelfTest(std::uint8_t subcommand) {
  if (!sif_) return platform::kNoDevice;
  return sif_->executeOfflineImmediate(subcommand);
}

PowerMode KVSMARTDevice::powerMode() {
  if (!sif_) return PowerMode::unknown;
  std::uint8_t count = 0;
  Status s = sif_->checkPowerMode(count);
  if (s == platform::kSuccess) return powerModeOfRegister(count);
  // A drive asleep answers nothing; one that cannot tell refuses.
  auto failure = sif_->lastFailure();
  bool silent = s == platform::kNoDevice || (failure && failure->kind == platform::Failure::Kind::noResponse);
  return silent ? PowerMode::sleep : PowerMode::unknown;
}

std::optional<std::uint8_t> KVSMARTDevice::selfTestExecutionStatus() {
  if (!sif_) return std::nullopt;
  std::array<std::uint8_t, platform::kSectorSize> data{};
  if (sif_->readSmartData(data) != platform::kSuccess || !ata::smartDataRevisionAccepted(data) ||
      sif_->validateSmartData(data) != platform::kSuccess)
    return std::nullopt;
  return ata::selfTestExecutionStatus(data);
}

}  // namespace sentrel
