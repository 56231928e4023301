// The simulated machine's platform areas. Registry, disk arbitration, the
// plug-ins, the host bundle, the user and the system's own files answer from
// the description; other file operations go to the base platform's files,
// so a stored database lands inside the machine folder.
#include "sentrel/sim_machine.h"

#include <cerrno>
#include <thread>

#include "platform/resource_strings.h"
#include "platform/sim/sim_loader.h"
#include "platform/sim/sim_model.h"
#include "platform/sim/sim_plugins.h"
#include "platform/sim/sim_system.h"
#include "platform/thread_queues.h"
#include "sentrel/platform_wrapper.h"

namespace sentrel::sim {

namespace {

constexpr std::string_view kSystemVersionFile = "/System/Library/CoreServices/SystemVersion.plist";
constexpr std::string_view kExtensionsFolder = "/System/Library/Extensions";

class SimRegistry final : public platform::TreeRegistry {
 public:
  explicit SimRegistry(const SimModel& model) : model_(model) {}
  std::vector<RegistryEntry> wholeMedia() override { return model_.wholeMedia; }

 protected:
  const platform::TreeNode* node(RegistryEntry h) override { return model_.node(h); }
  RegistryEntry handleLimit() override {
    return static_cast<RegistryEntry>(model_.nodes.size() + 1);
  }

 private:
  const SimModel& model_;
};

class SimDiskArbitration final : public platform::DiskArbitration {
 public:
  explicit SimDiskArbitration(const SimModel& model) : model_(model) {}
  bool createSession() override { return !model_.diskArbitrationFails; }
  std::optional<Dict> describe(RegistryEntry medium) override {
    return platform::describeNode(model_.node(medium));
  }

 private:
  const SimModel& model_;
};

class SimBundles final : public platform::Bundles {
 public:
  SimBundles(const SimModel& model, platform::Files& files, platform::Bundles& base)
      : model_(model), files_(files), base_(base) {}
  std::string hostBundleName() override { return model_.bundleName; }
  std::string hostBundleIdentifier() override { return model_.bundleIdentifier; }
  // The machine's own resources first; what its host lacks (the demo has
  // no drive database of its own) is the base platform's host's.
  std::optional<std::string> hostResourcePath(std::string_view name,
                                              std::string_view folder) override {
    if (!model_.resources.empty()) {
      std::string path = platform::resourcePathIn(model_.resources, folder, name);
      if (files_.exists(path)) return path;
    }
    return base_.hostResourcePath(name, folder);
  }
  // The description's tables first, then the .strings files of the host's
  // resource folder.
  std::string localizedString(std::string_view key, std::string_view fallback,
                              std::string_view table) override {
    auto t = model_.localizedStrings.find(std::string(table));
    if (t != model_.localizedStrings.end()) {
      auto e = t->second.find(std::string(key));
      if (e != t->second.end()) return e->second;
    }
    return strings_.lookup(key, fallback, table);
  }
  std::optional<Image> systemImage(std::string_view name) override {
    return Image{std::string(name), 0, 0};
  }
  std::optional<std::string> bundleIdentifier(std::string_view path) override {
    if (const SimExtension* e = extension(path)) return e->bundleIdentifier;
    return std::nullopt;
  }
  std::optional<Image> bundleImage(std::string_view path, std::string_view resource) override {
    const SimExtension* e = extension(path);
    if (!e) return std::nullopt;
    for (const auto& image : e->images) {
      if (image == resource) return Image{e->folder + "/" + image, 0, 0};
    }
    return std::nullopt;
  }

 private:
  platform::ResourceStrings strings_{[this](const std::string& file) -> std::optional<std::string> {
    auto path = hostResourcePath(file, "");
    return path ? files_.readFile(*path, nullptr) : std::nullopt;
  }};

  const SimExtension* extension(std::string_view path) {
    std::string prefix = std::string(kExtensionsFolder) + "/";
    if (path.substr(0, prefix.size()) != prefix) return nullptr;
    std::string_view folder = path.substr(prefix.size());
    for (const auto& e : model_.extensions) {
      if (e.folder == folder) return &e;
    }
    return nullptr;
  }
  const SimModel& model_;
  platform::Files& files_;
  platform::Bundles& base_;
};

// The machine's own files (the system-version file, the extensions folder,
// private files) answered from the description; every other file is the
// base's.
class SimFiles final : public platform::FilesWrapper {
 public:
  SimFiles(const SimModel& model, platform::Files& base) : FilesWrapper(base), model_(model) {}

  std::optional<std::string> readFile(std::string_view path, platform::Failure* e) override {
    if (auto own = privateFile(path)) return own;
    return base().readFile(path, e);
  }
  bool removeFile(std::string_view path) override {
    {
      std::lock_guard lock(privateMutex_);
      if (privateFiles_.erase(std::string(path)) > 0) return true;
    }
    return base().removeFile(path);
  }
  bool exists(std::string_view path) override {
    return privateFile(path).has_value() || base().exists(path);
  }
  std::optional<std::vector<std::string>> listDirectory(std::string_view path) override {
    if (path == kExtensionsFolder) {
      std::vector<std::string> names;
      for (const auto& e : model_.extensions) names.push_back(e.folder);
      return names;
    }
    return base().listDirectory(path);
  }
  std::optional<Value> readPropertyList(std::string_view path) override {
    if (path == kSystemVersionFile) {
      if (!model_.systemVersion) return std::nullopt;
      return Value(Dict{{"ProductName", "macOS"}, {"ProductVersion", *model_.systemVersion}});
    }
    return base().readPropertyList(path);
  }
  // Private files are the machine's own and stay in memory, so two machines
  // (two tests running at once) never meet at a fixed path such as one in
  // /tmp, and a file on the real disk never decides whether one can be made.
  bool createPrivateFile(std::string_view path, std::string_view contents,
                         platform::Failure* e) override {
    std::lock_guard lock(privateMutex_);
    if (privateFiles_.count(std::string(path))) {
      if (e) *e = platform::failureFromErrno(std::string(path), EEXIST);
      return false;
    }
    privateFiles_[std::string(path)] = std::string(contents);
    return true;
  }

 private:
  std::optional<std::string> privateFile(std::string_view path) {
    std::lock_guard lock(privateMutex_);
    auto it = privateFiles_.find(std::string(path));
    if (it == privateFiles_.end()) return std::nullopt;
    return it->second;
  }

  const SimModel& model_;
  std::mutex privateMutex_;
  std::map<std::string, std::string> privateFiles_;
};

class SimUser final : public platform::User {
 public:
  explicit SimUser(const SimModel& model) : model_(model) {}
  std::string userName() override { return model_.userName; }
  std::string homeDirectory() override { return model_.home; }
  std::string applicationSupportDirectory() override {
    return model_.home + "/Library/Application Support";
  }
  std::string cacheDirectory() override { return model_.home + "/Library/Caches"; }

 private:
  const SimModel& model_;
};

class SimLog final : public platform::Log {
 public:
  explicit SimLog(Machine& machine) : machine_(machine) {}
  void nslog(std::string_view line) override {
    machine_.record(Dict{{"call", "nslog"}, {"line", line}});
  }
  void syslog(int priority, std::string_view line) override {
    machine_.record(Dict{{"call", "syslog"}, {"priority", priority}, {"line", line}});
  }

 private:
  Machine& machine_;
};

class SimClock final : public platform::Clock {
 public:
  explicit SimClock(Machine& machine) : machine_(machine) {}
  void sleep(std::chrono::milliseconds duration) override {
    machine_.record(Dict{{"call", "sleep"}, {"ms", static_cast<std::int64_t>(duration.count())}});
    if (real) std::this_thread::sleep_for(duration);
  }
  bool real = false;

 private:
  Machine& machine_;
};

// Downloads answer from the description's "downloads": the named file's
// bytes (up to the caller's limit), or a failure for null and for any
// address it does not list.
class SimDownloads final : public platform::Downloads {
 public:
  SimDownloads(Machine& machine, const SimModel& model, platform::Files& files)
      : machine_(machine), model_(model), files_(files) {}
  void start(std::string_view url, std::size_t maxBytes,
             std::function<void(platform::DownloadResult)> done) override {
    using Kind = platform::Failure::Kind;
    platform::DownloadResult result{
        std::nullopt, platform::failureOf(Kind::notFound, std::string(url),
                                          "the simulated machine has no such address")};
    auto it = model_.downloads.find(std::string(url));
    if (it != model_.downloads.end()) {
      if (!it->second) {
        result.failure =
            platform::failureOf(Kind::noResponse, std::string(url), "the address did not answer");
      } else {
        result.failure = {};
        result.body = files_.readFile(*it->second, &result.failure);
        if (result.body && result.body->size() > maxBytes) {
          result.body.reset();
          result.failure = platform::failureOfSize(std::string(url), maxBytes);
        }
      }
    }
    machine_.record(
        Dict{{"call", "download"}, {"url", url}, {"delivered", result.body.has_value()}});
    done(std::move(result));
  }

 private:
  Machine& machine_;
  const SimModel& model_;
  platform::Files& files_;
};

// Real serial queues and main queue, with every submission journaled.
class SimQueues final : public platform::Queues {
 public:
  explicit SimQueues(Machine& machine) : machine_(machine) {}
  void async(std::string_view label, std::function<void()> work) override {
    machine_.record(Dict{{"call", "queue.async"}, {"label", label}});
    queues_.async(label, std::move(work));
  }
  void wait(std::string_view label) override { queues_.wait(label); }
  void asyncMain(std::function<void()> work) override {
    machine_.record(Dict{{"call", "queue.asyncMain"}});
    queues_.asyncMain(std::move(work));
  }
  std::size_t drainMain() override { return queues_.drainMain(); }
  void waitAll() { queues_.waitAll(); }

 private:
  Machine& machine_;
  platform::ThreadQueues queues_;
};

class SimNotifications final : public platform::Notifications {
 public:
  explicit SimNotifications(Machine& machine) : machine_(machine) {}
  void post(std::string_view name) override {
    machine_.record(Dict{{"call", "notification"}, {"name", name}});
    observers_.post(name);
  }
  void observe(std::string_view name, std::function<void()> observer) override {
    observers_.observe(name, std::move(observer));
  }

 private:
  Machine& machine_;
  platform::ObserverList observers_;
};

}  // namespace

struct Machine::Areas {
  Areas(Machine& m, const SimModel& model, platform::Platform& base)
      : registry(model),
        diskArbitration(model),
        plugIns(m, model),
        bundles(model, *base.files, *base.bundles),
        files(model, *base.files),
        user(model),
        processes(m, model),
        userDefaults(m, model),
        mounts(model),
        log(m),
        clock(m),
        downloads(m, model, *base.files),
        queues(m),
        notifications(m) {}

  SimRegistry registry;
  SimDiskArbitration diskArbitration;
  SimPlugIns plugIns;
  SimBundles bundles;
  SimFiles files;
  SimUser user;
  SimProcesses processes;
  SimUserDefaults userDefaults;
  SimMounts mounts;
  SimLog log;
  SimClock clock;
  SimDownloads downloads;
  SimQueues queues;
  SimNotifications notifications;
  platform::Platform platform{&registry, &diskArbitration, &plugIns,      &bundles,      &files,
                              &user,     &processes,       &userDefaults, &mounts,       &log,
                              &clock,    &downloads,       &queues,       &notifications};
};

Machine::Machine(std::unique_ptr<SimModel> model, platform::Platform& base)
    : model_(std::move(model)), areas_(std::make_unique<Areas>(*this, *model_, base)) {}

// Jobs still queued use the machine's areas and journal: let them finish first.
Machine::~Machine() {
  areas_->queues.waitAll();
}

std::unique_ptr<Machine> Machine::load(const std::string& folder, platform::Platform& base,
                                       platform::Failure* failure) {
  std::string file = folder + "/machine.json";
  platform::Failure readFailure;
  auto text = base.files->readFile(file, &readFailure);
  if (!text) {
    readFailure.reason = "cannot read the machine description: " + readFailure.reason;
    if (failure) *failure = std::move(readFailure);
    return nullptr;
  }
  auto model = loadModel(*text, folder, file, *base.files, failure);
  if (!model) return nullptr;
  return std::unique_ptr<Machine>(new Machine(std::move(model), base));
}

std::unique_ptr<Machine> Machine::fromJsonText(std::string_view json, const std::string& folder,
                                               platform::Platform& base,
                                               platform::Failure* failure) {
  auto model = loadModel(json, folder, "machine.json", *base.files, failure);
  if (!model) return nullptr;
  return std::unique_ptr<Machine>(new Machine(std::move(model), base));
}

platform::Platform& Machine::platform() {
  return areas_->platform;
}

void Machine::setRealSleeps(bool real) {
  areas_->clock.real = real;
}

void Machine::record(Dict entry) {
  std::lock_guard lock(journalMutex_);
  journal_.push_back(std::move(entry));
}

std::vector<Dict> Machine::journal() const {
  std::lock_guard lock(journalMutex_);
  return journal_;
}

void Machine::clearJournal() {
  std::lock_guard lock(journalMutex_);
  journal_.clear();
}

std::vector<Dict> Machine::calls(std::string_view name) const {
  std::lock_guard lock(journalMutex_);
  std::vector<Dict> out;
  for (const Dict& d : journal_) {
    if (const std::string* call = d.getString("call"); call && *call == name) out.push_back(d);
  }
  return out;
}

}  // namespace sentrel::sim
