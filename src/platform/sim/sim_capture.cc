// Recording plug-ins and the writer of a captured disk. Each recorded
// command keeps its last answer: the bytes when it succeeded, else its
// status; the writer turns them into the format::kAta and format::kNvme blocks of the
// machine format, so a replay answers every command the same way.
#include "sentrel/sim_capture.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/sim/sim_format.h"
#include "sentrel/keys.h"
#include "sentrel/platform_wrapper.h"
#include "sentrel/value_io.h"

namespace sentrel::sim {

using platform::RegistryEntry;
using platform::Status;

namespace {

constexpr std::size_t kSector = platform::kSectorSize;
constexpr std::size_t kNvmePage = 4096;
constexpr std::uint8_t kErrorLog = 1, kHealthLog = 2, kFirmwareLog = 3, kSelfTestLog = 6;
constexpr std::size_t kNvmeSelfTestLog = 564;
constexpr std::string_view kSystemVersionFile = "/System/Library/CoreServices/SystemVersion.plist";

struct Answer {
  std::optional<Data> bytes;  // what a successful command read
  Status status = 0;
};

Answer answerOf(Status status, std::span<const std::uint8_t> bytes) {
  if (status != 0) return Answer{std::nullopt, status};
  return Answer{Data(bytes.begin(), bytes.end()), 0};
}

struct AtaRecord {
  std::vector<Status> opens;
  std::optional<Status> query, enable, selftest, report;
  bool exceeded = false;
  std::optional<Answer> identify, smartData, thresholds;
  std::map<std::uint8_t, Answer> logs;
};

// A system extension bundle the reading looked at, for the drive icons.
struct ExtensionRecord {
  std::string bundleIdentifier;
  std::vector<std::string> images;
};

struct NvmeRecord {
  std::vector<Status> opens;
  std::optional<Status> query;
  std::uint16_t version = 1, revision = 4;
  std::optional<Status> selftest;
  std::optional<Answer> identify, health, errorLog, firmwareLog, selfTestLog;
};

}  // namespace

struct Capture::Recorder {
  explicit Recorder(platform::Platform& m)
      : machine(m), plugIns(*this, *m.plugIns), bundles(*this, *m.bundles), recording(m) {
    recording.plugIns = &plugIns;
    recording.bundles = &bundles;
  }

  template <typename F>
  auto locked(F f) {
    std::lock_guard lock(mutex);
    ++commands;
    return f();
  }

  class AtaInterface final : public platform::AtaSmartInterfaceWrapper {
   public:
    AtaInterface(Recorder& r, RegistryEntry s, std::unique_ptr<platform::AtaSmartInterface> i)
        : AtaSmartInterfaceWrapper(std::move(i)), r_(r), service_(s) {}
    Status enableOperations(bool enable) override {
      Status s = base().enableOperations(enable);
      r_.locked([&] { return rec().enable = s; });
      return s;
    }
    Status reportStatus(bool& exceeded) override {
      Status s = base().reportStatus(exceeded);
      r_.locked([&] {
        rec().report = s;
        if (s == 0) rec().exceeded = exceeded;
        return 0;
      });
      return s;
    }
    Status runOfflineImmediate(bool extended) override {
      Status s = base().runOfflineImmediate(extended);
      r_.locked([&] { return rec().selftest = s; });
      return s;
    }
    Status executeOfflineImmediate(std::uint8_t subcommand) override {
      Status s = base().executeOfflineImmediate(subcommand);
      r_.locked([&] { return rec().selftest = s; });
      return s;
    }
    Status readSmartData(platform::Sector buffer) override {
      Status s = base().readSmartData(buffer);
      r_.locked([&] { return rec().smartData = answerOf(s, buffer), 0; });
      return s;
    }
    Status readSmartThresholds(platform::Sector buffer) override {
      Status s = base().readSmartThresholds(buffer);
      r_.locked([&] { return rec().thresholds = answerOf(s, buffer), 0; });
      return s;
    }
    Status readSmartLog(std::uint8_t address, std::span<std::uint8_t> buffer) override {
      Status s = base().readSmartLog(address, buffer);
      // The machine format holds one sector per log address.
      r_.locked([&] {
        rec().logs[address] = answerOf(s, buffer.first(std::min(buffer.size(), kSector)));
        return 0;
      });
      return s;
    }
    Status readIdentify(platform::Sector buffer) override {
      Status s = base().readIdentify(buffer);
      r_.locked([&] { return rec().identify = answerOf(s, buffer), 0; });
      return s;
    }

   private:
    AtaRecord& rec() { return r_.ata[service_]; }
    Recorder& r_;
    RegistryEntry service_;
  };

  class AtaPlugIn final : public platform::AtaSmartPlugIn {
   public:
    AtaPlugIn(Recorder& r, RegistryEntry s, std::unique_ptr<platform::AtaSmartPlugIn> p)
        : r_(r), service_(s), inner_(std::move(p)) {}
    Status queryInterface(std::unique_ptr<platform::AtaSmartInterface>& out) override {
      std::unique_ptr<platform::AtaSmartInterface> inner;
      Status s = inner_->queryInterface(inner);
      r_.locked([&] { return r_.ata[service_].query = s; });
      if (s == 0 && inner) out = std::make_unique<AtaInterface>(r_, service_, std::move(inner));
      return s;
    }

   private:
    Recorder& r_;
    RegistryEntry service_;
    std::unique_ptr<platform::AtaSmartPlugIn> inner_;
  };

  class NvmeInterface final : public platform::NvmeSmartInterfaceWrapper {
   public:
    NvmeInterface(Recorder& r, RegistryEntry s, std::unique_ptr<platform::NvmeSmartInterface> i)
        : NvmeSmartInterfaceWrapper(std::move(i)), r_(r), service_(s) {}
    Status readIdentifyData(std::span<std::uint8_t> buffer, std::uint32_t nsid) override {
      Status s = base().readIdentifyData(buffer, nsid);
      // The machine format has one identify page for every selector: keep
      // the controller's.
      r_.locked([&] {
        if (nsid == 0 || !rec().identify) rec().identify = answerOf(s, buffer);
        return 0;
      });
      return s;
    }
    Status readLogPage(std::span<std::uint8_t> buffer, std::uint8_t logId,
                       std::uint32_t dwordsMinusOne) override {
      Status s = base().readLogPage(buffer, logId, dwordsMinusOne);
      r_.locked([&] {
        if (logId == kErrorLog) rec().errorLog = answerOf(s, buffer);
        if (logId == kHealthLog) rec().health = answerOf(s, buffer);
        if (logId == kFirmwareLog) rec().firmwareLog = answerOf(s, buffer);
        if (logId == kSelfTestLog) rec().selfTestLog = answerOf(s, buffer);
        return 0;
      });
      return s;
    }
    Status readHealthData(std::span<std::uint8_t> buffer) override {
      Status s = base().readHealthData(buffer);
      r_.locked([&] { return rec().health = answerOf(s, buffer), 0; });
      return s;
    }
    Status deviceSelfTest(std::uint8_t code) override {
      Status s = base().deviceSelfTest(code);
      r_.locked([&] { return rec().selftest = s; });
      return s;
    }

   private:
    NvmeRecord& rec() { return r_.nvme[service_]; }
    Recorder& r_;
    RegistryEntry service_;
  };

  class NvmePlugIn final : public platform::NvmeSmartPlugIn {
   public:
    NvmePlugIn(Recorder& r, RegistryEntry s, std::unique_ptr<platform::NvmeSmartPlugIn> p)
        : r_(r), service_(s), inner_(std::move(p)) {}
    Status queryInterface(std::unique_ptr<platform::NvmeSmartInterface>& out) override {
      std::unique_ptr<platform::NvmeSmartInterface> inner;
      Status s = inner_->queryInterface(inner);
      r_.locked([&] {
        NvmeRecord& rec = r_.nvme[service_];
        rec.query = s;
        if (s == 0 && inner) {
          rec.version = inner->version();
          rec.revision = inner->revision();
        }
        return 0;
      });
      if (s == 0 && inner) out = std::make_unique<NvmeInterface>(r_, service_, std::move(inner));
      return s;
    }

   private:
    Recorder& r_;
    RegistryEntry service_;
    std::unique_ptr<platform::NvmeSmartPlugIn> inner_;
  };

  class PlugIns final : public platform::SmartPlugInsWrapper {
   public:
    PlugIns(Recorder& r, platform::SmartPlugIns& base) : SmartPlugInsWrapper(base), r_(r) {}
    Status createAtaPlugIn(RegistryEntry service, std::unique_ptr<platform::AtaSmartPlugIn>& out,
                           platform::Failure* failure) override {
      std::unique_ptr<platform::AtaSmartPlugIn> inner;
      Status s = SmartPlugInsWrapper::createAtaPlugIn(service, inner, failure);
      r_.locked([&] {
        r_.ata[service].opens.push_back(s);
        return 0;
      });
      if (s == 0 && inner) out = std::make_unique<AtaPlugIn>(r_, service, std::move(inner));
      return s;
    }
    Status createNvmePlugIn(RegistryEntry service, std::unique_ptr<platform::NvmeSmartPlugIn>& out,
                            platform::Failure* failure) override {
      std::unique_ptr<platform::NvmeSmartPlugIn> inner;
      Status s = SmartPlugInsWrapper::createNvmePlugIn(service, inner, failure);
      r_.locked([&] {
        r_.nvme[service].opens.push_back(s);
        return 0;
      });
      if (s == 0 && inner) out = std::make_unique<NvmePlugIn>(r_, service, std::move(inner));
      return s;
    }

   private:
    Recorder& r_;
  };

  // Forwards everything; notes what the system's extension bundles answer.
  class Bundles final : public platform::BundlesWrapper {
   public:
    Bundles(Recorder& r, platform::Bundles& base) : BundlesWrapper(base), r_(r) {}
    std::optional<std::string> bundleIdentifier(std::string_view path) override {
      auto id = BundlesWrapper::bundleIdentifier(path);
      if (id) note(path, [&](ExtensionRecord& e) { e.bundleIdentifier = *id; });
      return id;
    }
    std::optional<Image> bundleImage(std::string_view path, std::string_view resource) override {
      auto image = BundlesWrapper::bundleImage(path, resource);
      if (image)
        note(path, [&](ExtensionRecord& e) {
          if (std::find(e.images.begin(), e.images.end(), resource) == e.images.end())
            e.images.emplace_back(resource);
        });
      return image;
    }

   private:
    template <typename F>
    void note(std::string_view path, F f) {
      constexpr std::string_view kExtensions = "/System/Library/Extensions/";
      if (path.substr(0, kExtensions.size()) != kExtensions) return;
      std::string folder(path.substr(kExtensions.size()));
      std::lock_guard lock(r_.mutex);
      auto [it, added] = r_.extensions.try_emplace(folder);
      if (added) r_.extensionOrder.push_back(folder);
      f(it->second);
    }
    Recorder& r_;
  };

  platform::Platform& machine;
  PlugIns plugIns;
  Bundles bundles;
  platform::Platform recording;
  std::map<std::string, ExtensionRecord> extensions;
  std::vector<std::string> extensionOrder;
  mutable std::mutex mutex;
  std::size_t commands = 0;
  std::map<RegistryEntry, AtaRecord> ata;
  std::map<RegistryEntry, NvmeRecord> nvme;
};

namespace {

// The file that marks a folder as a capture, which a later capture may
// replace; any other folder that is not empty is left alone.
constexpr std::string_view kCaptureMark = ".sentrel-capture";
constexpr std::string_view kCaptureMarkText =
    "A drive captured by `sentrel capture`; a later capture may replace this folder.\n";

// Writes the files of one capture and builds its description. Every file
// is made inside the folder without following a symbolic link (one planted
// at a file or at sectors/ or resources/ fails the capture), and is new
// unless an earlier capture is being replaced.
class Writer {
 public:
  Writer(platform::Platform& m, std::string folder, bool replacing)
      : m_(m), folder_(std::move(folder)), replacing_(replacing) {}

  // A sector value: a file for the bytes of a successful read (padded or
  // cut to the size the machine format holds), else the status alone.
  Value sector(const Answer& a, const std::string& name, std::size_t size) {
    if (!a.bytes) return Value(Dict{{format::kStatus, static_cast<std::int64_t>(a.status)}});
    Data bytes = *a.bytes;
    bytes.resize(size, 0);
    std::string file = "sectors/" + name + ".bin";
    write(file, std::string(bytes.begin(), bytes.end()));
    return Value(file);
  }

  void write(const std::string& relative, std::string_view contents) {
    if (failure_) return;
    platform::Failure e;
    if (!m_.files->writeFileIn(folder_, relative, contents, !replacing_, &e))
      failure_ = std::move(e);
  }

  void copy(const std::string& from, const std::string& relative) {
    platform::Failure e;
    auto text = m_.files->readFile(from, &e);
    if (!text) {
      if (!failure_) failure_ = std::move(e);
      return;
    }
    write(relative, *text);
  }

  // The first file that could not be written or read, and why.
  const std::optional<platform::Failure>& failure() const { return failure_; }

 private:
  platform::Platform& m_;
  std::string folder_;
  bool replacing_;
  std::optional<platform::Failure> failure_;
};

// Makes the capture folder, or checks that an existing one is empty or an
// earlier capture; answers whether it is an earlier capture, or nothing
// after saying why the folder cannot be used.
std::optional<bool> prepareFolder(platform::Files& files, const std::string& folder,
                                  platform::Failure& failure) {
  std::optional<std::vector<std::string>> names = files.listDirectory(folder);
  if (!names) {
    if (!files.createDirectories(folder, &failure)) return std::nullopt;
    return false;
  }
  if (names->empty()) return false;
  if (std::find(names->begin(), names->end(), kCaptureMark) != names->end()) return true;
  failure = platform::failureOf(platform::Failure::Kind::permission, folder,
                                "is not empty and holds no earlier capture; capture into a new or "
                                "empty folder");
  return std::nullopt;
}

Value statusValue(Status s) {
  return Value(static_cast<std::int64_t>(s));
}

Dict ataBlock(const AtaRecord& r, RegistryEntry h, Writer& w) {
  std::string base = "ata-" + std::to_string(h) + "-";
  Dict d;
  if (!r.opens.empty()) {
    Array opens;
    for (Status s : r.opens) opens.push_back(statusValue(s));
    d.set(format::kOpenStatuses, std::move(opens));
  }
  if (r.query) d.set(format::kQueryStatus, statusValue(*r.query));
  if (r.enable) d.set(format::kEnableStatus, statusValue(*r.enable));
  if (r.selftest) d.set(format::kSelftestStatus, statusValue(*r.selftest));
  if (r.report) d.set(format::kReportStatus, statusValue(*r.report));
  d.set(format::kThresholdExceeded, r.exceeded);
  if (r.identify) d.set(format::kIdentify, w.sector(*r.identify, base + "identify", kSector));
  if (r.smartData) d.set(format::kSmartData, w.sector(*r.smartData, base + "smart-data", kSector));
  if (r.thresholds)
    d.set(format::kThresholds, w.sector(*r.thresholds, base + "thresholds", kSector));
  if (!r.logs.empty()) {
    Dict logs;
    for (const auto& [address, answer] : r.logs)
      logs.set(std::to_string(address),
               w.sector(answer, base + "log-" + std::to_string(address), kSector));
    d.set(format::kLogs, std::move(logs));
  }
  return d;
}

Dict nvmeBlock(const NvmeRecord& r, RegistryEntry h, Writer& w) {
  std::string base = "nvme-" + std::to_string(h) + "-";
  Dict d;
  // The format has one open status for every creation: the last one seen.
  if (!r.opens.empty()) d.set(format::kOpenStatus, statusValue(r.opens.back()));
  if (r.query) d.set(format::kQueryStatus, statusValue(*r.query));
  d.set(format::kVersion, std::int64_t{r.version});
  d.set(format::kRevision, std::int64_t{r.revision});
  if (r.identify) d.set(format::kIdentify, w.sector(*r.identify, base + "identify", kNvmePage));
  if (r.health) d.set(format::kHealth, w.sector(*r.health, base + "health", kSector));
  if (r.errorLog) d.set(format::kErrorLog, w.sector(*r.errorLog, base + "error-log", kNvmePage));
  if (r.firmwareLog)
    d.set(format::kFirmwareLog, w.sector(*r.firmwareLog, base + "firmware-log", kSector));
  if (r.selfTestLog)
    d.set(format::kSelfTestLog, w.sector(*r.selfTestLog, base + "self-test-log", kNvmeSelfTestLog));
  if (r.selftest) d.set(format::kSelftestStatus, statusValue(*r.selftest));
  return d;
}

}  // namespace

Capture::Capture(platform::Platform& machine) : recorder_(std::make_unique<Recorder>(machine)) {}
Capture::~Capture() = default;

platform::Platform& Capture::platform() {
  return recorder_->recording;
}

std::size_t Capture::commandCount() const {
  std::lock_guard lock(recorder_->mutex);
  return recorder_->commands;
}

bool Capture::write(const std::string& folder, std::string_view bsdName,
                    platform::Failure* failure) {
  using Kind = platform::Failure::Kind;
  auto fail = [&](platform::Failure f) {
    if (failure) *failure = std::move(f);
    return false;
  };
  platform::Platform& m = recorder_->machine;
  RegistryEntry medium = 0;
  std::optional<Dict> description;
  if (m.diskArbitration->createSession()) {
    for (RegistryEntry e : m.registry->wholeMedia()) {
      description = m.diskArbitration->describe(e);
      if (description && description->stringOr(keys::kDAMediaBSDName) == bsdName) {
        medium = e;
        break;
      }
    }
  }
  if (medium == 0)
    return fail(
        platform::failureOf(Kind::notFound, std::string(bsdName), "no whole disk has this name"));

  platform::Failure unusable;
  std::optional<bool> replacing = prepareFolder(*m.files, folder, unusable);
  if (!replacing) return fail(std::move(unusable));

  std::lock_guard lock(recorder_->mutex);
  Writer w(m, folder, *replacing);
  // The mark goes first: a capture that fails half way may be replaced.
  w.write(std::string(kCaptureMark), kCaptureMarkText);
  Dict disk{{format::kHandle, std::uint64_t{medium}},
            {format::kDescription, *description},
            {format::kProperties, m.registry->properties(medium).value_or(Dict{})}};

  Array descendants;
  for (RegistryEntry child : m.registry->descendants(medium)) {
    Dict d{{format::kHandle, std::uint64_t{child}},
           {format::kProperties, m.registry->properties(child).value_or(Dict{})}};
    auto childDescription = m.diskArbitration->describe(child);
    if (!childDescription)
      d.set(format::kNoDisk, true);
    else if (const std::string* v = childDescription->getString(keys::kDAVolumeName))
      d.set(format::kVolumeName, *v);
    descendants.push_back(std::move(d));
  }
  disk.set(format::kDescendants, std::move(descendants));

  Array ancestors;
  for (auto at = m.registry->parent(medium); at; at = m.registry->parent(*at)) {
    Dict a{{format::kHandle, std::uint64_t{*at}},
           {format::kName, m.registry->name(*at)},
           {format::kClass, m.registry->className(*at)},
           {format::kProperties, m.registry->properties(*at).value_or(Dict{})}};
    if (auto it = recorder_->ata.find(*at); it != recorder_->ata.end())
      a.set(format::kAta, ataBlock(it->second, *at, w));
    if (auto it = recorder_->nvme.find(*at); it != recorder_->nvme.end())
      a.set(format::kNvme, nvmeBlock(it->second, *at, w));
    ancestors.push_back(std::move(a));
  }
  disk.set(format::kAncestors, std::move(ancestors));

  // The host's string tables and drive database make the replay decode
  // and name everything as the capture did.
  Dict host{{format::kBundleName, m.bundles->hostBundleName()},
            {format::kBundleIdentifier, m.bundles->hostBundleIdentifier()},
            {format::kUserName, m.user->userName()},
            {format::kResources, format::kResources}};
  for (const char* table : {"Localizable.strings", "SMART.strings"}) {
    if (auto path = m.bundles->hostResourcePath(table, ""))
      w.copy(*path, std::string("resources/") + table);
  }
  if (databaseFile_.empty()) {
    if (auto path = m.bundles->hostResourcePath("drivedb.h", "driveDatabase"))
      w.copy(*path, "resources/driveDatabase/drivedb.h");
  } else {
    w.copy(databaseFile_, "resources/driveDatabase/drivedb.h");
  }

  Dict machine{{format::kHost, std::move(host)}};
  if (!recorder_->extensionOrder.empty()) {
    Array extensions;
    for (const std::string& bundleFolder : recorder_->extensionOrder) {
      const ExtensionRecord& e = recorder_->extensions.at(bundleFolder);
      Array images;
      for (const std::string& image : e.images) images.push_back(Value(image));
      extensions.push_back(Dict{{format::kFolder, bundleFolder},
                                {format::kBundleIdentifier, e.bundleIdentifier},
                                {format::kImages, std::move(images)}});
    }
    machine.set(format::kExtensions, std::move(extensions));
  }
  if (auto version = m.files->readPropertyList(kSystemVersionFile)) {
    if (const Dict* d = version->ifDict(); d && d->getString("ProductVersion"))
      machine.set(format::kSystemVersion, *d->getString("ProductVersion"));
  }
  machine.set(format::kDisks, Array{Value(std::move(disk))});
  w.write("machine.json", toJson(Value(std::move(machine))) + "\n");
  if (w.failure()) return fail(*w.failure());
  return true;
}

}  // namespace sentrel::sim
