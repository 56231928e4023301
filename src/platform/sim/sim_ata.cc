// The simulated SMART plug-ins: they answer from the sectors of the
// machine description and journal every command with its status.
#include "platform/sim/sim_plugins.h"

#include "core/bytes.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace sentrel::sim {

using platform::kGeneralError;

namespace {

// Copies a buffer the command answers with into the caller's buffer, or
// zero-fills it and fails when the description has none, or when its file
// cannot be used (`failure` then says why).
Status answer(const SimBuffer& source, std::span<std::uint8_t> out,
              std::optional<platform::Failure>& failure) {
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  const std::optional<Data>* bytes = &source.bytes;
  if (source.file) {
    platform::Failure why;
    bytes = &source.file->read(why);
    if (!*bytes) {
      failure = std::move(why);
      return kGeneralError;
    }
  }
  if (!*bytes) return source.status ? source.status : kGeneralError;
  std::memcpy(out.data(), (*bytes)->data(), std::min(out.size(), (*bytes)->size()));
  return source.status;
}

}  // namespace

const std::optional<Data>& SectorFile::read(platform::Failure& failure) const {
  std::call_once(once_, [this] {
    platform::Failure error;
    std::optional<std::string> text = files_.readFile(path_, &error);
    std::string problem;
    if (!text) {
      problem = "cannot read sector file " + error.message();
    } else if (text->size() != size_) {
      problem =
          "holds " + std::to_string(text->size()) + " bytes, expected " + std::to_string(size_);
    } else {
      bytes_.emplace(text->begin(), text->end());
      return;
    }
    failure_ = platform::failureOf(platform::Failure::Kind::badData, description_,
                                   jsonPath_ + ": " + problem);
  });
  if (!bytes_) failure = failure_;
  return bytes_;
}

namespace {

class SimAtaInterface final : public platform::AtaSmartInterface {
 public:
  SimAtaInterface(Machine& machine, std::shared_ptr<SimAta> ata, RegistryEntry service)
      : machine_(machine), ata_(std::move(ata)), service_(service) {}
  ~SimAtaInterface() override { note("ata.release", {}); }

  std::optional<platform::Failure> lastFailure() const override { return failure_; }

  Status enableOperations(bool enable) override {
    // Disabling SMART operations aborts a running self-test.
    if (!enable && ata_->enableStatus == 0) ata_->run->started = false;
    return note("ata.enableOperations", {{"enable", enable}}, ata_->enableStatus);
  }
  Status reportStatus(bool& exceeded) override {
    if (ata_->reportStatus == 0) exceeded = ata_->thresholdExceeded;
    return note("ata.reportStatus", {{"exceeded", exceeded}}, ata_->reportStatus);
  }
  Status runOfflineImmediate(bool extended) override {
    startRun(ata_->selftestStatus);
    return note("ata.runOfflineImmediate", {{"extended", extended}}, ata_->selftestStatus);
  }
  Status executeOfflineImmediate(std::uint8_t subcommand) override {
    startRun(ata_->selftestStatus);
    return note("ata.executeOfflineImmediate", {{"subcommand", int{subcommand}}},
                ata_->selftestStatus);
  }
  // While a self-test runs, the data's execution status byte steps through
  // the description's run; the checksum is made sound again.
  Status readSmartData(platform::Sector buffer) override {
    Status s = answer(ata_->smartData, buffer, fileFailure_);
    SimAta::Run& run = *ata_->run;
    if (s == 0 && run.started && !ata_->selftestRun.empty()) {
      constexpr std::size_t kExecutionStatus = 363;
      buffer[kExecutionStatus] =
          ata_->selftestRun[std::min(run.reads++, ata_->selftestRun.size() - 1)];
      bytes::sealChecksum(buffer);
    }
    return note("ata.readSmartData", {}, s);
  }
  Status validateSmartData(platform::ConstSector buffer) override {
    return note("ata.validateSmartData", {}, platform::smartChecksumStatus(buffer));
  }
  Status readSmartThresholds(platform::Sector buffer) override {
    return note("ata.readSmartThresholds", {}, answer(ata_->thresholds, buffer, fileFailure_));
  }
  Status readSmartLog(std::uint8_t address, std::span<std::uint8_t> buffer) override {
    auto it = ata_->logs.find(address);
    Status s = answer(it == ata_->logs.end() ? SimBuffer{} : it->second, buffer, fileFailure_);
    return note("ata.readSmartLog", {{"address", int{address}}, {"size", buffer.size()}}, s);
  }
  Status readIdentify(platform::Sector buffer) override {
    return note("ata.readIdentify", {}, answer(ata_->identify, buffer, fileFailure_));
  }
  Status checkPowerMode(std::uint8_t& mode) override {
    if (!ata_->powerModeRegister) return note("ata.checkPowerMode", {}, platform::kNoDevice);
    mode = *ata_->powerModeRegister;
    return note("ata.checkPowerMode", {{"mode", int{mode}}});
  }

 private:
  // Journals one command (after the drive's delay, which is real time: a
  // slow or hung drive).
  Status note(const char* call, const Dict& args, Status status = 0) {
    if (ata_->delay.count() > 0 && std::string_view(call) != "ata.release")
      std::this_thread::sleep_for(ata_->delay);
    Dict entry{{"call", call}, {"service", service_}};
    for (const auto& e : args) entry.set(e.key, e.value);
    if (std::string_view(call) != "ata.release") entry.set("status", status);
    machine_.record(std::move(entry));
    // A sector file that could not be used says so, not just the status.
    if (status != 0)
      failure_ =
          fileFailure_ ? std::move(*fileFailure_) : platform::failureOfCommand("", call, status);
    fileFailure_.reset();
    return status;
  }

  void startRun(Status status) {
    if (status != 0) return;
    ata_->run->started = true;
    ata_->run->reads = 0;
  }

  Machine& machine_;
  std::shared_ptr<SimAta> ata_;
  RegistryEntry service_;
  std::optional<platform::Failure> failure_;
  std::optional<platform::Failure> fileFailure_;  // of the command being answered
};

class SimAtaPlugIn final : public platform::AtaSmartPlugIn {
 public:
  SimAtaPlugIn(Machine& machine, std::shared_ptr<SimAta> ata, RegistryEntry service)
      : machine_(machine), ata_(std::move(ata)), service_(service) {}
  ~SimAtaPlugIn() override {
    machine_.record(Dict{{"call", "ata.destroyPlugIn"}, {"service", service_}});
  }

  Status queryInterface(std::unique_ptr<platform::AtaSmartInterface>& out) override {
    Status s = ata_->queryStatus;
    machine_.record(Dict{{"call", "ata.queryInterface"}, {"service", service_}, {"status", s}});
    if (s == 0) out = std::make_unique<SimAtaInterface>(machine_, ata_, service_);
    return s;
  }

 private:
  Machine& machine_;
  std::shared_ptr<SimAta> ata_;
  RegistryEntry service_;
};

class SimNvmeInterface final : public platform::NvmeSmartInterface {
 public:
  SimNvmeInterface(Machine& machine, std::shared_ptr<SimNvme> nvme, RegistryEntry service)
      : machine_(machine), nvme_(std::move(nvme)), service_(service) {}
  ~SimNvmeInterface() override {
    machine_.record(Dict{{"call", "nvme.release"}, {"service", service_}});
  }

  std::optional<platform::Failure> lastFailure() const override { return failure_; }

  std::uint16_t version() override { return nvme_->version; }
  std::uint16_t revision() override { return nvme_->revision; }

  Status readIdentifyData(std::span<std::uint8_t> buffer, std::uint32_t nsid) override {
    Status s = answer(nvme_->identify, buffer, fileFailure_);
    machine_.record(Dict{
        {"call", "nvme.readIdentifyData"}, {"service", service_}, {"nsid", nsid}, {"status", s}});
    return noteFailure("nvme.readIdentifyData", s);
  }

  Status readLogPage(std::span<std::uint8_t> buffer, std::uint8_t logId,
                     std::uint32_t dwordsMinusOne) override {
    const SimBuffer* source = nullptr;
    switch (logId) {
      case 1:
        source = &nvme_->errorLog;
        break;
      case 2:
        source = &nvme_->health;
        break;
      case 3:
        source = &nvme_->firmwareLog;
        break;
      case 6:
        source = &nvme_->selfTestLog;
        break;
    }
    Status s = answer(source ? *source : SimBuffer{}, buffer, fileFailure_);
    if (logId == 6 && s == 0) stepSelfTest(buffer);
    machine_.record(Dict{{"call", "nvme.readLogPage"},
                         {"service", service_},
                         {"logId", int{logId}},
                         {"dwordsMinusOne", dwordsMinusOne},
                         {"status", s}});
    return noteFailure("nvme.readLogPage", s);
  }

  Status deviceSelfTest(std::uint8_t code) override {
    Status s = nvme_->selftestStatus;
    if (s == 0) {
      nvme_->run->code = code == 0xF ? 0 : code;
      nvme_->run->reads = 0;
    }
    machine_.record(Dict{{"call", "nvme.deviceSelfTest"},
                         {"service", service_},
                         {"code", int{code}},
                         {"status", s}});
    return noteFailure("nvme.deviceSelfTest", s);
  }

  Status readHealthData(std::span<std::uint8_t> buffer) override {
    Status s = answer(nvme_->health, buffer, fileFailure_);
    machine_.record(Dict{{"call", "nvme.readHealthData"}, {"service", service_}, {"status", s}});
    return noteFailure("nvme.readHealthData", s);
  }

 private:
  // While a self-test runs, the log names it (byte 0) and says how far it
  // is (byte 1), step by step through the description's run.
  void stepSelfTest(std::span<std::uint8_t> log) {
    SimNvme::Run& run = *nvme_->run;
    if (run.code == 0 || log.size() < 2) return;
    if (run.reads >= nvme_->selfTestRun.size()) {
      run.code = 0;  // done: the log reads as described
      return;
    }
    log[0] = run.code;
    log[1] = nvme_->selfTestRun[run.reads++];
  }

  // Ends every command: the drive's delay (real time), then why it failed.
  Status noteFailure(const char* call, Status s) {
    if (nvme_->delay.count() > 0) std::this_thread::sleep_for(nvme_->delay);
    if (s != 0)
      failure_ = fileFailure_ ? std::move(*fileFailure_) : platform::failureOfCommand("", call, s);
    fileFailure_.reset();
    return s;
  }

  Machine& machine_;
  std::shared_ptr<SimNvme> nvme_;
  RegistryEntry service_;
  std::optional<platform::Failure> failure_;
  std::optional<platform::Failure> fileFailure_;  // of the command being answered
};

class SimNvmePlugIn final : public platform::NvmeSmartPlugIn {
 public:
  SimNvmePlugIn(Machine& machine, std::shared_ptr<SimNvme> nvme, RegistryEntry service)
      : machine_(machine), nvme_(std::move(nvme)), service_(service) {}
  ~SimNvmePlugIn() override {
    machine_.record(Dict{{"call", "nvme.destroyPlugIn"}, {"service", service_}});
  }

  Status queryInterface(std::unique_ptr<platform::NvmeSmartInterface>& out) override {
    Status s = nvme_->queryStatus;
    machine_.record(Dict{{"call", "nvme.queryInterface"}, {"service", service_}, {"status", s}});
    if (s == 0) out = std::make_unique<SimNvmeInterface>(machine_, nvme_, service_);
    return s;
  }

 private:
  Machine& machine_;
  std::shared_ptr<SimNvme> nvme_;
  RegistryEntry service_;
};

}  // namespace

Status SimPlugIns::createAtaPlugIn(RegistryEntry service,
                                   std::unique_ptr<platform::AtaSmartPlugIn>& out,
                                   platform::Failure* failure) {
  const SimNode* node = model_.node(service);
  Status s = platform::kUnsupported;
  if (node && node->ata) {
    std::lock_guard lock(mutex_);
    std::size_t& n = openCounts_[service];
    const auto& statuses = node->ata->openStatuses;
    s = statuses[std::min(n, statuses.size() - 1)];
    ++n;
  }
  machine_.record(Dict{{"call", "ata.createPlugIn"}, {"service", service}, {"status", s}});
  if (s == 0) out = std::make_unique<SimAtaPlugIn>(machine_, node->ata, service);
  if (s != 0 && failure) *failure = platform::failureOfCommand("", "ata.createPlugIn", s);
  return s;
}

Status SimPlugIns::createNvmePlugIn(RegistryEntry service,
                                    std::unique_ptr<platform::NvmeSmartPlugIn>& out,
                                    platform::Failure* failure) {
  const SimNode* node = model_.node(service);
  Status s = node && node->nvme ? node->nvme->openStatus : platform::kUnsupported;
  machine_.record(Dict{{"call", "nvme.createPlugIn"}, {"service", service}, {"status", s}});
  if (s == 0) out = std::make_unique<SimNvmePlugIn>(machine_, node->nvme, service);
  if (s != 0 && failure) *failure = platform::failureOfCommand("", "nvme.createPlugIn", s);
  return s;
}

}  // namespace sentrel::sim
