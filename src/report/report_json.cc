// The drive report as JSON-ready values (version 1.0): snake_case keys,
// numbers as numbers, units in the key names, absent values left out.
#include <cstdio>

#include "core/text.h"
#include "sentrel/report.h"
#include "sentrel/value_io.h"

namespace sentrel {

std::string_view healthRuleName(HealthReason::Rule r) {
  switch (r) {
    case HealthReason::Rule::thresholdExceeded:
      return "threshold_exceeded";
    case HealthReason::Rule::defectCount:
      return "defect_count";
    case HealthReason::Rule::atOrBelowThreshold:
      return "at_or_below_threshold";
    case HealthReason::Rule::dataUnusable:
      return "data_unusable";
    case HealthReason::Rule::criticalWarning:
      return "critical_warning";
  }
  return "unknown";
}

namespace {

std::string_view kindName(platform::Failure::Kind k) {
  using Kind = platform::Failure::Kind;
  switch (k) {
    case Kind::none:
      return "none";
    case Kind::notFound:
      return "not_found";
    case Kind::permission:
      return "permission";
    case Kind::noResponse:
      return "no_response";
    case Kind::unsupported:
      return "unsupported";
    case Kind::badData:
      return "bad_data";
    case Kind::io:
      return "io";
  }
  return "io";
}

std::string_view whenFailedName(AtaAttribute::WhenFailed w) {
  switch (w) {
    case AtaAttribute::WhenFailed::now:
      return "now";
    case AtaAttribute::WhenFailed::past:
      return "past";
    case AtaAttribute::WhenFailed::never:
      break;
  }
  return "never";
}

template <typename T>
void setIf(Dict& d, std::string_view key, const std::optional<T>& v) {
  if (v) d.set(key, Value(*v));
}

Value verdictValue(const HealthVerdict& v) {
  Array reasons;
  for (const HealthReason& r : v.reasons) {
    Dict reason{{"rule", healthRuleName(r.rule)}, {"text", r.text}};
    if (r.rule == HealthReason::Rule::criticalWarning) {
      reason.set("critical_warning_bit", r.code);
    } else if (r.code != 0) {
      reason.set("attribute_id", r.code);
    }
    reasons.push_back(Value(std::move(reason)));
  }
  return Dict{{"health", v.word.empty() ? Value() : Value(v.word)},
              {"reasons", std::move(reasons)}};
}

Value failureValue(const platform::Failure& f) {
  Dict d{{"kind", kindName(f.kind)}, {"reason", f.reason}};
  if (!f.subject.empty()) d.set("subject", f.subject);
  if (f.error != 0) d.set("errno", f.error);
  if (!f.need.empty()) d.set("need", f.need);
  return d;
}

Value attributeValue(const AtaAttribute& a, bool marked) {
  Data raw(a.rawBytes.begin(), a.rawBytes.end());
  Dict d{{"id", int{a.id}},
         {"name", a.name},
         {"flags", Dict{{"value", int{a.flags}}, {"prefail", a.prefail()}, {"online", a.online()}}},
         {"value", int{a.value}},
         {"worst", int{a.worst}},
         {"threshold", int{a.threshold}},
         {"when_failed", whenFailedName(a.whenFailed())},
         {"raw", Dict{{"value", a.rawValue()},
                      {"string", a.rawText},
                      {"bytes", toHex(raw)},
                      {"format", a.format}}},
         {"marked", marked}};
  if (!a.label.empty()) d.set("label", a.label);
  return d;
}

Value counterValue(const NvmeHealthLog::Counter& c) {
  return Value(c.value());
}

Value nvmeValue(const NvmeHealthLog& n) {
  Array sensors;
  for (std::uint16_t k : n.sensorKelvin) sensors.push_back(k ? Value(celsiusOfKelvin(k)) : Value());
  const std::uint64_t read = n.dataUnitsRead.value(), written = n.dataUnitsWritten.value();
  auto bytes = [](std::uint64_t units) {
    return units > UINT64_MAX / NvmeHealthLog::kBytesPerDataUnit
               ? UINT64_MAX
               : units * NvmeHealthLog::kBytesPerDataUnit;
  };
  return Dict{
      {"critical_warning", int{n.criticalWarning}},
      {"temperature_celsius",
       n.temperatureKelvin ? Value(celsiusOfKelvin(n.temperatureKelvin)) : Value()},
      {"available_spare_percent", int{n.availableSparePercent}},
      {"available_spare_threshold_percent", int{n.availableSpareThresholdPercent}},
      {"percentage_used_percent", int{n.percentageUsed}},
      {"data_units_read", read},
      {"data_read_bytes", bytes(read)},
      {"data_units_written", written},
      {"data_written_bytes", bytes(written)},
      {"host_read_commands", counterValue(n.hostReadCommands)},
      {"host_write_commands", counterValue(n.hostWriteCommands)},
      {"controller_busy_time_minutes", counterValue(n.controllerBusyMinutes)},
      {"power_cycles", counterValue(n.powerCycles)},
      {"power_on_hours", counterValue(n.powerOnHours)},
      {"unsafe_shutdowns", counterValue(n.unsafeShutdowns)},
      {"media_errors", counterValue(n.mediaErrors)},
      {"error_log_entries", counterValue(n.errorLogEntries)},
      {"warning_temperature_time_minutes", n.warningTemperatureMinutes},
      {"critical_temperature_time_minutes", n.criticalTemperatureMinutes},
      {"temperature_sensors_celsius", std::move(sensors)},
  };
}

Value detailsValue(const DriveReport& r) {
  const DriveDetails& d = r.details;
  Dict out;
  auto named = [](const std::vector<NamedText>& list) {
    Array a;
    for (const NamedText& n : list) a.push_back(Value(Dict{{"name", n.name}, {"value", n.value}}));
    return a;
  };
  if (r.protocol == "NVMe") {
    out.set("identify", named(d.nvmeIdentify));
    Array states;
    for (const auto& s : d.powerStates)
      states.push_back(Value(Dict{{"state", s.state},
                                  {"max_power_watts", s.maxPowerWatts},
                                  {"non_operational", s.nonOperational},
                                  {"entry_latency_microseconds", s.entryLatencyMicroseconds},
                                  {"exit_latency_microseconds", s.exitLatencyMicroseconds}}));
    out.set("power_states", std::move(states));
    Array slots;
    for (const auto& f : d.firmwareSlots)
      slots.push_back(Value(Dict{{"slot", f.slot},
                                 {"active", f.active},
                                 {"read_only", f.readOnly},
                                 {"revision", f.revision}}));
    out.set("firmware_slots", std::move(slots));
    return out;
  }
  out.set("offline_collection_status", d.offlineCollectionStatus);
  out.set("self_test_status", d.selfTestStatus);
  out.set("capabilities", named(d.capabilities));
  Array offered;
  for (const auto& t : d.selfTestsOffered)
    offered.push_back(Value(Dict{{"name", t.name}, {"polling_minutes", t.pollingMinutes}}));
  out.set("self_tests_offered", std::move(offered));
  Array logs;
  for (const auto& l : d.logDirectory)
    logs.push_back(Value(Dict{{"address", int{l.address}}, {"name", l.name}, {"pages", l.pages}}));
  out.set("log_directory", std::move(logs));
  return out;
}

}  // namespace

Value reportValue(const DriveReport& r) {
  Dict d{{"disk", r.disk}, {"found", r.found}};
  if (!r.found) return d;
  d.set("read", r.read);
  if (r.skipped) d.set("skipped", true);
  if (r.timedOut) d.set("timed_out", true);
  if (r.powerMode != PowerMode::unknown) d.set("power_mode", powerModeName(r.powerMode));
  if (r.failure && r.failure->failed()) d.set("failure", failureValue(*r.failure));
  d.set("protocol", r.protocol);
  d.set("model", r.model);
  d.set("serial", r.serial);
  d.set("firmware", r.firmware);
  if (!r.family.empty()) d.set("family", r.family);
  d.set("capacity_bytes", r.capacityBytes);
  d.set("drive_type", r.driveType);
  d.set("location", r.location);
  Array volumes(r.volumes.begin(), r.volumes.end());
  d.set("volumes", std::move(volumes));
  d.set("verdict", verdictValue(r.verdict));
  setIf(d, "temperature_celsius", r.temperatureCelsius);
  setIf(d, "power_on_hours", r.powerOnHours);
  setIf(d, "power_cycles", r.powerCycles);
  if (r.protocol == "ATA") {
    Array attributes;
    for (std::size_t i = 0; i < r.attributes.size(); ++i)
      attributes.push_back(attributeValue(r.attributes[i], r.verdict.marksRow(i)));
    d.set("ata_attributes", std::move(attributes));
    Array tests;
    for (const SelfTestEntry& t : r.selfTests) {
      Dict test{{"number", t.number}, {"type", t.type},
                {"status", t.status}, {"completion_percent", int{t.completionPercent}},
                {"failed", t.failed}, {"lifetime_hours", t.lifetimeHours}};
      setIf(test, "first_error_lba", t.firstErrorLba);
      tests.push_back(Value(std::move(test)));
    }
    d.set("ata_self_tests", std::move(tests));
  } else if (r.nvme) {
    d.set("nvme_health", nvmeValue(*r.nvme));
  }
  d.set("error_count", r.errorCount);
  Array errors;
  for (const LoggedError& e : r.errors) {
    Dict error{{"number", e.number}, {"description", e.description}};
    setIf(error, "lifetime_hours", e.lifetimeHours);
    errors.push_back(Value(std::move(error)));
  }
  d.set("errors", std::move(errors));
  d.set("details", detailsValue(r));
  return d;
}

}  // namespace sentrel
