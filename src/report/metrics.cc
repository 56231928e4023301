// Drive reports as Prometheus text or OpenMetrics. Each family is written
// once, its samples together, in a fixed order; a drive that is down keeps
// the values of its last reading beside sentrel_device_up 0.
#include "sentrel/metrics.h"

#include "sentrel/keys.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <unordered_map>

namespace sentrel {

namespace {

enum class Type { gauge, counter, info };

struct Label {
  std::string name;
  std::string value;
};

struct Family {
  std::string name;  // the samples' name: "..._total" for a counter, "..._info" for info
  Type type;
  std::string help;
  std::string samples;
};

// A label value as the exposition formats quote it.
void appendEscaped(std::string& out, std::string_view v) {
  for (char c : v) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '"')
      out += "\\\"";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
}

// The shortest text that reads back as the same double ("0.1", not
// "0.10000000000000001"); whole numbers without an exponent.
std::string number(double v) {
  char text[64];
  const auto end = std::abs(v) < 1e15
                       ? std::to_chars(text, text + sizeof text, v, std::chars_format::fixed)
                       : std::to_chars(text, text + sizeof text, v);
  return std::string(text, end.ptr);
}

std::string number(std::uint64_t v) {
  return std::to_string(v);
}

// The families in the order they are written, filled drive by drive.
class Writer {
 public:
  Family& family(const std::string& name, Type type, const std::string& help) {
    auto [at, added] = index_.try_emplace(name, families_.size());
    if (added) families_.push_back({name, type, help, ""});
    return families_[at->second];
  }

  void add(const std::string& name, Type type, const std::string& help,
           const std::vector<Label>& labels, const std::string& value) {
    std::string& out = family(name, type, help).samples;
    out += name;
    if (!labels.empty()) {
      out += '{';
      for (std::size_t i = 0; i < labels.size(); ++i) {
        if (i) out += ',';
        out.append(labels[i].name).append("=\"");
        appendEscaped(out, labels[i].value);
        out += '"';
      }
      out += '}';
    }
    out.append(" ").append(value).append("\n");
  }

  std::string text(MetricsFormat format) const {
    std::string out;
    for (const Family& f : families_) {
      if (f.samples.empty()) continue;
      std::string name = f.name;
      const char* type = f.type == Type::counter ? "counter" : "gauge";
      if (format == MetricsFormat::openMetrics) {
        // OpenMetrics names a family without its sample suffix.
        auto strip = [&](std::string_view suffix) {
          if (name.size() > suffix.size() && name.ends_with(suffix))
            name.resize(name.size() - suffix.size());
        };
        if (f.type == Type::counter) strip("_total");
        if (f.type == Type::info) {
          strip("_info");
          type = "info";
        }
      }
      out.append("# HELP ").append(name).append(" ").append(f.help);
      out.append("\n# TYPE ").append(name).append(" ").append(type).append("\n");
      out += f.samples;
    }
    if (format == MetricsFormat::openMetrics) out += "# EOF\n";
    return out;
  }

 private:
  std::vector<Family> families_;
  std::unordered_map<std::string, std::size_t> index_;
};

const char* healthValue(const std::string& word) {
  if (word == keys::kPassed) return "0";
  if (word == keys::kWarning) return "1";
  if (word == keys::kFailed) return "2";
  return "3";
}

// The number a raw value's decoded text starts with ("34 (25, 37, 0)",
// "18654:29:41.580"), else the six raw bytes as one number.
std::uint64_t decodedRaw(const AtaAttribute& a) {
  std::uint64_t n = 0;
  std::size_t i = 0;
  for (; i < a.rawText.size() && a.rawText[i] >= '0' && a.rawText[i] <= '9' && n < UINT64_MAX / 10;
       ++i)
    n = n * 10 + static_cast<std::uint64_t>(a.rawText[i] - '0');
  return i > 0 ? n : a.rawValue();
}

const AtaAttribute* attribute(const DriveReport& r, std::uint8_t id) {
  auto it = std::find_if(r.attributes.begin(), r.attributes.end(),
                         [id](const AtaAttribute& a) { return a.id == id; });
  return it == r.attributes.end() ? nullptr : &*it;
}

void driveMetrics(Writer& w, const DriveSample& s) {
  const DriveReport& r = s.report;
  const std::vector<Label> id{{"device", r.disk}, {"serial", r.serial}};
  auto with = [&](std::initializer_list<Label> more) {
    std::vector<Label> labels = id;
    labels.insert(labels.end(), more);
    return labels;
  };
  w.add("sentrel_device_info", Type::info, "The drive: model, family, firmware and protocol.",
        with({{"model", r.model},
              {"family", r.family},
              {"firmware", r.firmware},
              {"protocol", r.protocol}}),
        "1");
  w.add("sentrel_device_up", Type::gauge, "1 when the last attempt read the drive, else 0.", id,
        s.up ? "1" : "0");
  for (PowerMode mode : {PowerMode::active, PowerMode::idle, PowerMode::standby, PowerMode::sleep,
                         PowerMode::unknown})
    w.add("sentrel_device_power_mode", Type::gauge,
          "The drive's power mode as a set: 1 for the mode the last attempt found.",
          with({{"mode", std::string(powerModeName(mode))}}), s.powerMode == mode ? "1" : "0");
  if (s.lastReadSeconds)
    w.add("sentrel_device_last_read_timestamp_seconds", Type::gauge,
          "When the values shown were read, in seconds since the epoch.", id,
          number(*s.lastReadSeconds));
  w.add("sentrel_device_read_errors_total", Type::counter,
        "Attempts that could not read the drive (refused, gone, timed out).", id,
        number(s.readErrors));
  if (!r.read) return;  // nothing was ever read of it

  w.add("sentrel_device_capacity_bytes", Type::gauge, "The drive's capacity.", id,
        number(r.capacityBytes));
  w.add("sentrel_device_health_status", Type::gauge,
        "The verdict: 0 Passed, 1 Warning, 2 Failed, 3 Unknown.", id, healthValue(r.verdict.word));
  for (const HealthReason& reason : r.verdict.reasons)
    w.add("sentrel_device_health_reason_info", Type::info, "Why the verdict is not Passed.",
          with({{"rule", std::string(healthRuleName(reason.rule))},
                {"code", reason.code ? std::to_string(reason.code) : ""},
                {"reason", reason.text}}),
          "1");
  if (r.temperatureCelsius)
    w.add("sentrel_device_temperature_celsius", Type::gauge, "The drive's temperature.", id,
          number(static_cast<double>(*r.temperatureCelsius)));
  if (r.powerOnHours)
    w.add("sentrel_device_power_on_seconds_total", Type::counter, "Time powered on.", id,
          number(*r.powerOnHours * 3600));
  if (r.powerCycles)
    w.add("sentrel_device_power_cycles_total", Type::counter, "Power cycles.", id,
          number(*r.powerCycles));

  std::optional<std::uint64_t> readBytes, writtenBytes;
  if (r.nvme) {
    readBytes = r.nvme->dataUnitsRead.value() * NvmeHealthLog::kBytesPerDataUnit;
    writtenBytes = r.nvme->dataUnitsWritten.value() * NvmeHealthLog::kBytesPerDataUnit;
  } else {
    // Total LBAs written and read, in logical blocks of 512 bytes.
    if (const AtaAttribute* a = attribute(r, 242)) readBytes = a->rawValue() * 512;
    if (const AtaAttribute* a = attribute(r, 241)) writtenBytes = a->rawValue() * 512;
  }
  if (readBytes)
    w.add("sentrel_device_read_bytes_total", Type::counter, "Bytes the host read.", id,
          number(*readBytes));
  if (writtenBytes)
    w.add("sentrel_device_written_bytes_total", Type::counter, "Bytes the host wrote.", id,
          number(*writtenBytes));

  if (r.protocol == "ATA") {
    for (const AtaAttribute& a : r.attributes) {
      auto labels = with({{"id", std::to_string(a.id)}, {"name", a.name}});
      w.add("sentrel_ata_attribute_value", Type::gauge, "An attribute's normalized value.", labels,
            number(static_cast<double>(a.value)));
      w.add("sentrel_ata_attribute_worst", Type::gauge, "An attribute's worst normalized value.",
            labels, number(static_cast<double>(a.worst)));
      w.add("sentrel_ata_attribute_threshold", Type::gauge, "An attribute's failure threshold.",
            labels, number(static_cast<double>(a.threshold)));
      w.add("sentrel_ata_attribute_raw", Type::gauge,
            "An attribute's raw value, decoded by its format.", labels, number(decodedRaw(a)));
    }
    w.add("sentrel_ata_error_log_entries_total", Type::counter,
          "Errors the drive logged (its error count).", id, number(r.errorCount));
    std::uint64_t failures = static_cast<std::uint64_t>(std::count_if(
        r.selfTests.begin(), r.selfTests.end(), [](const SelfTestEntry& t) { return t.failed; }));
    w.add("sentrel_device_self_test_failures", Type::gauge,
          "Failed self-tests in the drive's self-test log.", id, number(failures));
    return;
  }
  if (!r.nvme) return;
  const NvmeHealthLog& n = *r.nvme;
  w.add("sentrel_nvme_critical_warning", Type::gauge, "The critical warning bits.", id,
        number(static_cast<double>(n.criticalWarning)));
  w.add("sentrel_nvme_available_spare_ratio", Type::gauge, "Spare capacity left, 0 to 1.", id,
        number(n.availableSparePercent / 100.0));
  w.add("sentrel_nvme_available_spare_threshold_ratio", Type::gauge,
        "The spare level below which the drive warns, 0 to 1.", id,
        number(n.availableSpareThresholdPercent / 100.0));
  w.add("sentrel_nvme_percentage_used_ratio", Type::gauge,
        "The endurance estimate used, 0 to 1 (may pass 1).", id, number(n.percentageUsed / 100.0));
  w.add("sentrel_nvme_media_errors_total", Type::counter, "Media and data integrity errors.", id,
        number(n.mediaErrors.value()));
  w.add("sentrel_nvme_unsafe_shutdowns_total", Type::counter, "Unsafe shutdowns.", id,
        number(n.unsafeShutdowns.value()));
  w.add("sentrel_nvme_error_log_entries_total", Type::counter, "Error information log entries.", id,
        number(n.errorLogEntries.value()));
  w.add("sentrel_nvme_host_read_commands_total", Type::counter, "Read commands completed.", id,
        number(n.hostReadCommands.value()));
  w.add("sentrel_nvme_host_write_commands_total", Type::counter, "Write commands completed.", id,
        number(n.hostWriteCommands.value()));
  w.add("sentrel_nvme_controller_busy_seconds_total", Type::counter,
        "Time the controller was busy with I/O.", id, number(n.controllerBusyMinutes.value() * 60));
  w.add("sentrel_nvme_warning_temperature_seconds_total", Type::counter,
        "Time above the warning composite temperature.", id,
        number(std::uint64_t{n.warningTemperatureMinutes} * 60));
  w.add("sentrel_nvme_critical_temperature_seconds_total", Type::counter,
        "Time above the critical composite temperature.", id,
        number(std::uint64_t{n.criticalTemperatureMinutes} * 60));
  for (std::size_t i = 0; i < n.sensorKelvin.size(); ++i) {
    if (n.sensorKelvin[i] == 0) continue;
    w.add("sentrel_nvme_temperature_sensor_celsius", Type::gauge, "A temperature sensor.",
          with({{"sensor", std::to_string(i + 1)}}),
          number(static_cast<double>(celsiusOfKelvin(n.sensorKelvin[i]))));
  }
}

}  // namespace

std::string_view metricsContentType(MetricsFormat format) {
  return format == MetricsFormat::openMetrics
             ? "application/openmetrics-text; version=1.0.0; charset=utf-8"
             : "text/plain; version=0.0.4; charset=utf-8";
}

std::string metricsText(const MetricsInput& input, MetricsFormat format) {
  Writer w;
  w.add("sentrel_build_info", Type::info, "The exporter's version and its drive database's.",
        {{"version", input.version}, {"drivedb_version", input.drivedbVersion}}, "1");
  w.add("sentrel_devices", Type::gauge, "Drives with SMART access.", {},
        number(static_cast<std::uint64_t>(input.drives.size())));
  w.add("sentrel_collection_duration_seconds", Type::gauge,
        "How long the last reading of the drives took.", {}, number(input.collectionSeconds));
  for (const DriveSample& s : input.drives) driveMetrics(w, s);
  return w.text(format);
}

}  // namespace sentrel
