// The refresh of a device: the NVMe readers, or the ATA readers in their
// fixed order inside one opening of the ATA SMART access, then the
// refinement of a generic drive type.
#include <unicode/regex.h>

#include "sentrel/nvme.h"
#include "sentrel/smart_device.h"

namespace sentrel {

namespace {

// True when a name contains a word that only rotating drives report.
bool namesRotatingMedia(const std::string& name) {
  static const icu::UnicodeString pattern("seek|spin|head|fly");
  UErrorCode status = U_ZERO_ERROR;
  thread_local std::unique_ptr<icu::RegexPattern> compiled(
      icu::RegexPattern::compile(pattern, UREGEX_CASE_INSENSITIVE, status));
  if (!compiled) return false;
  status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> m(
      compiled->matcher(icu::UnicodeString::fromUTF8(name), status));
  return U_SUCCESS(status) && m->find();
}

void refineDriveType(Dict& props) {
  if (props.stringOr("Drive Type") != "Generic") return;
  const Dict* vsa = props.getDict("vsaDict");
  if (!vsa) return;
  for (const auto& e : *vsa) {
    const Dict* plain = e.value.ifDict();
    if (plain && namesRotatingMedia(plain->stringOr("attributeName"))) {
      props.set("Drive Type", "HDD");
      return;
    }
  }
}

}  // namespace

std::shared_ptr<Dict> KVSMARTDevice::updateProperties() {
  std::shared_ptr<Dict> props = driveProperties();
  if (!props) return nullptr;

  if (props->getBool("isNVMe").value_or(false)) {
    auto reader = std::make_shared<kvNVMe>();
    nvmeDrive_ = reader;
    const Value* service = props->find("registryService");
    auto reading = reader->readNVMeForService(
        static_cast<std::uint32_t>(service ? service->toUInt().value_or(0) : 0));
    if (!reading || !reading->contains("percentRemaining")) {
      std::optional<std::string> uuid;
      if (const std::string* s = props->getString("NamespaceUUID")) uuid = *s;
      reading = reader->readNVMeUUID(uuid);
    }
    if (reading) {
      for (const auto& e : *reading) props->set(e.key, e.value);
    }
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

}  // namespace sentrel
