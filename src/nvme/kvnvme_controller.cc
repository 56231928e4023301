// readNVMeForService: the NVMe health reading of one controller, read
// through the NVMe SMART plug-in and decoded once the plug-in is gone.
#include <array>

#include "nvme/nvme_health.h"
#include "nvme/nvme_identify.h"
#include "nvme/nvme_logs.h"
#include "sentrel/keys.h"
#include "sentrel/nvme.h"
#include "sentrel/platform.h"

namespace sentrel {

namespace {

// The four pages of one reading. A read that fails leaves its page zero, and
// zeros are decoded like any other data.
struct ControllerPages {
  std::array<std::uint8_t, nvme::kIdentifySize> identify{};
  std::array<std::uint8_t, nvme::kHealthSize> health{};
  std::array<std::uint8_t, nvme::kErrorLogSize> errorLog{};
  std::array<std::uint8_t, nvme::kFirmwareLogSize> firmwareLog{};
  std::uint16_t version = 0;
  std::uint16_t revision = 0;
};

constexpr std::uint8_t kErrorInformationLog = 1;
constexpr std::uint8_t kHealthInformationLog = 2;
constexpr std::uint8_t kFirmwareSlotLog = 3;

// Transfer lengths in 32-bit words, minus one.
constexpr std::uint32_t dwordsMinusOne(std::size_t bytes) {
  return static_cast<std::uint32_t>(bytes / 4 - 1);
}

// A page whose read failed holds whatever the interface left there; it
// becomes a zero page.
template <std::size_t N>
void zeroUnlessRead(platform::Status status, std::array<std::uint8_t, N>& page) {
  if (status != platform::kSuccess) page.fill(0);
}

// A failed read does not end the reading: it is a zero page.
void readPages(platform::NvmeSmartInterface& nvmeInterface, ControllerPages& pages) {
  pages.version = nvmeInterface.version();
  pages.revision = nvmeInterface.revision();
  zeroUnlessRead(nvmeInterface.readIdentifyData(pages.identify, 0), pages.identify);
  zeroUnlessRead(nvmeInterface.readLogPage(pages.health, kHealthInformationLog,
                                           dwordsMinusOne(nvme::kHealthSize)),
                 pages.health);
  zeroUnlessRead(nvmeInterface.readLogPage(pages.errorLog, kErrorInformationLog,
                                           dwordsMinusOne(nvme::kErrorLogSize)),
                 pages.errorLog);
  zeroUnlessRead(nvmeInterface.readLogPage(pages.firmwareLog, kFirmwareSlotLog,
                                           dwordsMinusOne(nvme::kFirmwareLogSize)),
                 pages.firmwareLog);
}

}  // namespace

std::optional<Dict> kvNVMe::readNVMeForService(std::uint32_t service) {
  ControllerPages pages;
  failure_.reset();
  healthLog_.reset();
  if (service == 0) return std::nullopt;

  platform::Platform& p = platform::current();
  {
    std::unique_ptr<platform::NvmeSmartPlugIn> plugIn;
    platform::Failure why;
    platform::Status s = p.plugIns->createNvmePlugIn(service, plugIn, &why);
    if (s != platform::kSuccess || !plugIn) {
      noteFailure(why.failed() ? why
                               : platform::failureOfCommand("", "opening the NVMe access", s));
      p.log->nslog("Lost connection to plugin");
      return std::nullopt;
    }
    std::unique_ptr<platform::NvmeSmartInterface> nvmeInterface;
    s = plugIn->queryInterface(nvmeInterface);
    if (s != platform::kSuccess || !nvmeInterface) {
      noteFailure(platform::failureOfCommand("", "opening the NVMe interface", s));
      return std::nullopt;  // leaving the scope destroys the plug-in
    }
    readPages(*nvmeInterface, pages);
    if (auto f = nvmeInterface->lastFailure()) noteFailure(std::move(*f));
    nvmeInterface.reset();  // the interface is released before its plug-in
  }

  nvme::IdentifyView identify(pages.identify);
  nvme::HealthView health(pages.health);

  Dict reading = nvme::controllerIdentifySummary(identify, pages.version, pages.revision);
  if (nvme::identifyLacksText(identify)) {
    for (const std::string& line : nvme::identifyDiagnosticLines(reading, identify))
      p.log->nslog(line);
  }

  nvme::HealthBadge verdict = nvme::healthBadge(health[0]);
  healthLog_ = nvme::decodeHealthLog(health);
  for (const auto& e :
       nvme::controllerHealthSummary(health, p.bundles->systemImage(verdict.iconName)))
    reading.set(e.key, e.value);

  reading.set(keys::kErrorLog, nvme::errorLogEntries(nvme::ErrorLogView(pages.errorLog)));
  reading.set("powerStates", nvme::powerStates(identify));
  nvme::addFirmwareSlots(reading, identify, nvme::FirmwareLogView(pages.firmwareLog));
  return reading;
}

}  // namespace sentrel
