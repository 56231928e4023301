// The drive report of a refreshed device: its record's identity, the
// verdict, and the typed readings, with the few values the dictionaries
// only hold as text (logged errors) taken from them here, in one place.
#include <algorithm>

#include "core/text.h"
#include "sentrel/keys.h"
#include "sentrel/platform.h"
#include "sentrel/report.h"
#include "sentrel/smart_device.h"

namespace sentrel {

namespace {

constexpr std::size_t kAtaErrorLogEntries = 5;

std::uint64_t unsignedOf(const Dict& d, keys::Key key) {
  const Value* v = d.find(key);
  return v ? v->toUInt().value_or(0) : 0;
}

std::string trimmed(const Dict& d, keys::Key key) {
  return std::string(text::trimWhitespace(d.stringOr(key)));
}

// The digits a decoded raw value starts with ("30387 (0 0 0)", "1234h+05m").
std::optional<std::uint64_t> leadingCount(std::string_view s) {
  std::uint64_t n = 0;
  std::size_t i = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9' && n < UINT64_MAX / 10; ++i)
    n = n * 10 + static_cast<std::uint64_t>(s[i] - '0');
  if (i == 0) return std::nullopt;
  return n;
}

const AtaAttribute* attribute(const std::vector<AtaAttribute>& rows, std::uint8_t id) {
  auto it =
      std::find_if(rows.begin(), rows.end(), [id](const AtaAttribute& a) { return a.id == id; });
  return it == rows.end() ? nullptr : &*it;
}

// The errors of an ATA summary error log that the drive logged, newest
// first: as many of the five entries as the device error count says,
// walking back from the index of the newest.
std::vector<LoggedError> ataErrors(const Dict& p) {
  std::vector<LoggedError> out;
  const Array* entries = p.getArray(keys::kErrorLog);
  std::uint64_t count = unsignedOf(p, "errorLogCount");
  std::uint64_t index = unsignedOf(p, "errorLogIndex");
  if (!entries || entries->size() != kAtaErrorLogEntries || index == 0 ||
      index > kAtaErrorLogEntries)
    return out;
  std::size_t logged =
      static_cast<std::size_t>(std::min<std::uint64_t>(count, kAtaErrorLogEntries));
  for (std::size_t k = 0; k < logged; ++k) {
    std::size_t slot = (index - 1 + kAtaErrorLogEntries - k) % kAtaErrorLogEntries;
    const Dict* e = (*entries)[slot].ifDict();
    if (!e) continue;
    LoggedError error;
    error.number = count - k;
    std::string what(text::trimWhitespace(e->stringOr("error")));
    if (const Array* commands = e->getArray("cmnds"); commands && !commands->empty()) {
      if (const Dict* failed = (*commands)[0].ifDict())
        what += (what.empty() ? "" : " at LBA " + std::to_string(unsignedOf(*e, "lba"))) +
                " during " + failed->stringOr("command");
    }
    error.description = what;
    error.lifetimeHours = static_cast<std::uint32_t>(unsignedOf(*e, "timestamp"));
    out.push_back(std::move(error));
  }
  return out;
}

// The entries of an NVMe error information log, as the reading lists them.
std::vector<LoggedError> nvmeErrors(const Dict& p) {
  std::vector<LoggedError> out;
  const Array* entries = p.getArray(keys::kErrorLog);
  if (!entries) return out;
  for (const Value& v : *entries) {
    const Dict* e = v.ifDict();
    if (!e) continue;
    out.push_back({unsignedOf(*e, "errorCount"),
                   "status " + e->stringOr("status") + " on submission queue " +
                       std::to_string(unsignedOf(*e, "sqid")) + ", command " + e->stringOr("cmdid"),
                   std::nullopt});
  }
  return out;
}

// A dictionary value as a person reads it: booleans as yes/no.
std::string textOf(const Value& v) {
  if (const bool* b = v.ifBool()) return *b ? "yes" : "no";
  return text::formatObject(v);
}

DriveDetails ataDetails(const Dict& p) {
  DriveDetails d;
  d.offlineCollectionStatus = p.stringOr("Offline data collection status");
  d.selfTestStatus = p.stringOr("Self-test status");
  if (const Array* caps = p.getArray(keys::kCapArray)) {
    for (const Value& v : *caps) {
      const Dict* c = v.ifDict();
      const Value* value = c ? c->find("value") : nullptr;
      if (!c || !value) continue;
      std::string text = textOf(*value);
      if (!text.empty()) d.capabilities.push_back({c->stringOr("name"), text});
    }
  }
  if (const Array* tests = p.getArray(keys::kSelftests)) {
    for (const Value& v : *tests) {
      if (const Dict* t = v.ifDict())
        d.selfTestsOffered.push_back(
            {t->stringOr("name"), static_cast<std::uint32_t>(unsignedOf(*t, "pollingTime"))});
    }
  }
  if (const Array* logs = p.getArray(keys::kLogs)) {
    for (const Value& v : *logs) {
      if (const Dict* l = v.ifDict())
        d.logDirectory.push_back({static_cast<std::uint8_t>(unsignedOf(*l, "logAddress")),
                                  l->stringOr("name"),
                                  static_cast<std::uint32_t>(unsignedOf(*l, "pages"))});
    }
  }
  return d;
}

DriveDetails nvmeDetails(const Dict& p) {
  DriveDetails d;
  // The identify fields in the order the reading lists them.
  static constexpr std::pair<std::string_view, std::string_view> kIdentify[] = {
      {"nvmeIFRev", "NVMe version"},
      {"vid", "PCI vendor"},
      {"ssvid", "PCI subsystem vendor"},
      {"oui", "IEEE OUI"},
      {"ctlid", "controller ID"},
      {"nn", "namespaces"},
      {"mdts", "largest transfer"},
      {"oacs", "admin commands"},
      {"oncs", "NVM commands"},
      {"frmw", "firmware updates"},
      {"lpa", "log page attributes"},
      {"elpe", "error log entries"},
      {"npss", "power states"},
      {"rab", "arbitration burst"},
      {"cmic", "multi-path"},
  };
  for (const auto& [key, name] : kIdentify) {
    if (const Value* v = p.find(key)) d.nvmeIdentify.push_back({std::string(name), textOf(*v)});
  }
  if (const Array* states = p.getArray("powerStates")) {
    for (const Value& v : *states) {
      const Dict* s = v.ifDict();
      if (!s) continue;
      DriveDetails::PowerState ps;
      ps.state = static_cast<int>(unsignedOf(*s, "state"));
      if (const Value* mp = s->find("mp")) ps.maxPowerWatts = mp->toReal().value_or(0);
      ps.nonOperational = unsignedOf(*s, "nops") != 0;
      ps.entryLatencyMicroseconds = static_cast<std::uint32_t>(unsignedOf(*s, "enlat"));
      ps.exitLatencyMicroseconds = static_cast<std::uint32_t>(unsignedOf(*s, "exlat"));
      d.powerStates.push_back(ps);
    }
  }
  if (const Array* slots = p.getArray("firmwareSlots")) {
    for (const Value& v : *slots) {
      if (const Dict* f = v.ifDict())
        d.firmwareSlots.push_back(
            {static_cast<int>(unsignedOf(*f, "slot")), f->stringOr("active") == "Yes",
             f->stringOr("readOnly") == "Yes",
             std::string(text::trimWhitespace(f->stringOr("firmwareRevision")))});
    }
  }
  return d;
}

}  // namespace

DriveReport driveReport(const KVSMARTDevice& device, std::string_view disk, bool refreshed) {
  DriveReport r;
  r.disk = std::string(disk);
  r.found = true;
  r.properties = device.driveProperties();
  static const Dict kNone;
  const Dict& p = r.properties ? *r.properties : kNone;
  r.read = refreshed && p.contains(keys::kAttributeHealth);
  r.failure = device.failure();

  const bool nvme = p.getBool(keys::kIsNVMe).value_or(false);
  r.protocol = nvme ? "NVMe" : "ATA";
  r.model = p.stringOr(keys::kDeviceModel);
  r.serial = p.stringOr(keys::kSerialNumber);
  r.firmware = p.stringOr(keys::kFirmwareVersion);
  r.family = p.stringOr(keys::kModelFamily);
  if (r.family == "-") r.family.clear();
  r.capacityBytes = unsignedOf(p, keys::kUserCapacity);
  r.driveType = trimmed(p, keys::kDriveType);
  r.location = trimmed(p, keys::kLocCon);
  if (const Array* volumes = p.getArray(keys::kVolumes)) {
    for (const Value& v : *volumes) {
      const Dict* d = v.ifDict();
      const std::string* name = d ? d->getString(keys::kVolumeName) : nullptr;
      if (name && std::find(r.volumes.begin(), r.volumes.end(), *name) == r.volumes.end())
        r.volumes.push_back(*name);
    }
  }
  r.verdict = device.healthVerdict();

  if (nvme) {
    r.nvme = device.nvmeHealthLog();
    if (r.nvme) {
      if (r.nvme->temperatureKelvin != 0)
        r.temperatureCelsius = celsiusOfKelvin(r.nvme->temperatureKelvin);
      r.powerOnHours = r.nvme->powerOnHours.value();
      r.powerCycles = r.nvme->powerCycles.value();
      r.errorCount = r.nvme->errorLogEntries.value();
    }
    r.errors = nvmeErrors(p);
    r.details = nvmeDetails(p);
    return r;
  }

  r.attributes = device.attributeRows();
  platform::Bundles& bundles = *platform::current().bundles;
  for (AtaAttribute& a : r.attributes) {
    std::string key = "SMART_" + std::to_string(a.id);
    a.label = bundles.localizedString(key, "", "SMART");
    if (a.label == key) a.label.clear();
  }
  r.details = ataDetails(p);
  r.selfTests = device.selfTestEntries();
  if (const AtaAttribute* t = attribute(r.attributes, 194)) {
    r.temperatureCelsius = t->rawBytes[0];
  } else if (const AtaAttribute* airflow = attribute(r.attributes, 190)) {
    r.temperatureCelsius = airflow->rawBytes[0];
  }
  if (const AtaAttribute* hours = attribute(r.attributes, 9))
    r.powerOnHours = leadingCount(hours->rawText);
  if (const AtaAttribute* cycles = attribute(r.attributes, 12)) r.powerCycles = cycles->rawValue();
  r.errorCount = unsignedOf(p, "errorLogCount");
  r.errors = ataErrors(p);
  return r;
}

}  // namespace sentrel
