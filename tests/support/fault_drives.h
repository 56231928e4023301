// Drives that misbehave on schedule. FaultPlugIns wraps the SMART plug-ins of
// a machine: plug-ins open as the machine says, and then a rule decides, one
// interface command at a time, whether the command reaches the drive or
// fails with a status of the rule's choice. A failed read fills the caller's
// buffer with noise (the platform does not say what a buffer holds after a
// failure), so a reader that decodes a failed buffer shows it in its reading.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sentrel/platform.h"
#include "sentrel/platform_wrapper.h"

namespace sentrel::testing {

// What a failed read leaves in the caller's buffer.
inline constexpr std::uint8_t kFaultNoise = 0x5A;

// One interface command as the drive saw it: its name ("readSmartLog 6"),
// its number counted over every interface of the wrapper from 1, and the
// status it answered.
struct DriveCommand {
  std::string name;
  std::size_t number = 0;
  platform::Status status = 0;
};

class FaultPlugIns final : public platform::SmartPlugInsWrapper {
 public:
  // Answers 0 to let the command through, or the status it fails with.
  using Rule = std::function<platform::Status(std::size_t number, const std::string& name)>;

  // Fails every command whose number is a multiple of `n`.
  static Rule everyNth(std::size_t n, platform::Status status = platform::kNoDevice) {
    return [n, status](std::size_t number, const std::string&) {
      return number % n == 0 ? status : platform::kSuccess;
    };
  }
  // Fails the command with that number only.
  static Rule only(std::size_t which, platform::Status status = platform::kNoDevice) {
    return [which, status](std::size_t number, const std::string&) {
      return number == which ? status : platform::kSuccess;
    };
  }
  // The drive is gone once its plug-in is open: every command fails.
  static Rule gone() {
    return [](std::size_t, const std::string&) { return platform::kNoDevice; };
  }

  FaultPlugIns(platform::SmartPlugIns& next, Rule rule)
      : SmartPlugInsWrapper(next), state_(std::make_shared<State>()) {
    state_->rule = std::move(rule);
  }

  platform::Status createAtaPlugIn(platform::RegistryEntry service,
                                   std::unique_ptr<platform::AtaSmartPlugIn>& out,
                                   platform::Failure* failure) override {
    std::unique_ptr<platform::AtaSmartPlugIn> inner;
    platform::Status s = SmartPlugInsWrapper::createAtaPlugIn(service, inner, failure);
    if (s == platform::kSuccess && inner)
      out = std::make_unique<AtaPlugIn>(std::move(inner), state_);
    return s;
  }
  platform::Status createNvmePlugIn(platform::RegistryEntry service,
                                    std::unique_ptr<platform::NvmeSmartPlugIn>& out,
                                    platform::Failure* failure) override {
    std::unique_ptr<platform::NvmeSmartPlugIn> inner;
    platform::Status s = SmartPlugInsWrapper::createNvmePlugIn(service, inner, failure);
    if (s == platform::kSuccess && inner)
      out = std::make_unique<NvmePlugIn>(std::move(inner), state_);
    return s;
  }

  std::vector<DriveCommand> commands() const {
    std::lock_guard lock(state_->mutex);
    return state_->commands;
  }
  // Interfaces handed out and not yet released.
  int openInterfaces() const {
    std::lock_guard lock(state_->mutex);
    return state_->open;
  }

 private:
  struct State {
    std::mutex mutex;
    Rule rule;
    std::size_t count = 0;
    int open = 0;
    std::vector<DriveCommand> commands;

    // Numbers the command and asks the rule; 0 lets it through. `index`
    // is where the command stands in `commands`.
    platform::Status decide(const std::string& name, std::size_t& index) {
      std::lock_guard lock(mutex);
      std::size_t number = ++count;
      platform::Status s = rule(number, name);
      index = commands.size();
      commands.push_back({name, number, s});
      return s;
    }
    // The drive's own status, for a command that went through.
    void answered(std::size_t index, platform::Status s) {
      std::lock_guard lock(mutex);
      commands[index].status = s;
    }
  };

  template <typename Read>
  static platform::Status read(State& state, const std::string& name,
                               std::span<std::uint8_t> buffer, Read drive) {
    std::size_t index = 0;
    if (platform::Status s = state.decide(name, index)) {
      std::fill(buffer.begin(), buffer.end(), kFaultNoise);
      return s;
    }
    platform::Status s = drive();
    state.answered(index, s);
    return s;
  }
  template <typename Command>
  static platform::Status command(State& state, const std::string& name, Command drive) {
    std::size_t index = 0;
    if (platform::Status s = state.decide(name, index)) return s;
    platform::Status s = drive();
    state.answered(index, s);
    return s;
  }

  class AtaInterface final : public platform::AtaSmartInterface {
   public:
    AtaInterface(std::unique_ptr<platform::AtaSmartInterface> inner, std::shared_ptr<State> state)
        : inner_(std::move(inner)), state_(std::move(state)) {
      std::lock_guard lock(state_->mutex);
      ++state_->open;
    }
    ~AtaInterface() override {
      inner_.reset();
      std::lock_guard lock(state_->mutex);
      --state_->open;
    }
    platform::Status enableOperations(bool enable) override {
      return command(*state_, "enableOperations", [&] { return inner_->enableOperations(enable); });
    }
    platform::Status reportStatus(bool& thresholdExceeded) override {
      // A failed status command leaves the answer as the caller had it.
      return command(*state_, "reportStatus",
                     [&] { return inner_->reportStatus(thresholdExceeded); });
    }
    platform::Status runOfflineImmediate(bool extended) override {
      return command(*state_, "runOfflineImmediate",
                     [&] { return inner_->runOfflineImmediate(extended); });
    }
    platform::Status readSmartData(platform::Sector buffer) override {
      return read(*state_, "readSmartData", buffer, [&] { return inner_->readSmartData(buffer); });
    }
    platform::Status validateSmartData(platform::ConstSector buffer) override {
      return command(*state_, "validateSmartData",
                     [&] { return inner_->validateSmartData(buffer); });
    }
    platform::Status readSmartThresholds(platform::Sector buffer) override {
      return read(*state_, "readSmartThresholds", buffer,
                  [&] { return inner_->readSmartThresholds(buffer); });
    }
    platform::Status readSmartLog(std::uint8_t address, std::span<std::uint8_t> buffer) override {
      return read(*state_, "readSmartLog " + std::to_string(address), buffer,
                  [&] { return inner_->readSmartLog(address, buffer); });
    }
    platform::Status readIdentify(platform::Sector buffer) override {
      return read(*state_, "readIdentify", buffer, [&] { return inner_->readIdentify(buffer); });
    }

   private:
    std::unique_ptr<platform::AtaSmartInterface> inner_;
    std::shared_ptr<State> state_;
  };

  class AtaPlugIn final : public platform::AtaSmartPlugIn {
   public:
    AtaPlugIn(std::unique_ptr<platform::AtaSmartPlugIn> inner, std::shared_ptr<State> state)
        : inner_(std::move(inner)), state_(std::move(state)) {}
    platform::Status queryInterface(std::unique_ptr<platform::AtaSmartInterface>& out) override {
      std::unique_ptr<platform::AtaSmartInterface> inner;
      platform::Status s = inner_->queryInterface(inner);
      if (s == platform::kSuccess && inner)
        out = std::make_unique<AtaInterface>(std::move(inner), state_);
      return s;
    }

   private:
    std::unique_ptr<platform::AtaSmartPlugIn> inner_;
    std::shared_ptr<State> state_;
  };

  class NvmeInterface final : public platform::NvmeSmartInterface {
   public:
    NvmeInterface(std::unique_ptr<platform::NvmeSmartInterface> inner, std::shared_ptr<State> state)
        : inner_(std::move(inner)), state_(std::move(state)) {
      std::lock_guard lock(state_->mutex);
      ++state_->open;
    }
    ~NvmeInterface() override {
      inner_.reset();
      std::lock_guard lock(state_->mutex);
      --state_->open;
    }
    std::uint16_t version() override { return inner_->version(); }
    std::uint16_t revision() override { return inner_->revision(); }
    platform::Status readIdentifyData(std::span<std::uint8_t> buffer, std::uint32_t nsid) override {
      return read(*state_, "readIdentifyData", buffer,
                  [&] { return inner_->readIdentifyData(buffer, nsid); });
    }
    platform::Status readLogPage(std::span<std::uint8_t> buffer, std::uint8_t logId,
                                 std::uint32_t dwordsMinusOne) override {
      return read(*state_, "readLogPage " + std::to_string(logId), buffer,
                  [&] { return inner_->readLogPage(buffer, logId, dwordsMinusOne); });
    }
    platform::Status readHealthData(std::span<std::uint8_t> buffer) override {
      return read(*state_, "readHealthData", buffer,
                  [&] { return inner_->readHealthData(buffer); });
    }

   private:
    std::unique_ptr<platform::NvmeSmartInterface> inner_;
    std::shared_ptr<State> state_;
  };

  class NvmePlugIn final : public platform::NvmeSmartPlugIn {
   public:
    NvmePlugIn(std::unique_ptr<platform::NvmeSmartPlugIn> inner, std::shared_ptr<State> state)
        : inner_(std::move(inner)), state_(std::move(state)) {}
    platform::Status queryInterface(std::unique_ptr<platform::NvmeSmartInterface>& out) override {
      std::unique_ptr<platform::NvmeSmartInterface> inner;
      platform::Status s = inner_->queryInterface(inner);
      if (s == platform::kSuccess && inner)
        out = std::make_unique<NvmeInterface>(std::move(inner), state_);
      return s;
    }

   private:
    std::unique_ptr<platform::NvmeSmartPlugIn> inner_;
    std::shared_ptr<State> state_;
  };

  std::shared_ptr<State> state_;
};

// A machine's platform with its plug-ins going through FaultPlugIns,
// installed as the platform for the life of this object.
class FaultyPlatform {
 public:
  FaultyPlatform(const platform::Platform& machine, FaultPlugIns::Rule rule)
      : platform_(machine), faults_(*platform_.plugIns, std::move(rule)) {
    platform_.plugIns = &faults_;
    installed_.emplace(platform_);
  }
  FaultyPlatform(const FaultyPlatform&) = delete;
  FaultyPlatform& operator=(const FaultyPlatform&) = delete;
  FaultPlugIns& faults() { return faults_; }

 private:
  platform::Platform platform_;
  FaultPlugIns faults_;
  std::optional<platform::ScopedPlatform> installed_;
};

}  // namespace sentrel::testing
