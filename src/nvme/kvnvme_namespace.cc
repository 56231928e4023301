// readNVMeUUID: the fallback reading, made through the registry entry that
// carries a namespace UUID. It copies a few of the entry's registry
// properties, reads identify and health data with the plug-in's own health
// operation, and reports a failure in one system-log line.
#include <array>

#include "nvme/nvme_health.h"
#include "nvme/nvme_identify.h"
#include "nvme/nvme_text.h"
#include "sentrel/keys.h"
#include "sentrel/nvme.h"
#include "sentrel/platform.h"

namespace sentrel {

namespace {

constexpr int kAlert = 1;

// The statuses of the steps that can fail, each 0 when its step succeeded
// or did not run.
struct StepStatuses {
  platform::Status plugIn = 0;
  platform::Status query = 0;
  platform::Status identify = 0;
  platform::Status data = 0;

  bool anyFailed() const { return plugIn || query || identify || data; }
};

std::string hex32(platform::Status s) {
  return nvme::hexText(static_cast<std::uint32_t>(s), 8);
}

std::string errorLine(const StepStatuses& s) {
  return "readNVMe error plugin: " + hex32(s.plugIn) + " query: " + hex32(s.query) +
         " ident: " + hex32(s.identify) + " data: " + hex32(s.data) + " ";
}

// The registry group: the characteristics dictionaries (device over
// protocol where a key is in both), three single properties when present,
// and the entry's name and class.
void addRegistryGroup(Dict& reading, platform::Registry& registry, platform::RegistryEntry entry) {
  std::string name = registry.name(entry);
  std::string className = registry.className(entry);
  Dict properties = registry.properties(entry).value_or(Dict{});
  for (keys::Key group : {keys::kProtocolCharacteristics, keys::kDeviceCharacteristics}) {
    if (const Dict* d = properties.getDict(group))
      for (const auto& e : *d) reading.set(e.key, e.value);
  }
  for (keys::Key key :
       {keys::kLogicalBlockSize, keys::kPhysicalBlockSize, keys::kNvmeSmartCapable}) {
    if (const Value* v = properties.find(key)) reading.set(key, *v);
  }
  reading.set("service_name", name);
  reading.set("service_class", className);
}

}  // namespace

std::optional<Dict> kvNVMe::readNVMeUUID(const std::optional<std::string>& uuid) {
  Dict reading;
  failure_.reset();
  healthLog_.reset();
  platform::Platform& p = platform::current();
  platform::RegistryEntry entry = p.registry->matchingService(
      Dict{{keys::kNvmeSmartCapable, true}, {keys::kNamespaceUUID, uuid.value_or("")}});
  if (entry == 0) return reading;  // nothing carries the UUID: nothing to log
  addRegistryGroup(reading, *p.registry, entry);

  std::array<std::uint8_t, nvme::kIdentifySize> identify{};
  std::array<std::uint8_t, nvme::kHealthSize> health{};
  StepStatuses status;
  std::unique_ptr<platform::NvmeSmartPlugIn> plugIn;
  std::unique_ptr<platform::NvmeSmartInterface> nvmeInterface;
  platform::Failure why;
  status.plugIn = p.plugIns->createNvmePlugIn(entry, plugIn, &why);
  if (status.plugIn != 0) noteFailure(why);
  if (status.plugIn == 0 && plugIn) {
    status.query = plugIn->queryInterface(nvmeInterface);
    if (status.query == 0 && nvmeInterface) {
      status.identify = nvmeInterface->readIdentifyData(identify, 0);
      if (status.identify == 0) status.data = nvmeInterface->readHealthData(health);
    }
  }

  if (nvmeInterface) {
    if (auto f = nvmeInterface->lastFailure()) noteFailure(std::move(*f));
  }
  if (status.anyFailed()) {
    p.log->syslog(kAlert, errorLine(status));
  } else if (nvmeInterface) {
    for (const auto& e : nvme::namespaceIdentifySummary(nvme::IdentifyView(identify)))
      reading.set(e.key, e.value);
    for (const auto& e : nvme::namespaceHealthSummary(nvme::HealthView(health)))
      reading.set(e.key, e.value);
    healthLog_ = nvme::decodeHealthLog(nvme::HealthView(health));
  }

  nvmeInterface.reset();  // the interface is released before its plug-in
  plugIn.reset();
  return reading;
}

}  // namespace sentrel
