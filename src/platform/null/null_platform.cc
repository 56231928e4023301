// The null backend: a machine with nothing on it. Every area answers as an
// empty machine would, and everything that would reach the system refuses
// with an "unsupported" failure.
#include "platform/thread_queues.h"
#include "sentrel/platform.h"

namespace sentrel::platform {

namespace {

constexpr const char* kNothingHere = "there is no machine behind the null platform";

Failure unsupported(std::string_view subject) {
  return failureOf(Failure::Kind::unsupported, std::string(subject), kNothingHere, kUnsupported);
}

class NullRegistry final : public Registry {
 public:
  std::vector<RegistryEntry> wholeMedia() override { return {}; }
  std::vector<RegistryEntry> descendants(RegistryEntry) override { return {}; }
  std::optional<RegistryEntry> parent(RegistryEntry) override { return std::nullopt; }
  std::optional<Dict> properties(RegistryEntry) override { return std::nullopt; }
  std::string name(RegistryEntry) override { return ""; }
  std::string className(RegistryEntry) override { return ""; }
  RegistryEntry matchingService(const Dict&) override { return 0; }
};

class NullDiskArbitration final : public DiskArbitration {
 public:
  bool createSession() override { return true; }
  std::optional<Dict> describe(RegistryEntry) override { return std::nullopt; }
};

class NullPlugIns final : public SmartPlugIns {
 public:
  Status createAtaPlugIn(RegistryEntry, std::unique_ptr<AtaSmartPlugIn>&,
                         Failure* failure) override {
    if (failure) *failure = unsupported("");
    return kUnsupported;
  }
  Status createNvmePlugIn(RegistryEntry, std::unique_ptr<NvmeSmartPlugIn>&,
                          Failure* failure) override {
    if (failure) *failure = unsupported("");
    return kUnsupported;
  }
};

class NullBundles final : public Bundles {
 public:
  std::string hostBundleName() override { return "Sentrel"; }
  std::string hostBundleIdentifier() override { return "org.sentrel.null"; }
  std::optional<std::string> hostResourcePath(std::string_view, std::string_view) override {
    return std::nullopt;
  }
  std::string localizedString(std::string_view key, std::string_view fallback,
                              std::string_view) override {
    return std::string(fallback.empty() ? key : fallback);
  }
  std::optional<Image> systemImage(std::string_view) override { return std::nullopt; }
  std::optional<std::string> bundleIdentifier(std::string_view) override { return std::nullopt; }
  std::optional<Image> bundleImage(std::string_view, std::string_view) override {
    return std::nullopt;
  }
};

class NullFiles final : public Files {
 public:
  std::optional<std::string> readFile(std::string_view path, Failure* failure) override {
    if (failure) *failure = unsupported(path);
    return std::nullopt;
  }
  bool writeFileAtomically(std::string_view path, std::string_view, Failure* failure) override {
    if (failure) *failure = unsupported(path);
    return false;
  }
  bool createDirectories(std::string_view path, Failure* failure) override {
    if (failure) *failure = unsupported(path);
    return false;
  }
  bool writeFileIn(std::string_view folder, std::string_view name, std::string_view, bool,
                   Failure* failure) override {
    if (failure) *failure = unsupported(std::string(folder) + "/" + std::string(name));
    return false;
  }
  bool removeFile(std::string_view) override { return false; }
  bool exists(std::string_view) override { return false; }
  std::optional<std::vector<std::string>> listDirectory(std::string_view) override {
    return std::nullopt;
  }
  std::optional<Value> readPropertyList(std::string_view) override { return std::nullopt; }
};

class NullUser final : public User {
 public:
  std::string userName() override { return ""; }
  std::string homeDirectory() override { return "/"; }
  std::string applicationSupportDirectory() override { return "/"; }
};

class NullProcesses final : public Processes {
 public:
  std::optional<std::string> run(std::string_view, const std::vector<std::string>&) override {
    return std::nullopt;
  }
};

class NullUserDefaults final : public UserDefaults {
 public:
  std::optional<Value> get(std::string_view) override { return std::nullopt; }
  void set(std::string_view, const Value&) override {}
};

class NullMounts final : public Mounts {
 public:
  std::vector<MountEntry> mountTable() override { return {}; }
  std::optional<FileSystemStats> statfs(std::string_view) override { return std::nullopt; }
};

class NullLog final : public Log {
 public:
  void nslog(std::string_view) override {}
  void syslog(int, std::string_view) override {}
};

class NullClock final : public Clock {
 public:
  void sleep(std::chrono::milliseconds) override {}
};

class NullDownloads final : public Downloads {
 public:
  void start(std::string_view url, std::size_t,
             std::function<void(DownloadResult)> completion) override {
    completion(DownloadResult{std::nullopt, unsupported(url)});
  }
};

struct NullMachine {
  NullRegistry registry;
  NullDiskArbitration diskArbitration;
  NullPlugIns plugIns;
  NullBundles bundles;
  NullFiles files;
  NullUser user;
  NullProcesses processes;
  NullUserDefaults userDefaults;
  NullMounts mounts;
  NullLog log;
  NullClock clock;
  NullDownloads downloads;
  ThreadQueues queues;
  ObserverList notifications;
  Platform platform{&registry, &diskArbitration, &plugIns,      &bundles,      &files,
                    &user,     &processes,       &userDefaults, &mounts,       &log,
                    &clock,    &downloads,       &queues,       &notifications};
};

}  // namespace

Platform& nullPlatform() {
  // Never destroyed: queue workers may outlive main.
  static NullMachine* machine = new NullMachine;
  return machine->platform;
}

}  // namespace sentrel::platform
