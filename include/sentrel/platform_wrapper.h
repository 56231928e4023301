// Forwarding platform areas, in the manner of LevelDB's EnvWrapper: each
// wrapper passes every call of its area on to a base, so a backend or a test
// double derives from it and overrides only what it changes. A platform that
// takes most areas from another is a copy of that Platform (a bundle of
// pointers) with some pointers replaced by such wrappers:
//
//   class FullDisk final : public platform::FilesWrapper { ...writeFileAtomically... };
//   FullDisk files(*base.files);
//   platform::Platform p = base;
//   p.files = &files;
//
// The base must outlive the wrapper.
#pragma once

#include <memory>
#include <utility>

#include "sentrel/export.h"
#include "sentrel/platform.h"

namespace sentrel::platform {

class SENTREL_API RegistryWrapper : public Registry {
 public:
  explicit RegistryWrapper(Registry& base) : base_(base) {}
  std::vector<RegistryEntry> wholeMedia() override { return base_.wholeMedia(); }
  std::vector<RegistryEntry> descendants(RegistryEntry e) override { return base_.descendants(e); }
  std::optional<RegistryEntry> parent(RegistryEntry e) override { return base_.parent(e); }
  std::optional<Dict> properties(RegistryEntry e) override { return base_.properties(e); }
  std::string name(RegistryEntry e) override { return base_.name(e); }
  std::string className(RegistryEntry e) override { return base_.className(e); }
  std::optional<Value> searchProperty(RegistryEntry e, std::string_view key,
                                      bool searchParents) override {
    return base_.searchProperty(e, key, searchParents);
  }
  RegistryEntry matchingService(const Dict& match) override { return base_.matchingService(match); }
  Registry& base() { return base_; }

 private:
  Registry& base_;
};

class SENTREL_API DiskArbitrationWrapper : public DiskArbitration {
 public:
  explicit DiskArbitrationWrapper(DiskArbitration& base) : base_(base) {}
  bool createSession() override { return base_.createSession(); }
  std::optional<Dict> describe(RegistryEntry medium) override { return base_.describe(medium); }

 private:
  DiskArbitration& base_;
};

// An interface that forwards to one it owns; released with it.
class SENTREL_API AtaSmartInterfaceWrapper : public AtaSmartInterface {
 public:
  explicit AtaSmartInterfaceWrapper(std::unique_ptr<AtaSmartInterface> base)
      : base_(std::move(base)) {}
  std::optional<Failure> lastFailure() const override { return base_->lastFailure(); }
  Status enableOperations(bool enable) override { return base_->enableOperations(enable); }
  Status reportStatus(bool& exceeded) override { return base_->reportStatus(exceeded); }
  Status runOfflineImmediate(bool extended) override {
    return base_->runOfflineImmediate(extended);
  }
  Status executeOfflineImmediate(std::uint8_t subcommand) override {
    return base_->executeOfflineImmediate(subcommand);
  }
  Status readSmartData(Sector buffer) override { return base_->readSmartData(buffer); }
  Status validateSmartData(ConstSector buffer) override { return base_->validateSmartData(buffer); }
  Status readSmartThresholds(Sector buffer) override { return base_->readSmartThresholds(buffer); }
  Status readSmartLog(std::uint8_t address, std::span<std::uint8_t> buffer) override {
    return base_->readSmartLog(address, buffer);
  }
  Status readIdentify(Sector buffer) override { return base_->readIdentify(buffer); }
  Status checkPowerMode(std::uint8_t& mode) override { return base_->checkPowerMode(mode); }

 protected:
  AtaSmartInterface& base() { return *base_; }

 private:
  std::unique_ptr<AtaSmartInterface> base_;
};

class SENTREL_API NvmeSmartInterfaceWrapper : public NvmeSmartInterface {
 public:
  explicit NvmeSmartInterfaceWrapper(std::unique_ptr<NvmeSmartInterface> base)
      : base_(std::move(base)) {}
  std::optional<Failure> lastFailure() const override { return base_->lastFailure(); }
  std::uint16_t version() override { return base_->version(); }
  std::uint16_t revision() override { return base_->revision(); }
  Status readIdentifyData(std::span<std::uint8_t> buffer, std::uint32_t nsid) override {
    return base_->readIdentifyData(buffer, nsid);
  }
  Status readLogPage(std::span<std::uint8_t> buffer, std::uint8_t logId,
                     std::uint32_t dwordsMinusOne) override {
    return base_->readLogPage(buffer, logId, dwordsMinusOne);
  }
  Status readHealthData(std::span<std::uint8_t> buffer) override {
    return base_->readHealthData(buffer);
  }
  Status deviceSelfTest(std::uint8_t code) override { return base_->deviceSelfTest(code); }

 protected:
  NvmeSmartInterface& base() { return *base_; }

 private:
  std::unique_ptr<NvmeSmartInterface> base_;
};

class SENTREL_API SmartPlugInsWrapper : public SmartPlugIns {
 public:
  explicit SmartPlugInsWrapper(SmartPlugIns& base) : base_(base) {}
  Status createAtaPlugIn(RegistryEntry service, std::unique_ptr<AtaSmartPlugIn>& out,
                         Failure* failure) override {
    return base_.createAtaPlugIn(service, out, failure);
  }
  Status createNvmePlugIn(RegistryEntry service, std::unique_ptr<NvmeSmartPlugIn>& out,
                          Failure* failure) override {
    return base_.createNvmePlugIn(service, out, failure);
  }

 private:
  SmartPlugIns& base_;
};

class SENTREL_API BundlesWrapper : public Bundles {
 public:
  explicit BundlesWrapper(Bundles& base) : base_(base) {}
  std::string hostBundleName() override { return base_.hostBundleName(); }
  std::string hostBundleIdentifier() override { return base_.hostBundleIdentifier(); }
  std::optional<std::string> hostResourcePath(std::string_view name,
                                              std::string_view folder) override {
    return base_.hostResourcePath(name, folder);
  }
  std::string localizedString(std::string_view key, std::string_view fallback,
                              std::string_view table) override {
    return base_.localizedString(key, fallback, table);
  }
  std::optional<Image> systemImage(std::string_view name) override {
    return base_.systemImage(name);
  }
  std::optional<std::string> bundleIdentifier(std::string_view path) override {
    return base_.bundleIdentifier(path);
  }
  std::optional<Image> bundleImage(std::string_view path, std::string_view resource) override {
    return base_.bundleImage(path, resource);
  }

 private:
  Bundles& base_;
};

class SENTREL_API FilesWrapper : public Files {
 public:
  explicit FilesWrapper(Files& base) : base_(base) {}
  std::optional<std::string> readFile(std::string_view path, Failure* failure) override {
    return base_.readFile(path, failure);
  }
  bool writeFileAtomically(std::string_view path, std::string_view contents,
                           Failure* failure) override {
    return base_.writeFileAtomically(path, contents, failure);
  }
  bool createDirectories(std::string_view path, Failure* failure) override {
    return base_.createDirectories(path, failure);
  }
  bool removeFile(std::string_view path) override { return base_.removeFile(path); }
  bool exists(std::string_view path) override { return base_.exists(path); }
  std::optional<std::vector<std::string>> listDirectory(std::string_view path) override {
    return base_.listDirectory(path);
  }
  std::optional<Value> readPropertyList(std::string_view path) override {
    return base_.readPropertyList(path);
  }
  std::optional<std::int64_t> modificationTime(std::string_view path) override {
    return base_.modificationTime(path);
  }
  bool writeFileIn(std::string_view folder, std::string_view name, std::string_view contents,
                   bool mustBeNew, Failure* failure) override {
    return base_.writeFileIn(folder, name, contents, mustBeNew, failure);
  }
  bool createPrivateFile(std::string_view path, std::string_view contents,
                         Failure* failure) override {
    return base_.createPrivateFile(path, contents, failure);
  }

 protected:
  Files& base() { return base_; }

 private:
  Files& base_;
};

class SENTREL_API UserWrapper : public User {
 public:
  explicit UserWrapper(User& base) : base_(base) {}
  std::string userName() override { return base_.userName(); }
  std::string homeDirectory() override { return base_.homeDirectory(); }
  std::string applicationSupportDirectory() override { return base_.applicationSupportDirectory(); }
  std::string cacheDirectory() override { return base_.cacheDirectory(); }

 private:
  User& base_;
};

class SENTREL_API ProcessesWrapper : public Processes {
 public:
  explicit ProcessesWrapper(Processes& base) : base_(base) {}
  std::optional<std::string> run(std::string_view tool,
                                 const std::vector<std::string>& arguments) override {
    return base_.run(tool, arguments);
  }

 private:
  Processes& base_;
};

class SENTREL_API UserDefaultsWrapper : public UserDefaults {
 public:
  explicit UserDefaultsWrapper(UserDefaults& base) : base_(base) {}
  std::optional<Value> get(std::string_view key) override { return base_.get(key); }
  void set(std::string_view key, const Value& value) override { base_.set(key, value); }

 private:
  UserDefaults& base_;
};

class SENTREL_API MountsWrapper : public Mounts {
 public:
  explicit MountsWrapper(Mounts& base) : base_(base) {}
  std::vector<MountEntry> mountTable() override { return base_.mountTable(); }
  std::optional<FileSystemStats> statfs(std::string_view path) override {
    return base_.statfs(path);
  }

 private:
  Mounts& base_;
};

class SENTREL_API LogWrapper : public Log {
 public:
  explicit LogWrapper(Log& base) : base_(base) {}
  void nslog(std::string_view line) override { base_.nslog(line); }
  void syslog(int priority, std::string_view line) override { base_.syslog(priority, line); }

 private:
  Log& base_;
};

class SENTREL_API ClockWrapper : public Clock {
 public:
  explicit ClockWrapper(Clock& base) : base_(base) {}
  void sleep(std::chrono::milliseconds duration) override { base_.sleep(duration); }

 private:
  Clock& base_;
};

class SENTREL_API DownloadsWrapper : public Downloads {
 public:
  explicit DownloadsWrapper(Downloads& base) : base_(base) {}
  void start(std::string_view url, std::size_t maxBytes,
             std::function<void(DownloadResult)> completion) override {
    base_.start(url, maxBytes, std::move(completion));
  }

 private:
  Downloads& base_;
};

class SENTREL_API QueuesWrapper : public Queues {
 public:
  explicit QueuesWrapper(Queues& base) : base_(base) {}
  void async(std::string_view label, std::function<void()> work) override {
    base_.async(label, std::move(work));
  }
  void wait(std::string_view label) override { base_.wait(label); }
  void asyncMain(std::function<void()> work) override { base_.asyncMain(std::move(work)); }
  std::size_t drainMain() override { return base_.drainMain(); }

 private:
  Queues& base_;
};

class SENTREL_API NotificationsWrapper : public Notifications {
 public:
  explicit NotificationsWrapper(Notifications& base) : base_(base) {}
  void post(std::string_view name) override { base_.post(name); }
  void observe(std::string_view name, std::function<void()> observer) override {
    base_.observe(name, std::move(observer));
  }

 private:
  Notifications& base_;
};

}  // namespace sentrel::platform
