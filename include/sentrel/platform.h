// The platform seam. Every operating-system effect the library has (the
// device registry, disk arbitration, the ATA and NVMe SMART plug-ins, the host
// bundle, files, child processes, user defaults, mounts, logging, sleeping,
// downloads, notifications and queues) goes through one of the small
// interfaces below, bundled in `Platform`. Decoders never include this header.
//
// Backends implement it: the simulated machine (src/platform/sim), which
// answers from a folder description and journals every call, the Linux
// backend (src/platform/linux), and the null backend (src/platform/null),
// which has no disks and refuses everything. Only a composition root (the
// CLI's main, a test fixture) picks one and installs it with
// `ScopedPlatform`; platform_wrapper.h has forwarding areas for a backend
// or a test double that changes a few operations of another platform.
//
// Every operation is mandatory unless its comment says "Optional": an
// optional operation has a default here that a backend may keep.
//
// Failure is never an exception: operations answer a status, an empty
// optional or an empty container, as each contract says. Where the cause
// matters to a user (a file, a device node, a download), the backend also
// describes it as a `Failure`, made at the system call that failed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sentrel/export.h"
#include "sentrel/failure.h"
#include "sentrel/value.h"

namespace sentrel::platform {

// A handle of one registry entry. 0 names nothing. Handles stay valid for
// the life of the platform that gave them.
using RegistryEntry = std::uint32_t;

// The device registry: a tree of entries (controllers, drives, media,
// partitions) each with a class, a name and a property dictionary.
class SENTREL_API Registry {
 public:
  virtual ~Registry() = default;
  // Every whole medium, in the platform's iteration order.
  virtual std::vector<RegistryEntry> wholeMedia() = 0;
  // All descendants of an entry, depth first in registry order.
  virtual std::vector<RegistryEntry> descendants(RegistryEntry entry) = 0;
  // The parent entry; empty once the root is passed.
  virtual std::optional<RegistryEntry> parent(RegistryEntry entry) = 0;
  // The entry's full property dictionary; empty for an unknown handle.
  virtual std::optional<Dict> properties(RegistryEntry entry) = 0;
  virtual std::string name(RegistryEntry entry) = 0;
  virtual std::string className(RegistryEntry entry) = 0;
  // One property of the entry itself, or with `searchParents` the first
  // value found on the entry or any of its ancestors, nearest first.
  // Optional: the default walks parent() and properties().
  virtual std::optional<Value> searchProperty(RegistryEntry entry, std::string_view key,
                                              bool searchParents);
  // The first entry whose properties hold every key of `match` with an equal
  // value; 0 when none.
  virtual RegistryEntry matchingService(const Dict& match) = 0;
};

// Disk arbitration: the description dictionary of a medium ("DAMediaBSDName",
// "DAMediaContent", "DAMediaWhole", "DAVolumeName", ...).
class SENTREL_API DiskArbitration {
 public:
  virtual ~DiskArbitration() = default;
  // False when no session can be had; nothing else may then be asked.
  virtual bool createSession() = 0;
  // Empty when no disk object can be made for the medium.
  virtual std::optional<Dict> describe(RegistryEntry medium) = 0;
};

inline constexpr std::size_t kSectorSize = 512;
using Sector = std::span<std::uint8_t, kSectorSize>;
using ConstSector = std::span<const std::uint8_t, kSectorSize>;

// The ATA SMART interface of one drive. Destroying it releases it. Every
// read fills the whole buffer; on a non-zero status the buffer's contents
// are unspecified (the simulated machine zero-fills it). One thread uses an
// interface at a time.
class SENTREL_API AtaSmartInterface {
 public:
  virtual ~AtaSmartInterface() = default;
  // Optional: why the most recent command that failed did so (later
  // successes do not clear it); nothing when no command failed or the
  // backend cannot say.
  virtual std::optional<Failure> lastFailure() const { return std::nullopt; }
  virtual Status enableOperations(bool enable) = 0;
  virtual Status reportStatus(bool& thresholdExceeded) = 0;
  virtual Status runOfflineImmediate(bool extended) = 0;
  // SMART EXECUTE OFF-LINE IMMEDIATE with any subcommand: 1 short, 2
  // extended, 3 conveyance self-test in the background. Optional: the
  // default sends 1 and 2 through runOfflineImmediate and refuses the rest.
  virtual Status executeOfflineImmediate(std::uint8_t subcommand) {
    if (subcommand == 1 || subcommand == 2) return runOfflineImmediate(subcommand == 2);
    return kUnsupported;
  }
  virtual Status readSmartData(Sector buffer) = 0;
  // 0 when the sector's checksum is sound.
  virtual Status validateSmartData(ConstSector buffer) = 0;
  virtual Status readSmartThresholds(Sector buffer) = 0;
  virtual Status readSmartLog(std::uint8_t address, std::span<std::uint8_t> buffer) = 0;
  virtual Status readIdentify(Sector buffer) = 0;
  // CHECK POWER MODE, which no drive wakes for: `mode` receives the count
  // register (0x00 standby, 0x80 idle, 0xFF active or idle, ...). A drive
  // asleep does not answer. Optional: the default refuses.
  virtual Status checkPowerMode(std::uint8_t& mode) {
    (void)mode;
    return kUnsupported;
  }
};

// The ATA SMART plug-in made for one registry entry. Destroying it destroys
// the plug-in; its interface must be released first.
class SENTREL_API AtaSmartPlugIn {
 public:
  virtual ~AtaSmartPlugIn() = default;
  virtual Status queryInterface(std::unique_ptr<AtaSmartInterface>& out) = 0;
};

// The NVMe SMART interface of one controller.
class SENTREL_API NvmeSmartInterface {
 public:
  virtual ~NvmeSmartInterface() = default;
  // Optional: as AtaSmartInterface::lastFailure.
  virtual std::optional<Failure> lastFailure() const { return std::nullopt; }
  virtual std::uint16_t version() = 0;
  virtual std::uint16_t revision() = 0;
  // Identify data (4096 bytes) for namespace selector `nsid` (0: the controller).
  virtual Status readIdentifyData(std::span<std::uint8_t> buffer, std::uint32_t nsid) = 0;
  // Log page `logId`, `dwordsMinusOne` + 1 32-bit words into `buffer`.
  virtual Status readLogPage(std::span<std::uint8_t> buffer, std::uint8_t logId,
                             std::uint32_t dwordsMinusOne) = 0;
  // The SMART / Health Information log (512 bytes).
  virtual Status readHealthData(std::span<std::uint8_t> buffer) = 0;
  // Device Self-test for all namespaces: code 1 short, 2 extended, 0xF
  // aborts the one running. Optional: the default refuses.
  virtual Status deviceSelfTest(std::uint8_t code) {
    (void)code;
    return kUnsupported;
  }
};

class SENTREL_API NvmeSmartPlugIn {
 public:
  virtual ~NvmeSmartPlugIn() = default;
  virtual Status queryInterface(std::unique_ptr<NvmeSmartInterface>& out) = 0;
};

// Creation of the per-drive SMART plug-ins. A creation that fails answers
// its status and, when `failure` is given, describes the cause there (the
// device node that could not be opened and why). May be called from any
// thread.
class SENTREL_API SmartPlugIns {
 public:
  virtual ~SmartPlugIns() = default;
  virtual Status createAtaPlugIn(RegistryEntry service, std::unique_ptr<AtaSmartPlugIn>& out,
                                 Failure* failure) = 0;
  virtual Status createNvmePlugIn(RegistryEntry service, std::unique_ptr<NvmeSmartPlugIn>& out,
                                  Failure* failure) = 0;
};

// The host application's bundle and the bundles of system extensions.
class SENTREL_API Bundles {
 public:
  virtual ~Bundles() = default;
  virtual std::string hostBundleName() = 0;
  virtual std::string hostBundleIdentifier() = 0;
  // Path of a resource of the host bundle, `folder` relative to its resource
  // folder ("" for the top); empty when the file does not exist.
  virtual std::optional<std::string> hostResourcePath(std::string_view name,
                                                      std::string_view folder) = 0;
  // The localized string for `key` in `table` ("" for the default table).
  // A missing key answers `fallback`, or the key itself when `fallback` is "".
  virtual std::string localizedString(std::string_view key, std::string_view fallback,
                                      std::string_view table) = 0;
  // A system image by name; empty when the system has none of that name.
  virtual std::optional<Image> systemImage(std::string_view name) = 0;
  // The identifier of the bundle at `path`; empty when it is not a bundle.
  virtual std::optional<std::string> bundleIdentifier(std::string_view path) = 0;
  // An image resource of the bundle at `path`; empty when it has none.
  virtual std::optional<Image> bundleImage(std::string_view path, std::string_view resource) = 0;
};

class SENTREL_API Files {
 public:
  virtual ~Files() = default;
  // The operations that can fail describe why in `failure` when it is given:
  // the path and the system's reason.

  // The whole file as bytes; empty on failure. Only a regular file is read,
  // and only up to the backend's size limit: a device, a pipe or a folder
  // fails at once ("not a regular file") without blocking, and so does a
  // longer file (failureOfSize), so no file read here can be endless.
  virtual std::optional<std::string> readFile(std::string_view path, Failure* failure) = 0;
  // Writes through a temporary file in the same folder and a rename, so a
  // reader sees the old file or the new one, never a mix; a failed write
  // leaves no temporary file behind, and the temporary files that writes to
  // the same path left when their process died are removed.
  virtual bool writeFileAtomically(std::string_view path, std::string_view contents,
                                   Failure* failure) = 0;
  // Writes `contents` to the file `name` inside `folder`, where `name` is a
  // relative path of plain components ("sectors/x.bin"; no "..", no empty
  // component). The folders of `name` are made when missing. Nothing below
  // `folder` is ever reached through a symbolic link: a link at the file or
  // at one of its folders fails the write, so a link someone planted there
  // cannot send the bytes elsewhere. With `mustBeNew`, an existing file
  // fails it too; otherwise an existing file is truncated and rewritten in
  // place (a device such as /dev/null is written as it is). Every write and
  // the close are checked; a failure names the file and the reason.
  virtual bool writeFileIn(std::string_view folder, std::string_view name,
                           std::string_view contents, bool mustBeNew, Failure* failure) = 0;
  // Creates the folder and its missing parents; true when it exists afterwards.
  virtual bool createDirectories(std::string_view path, Failure* failure) = 0;
  virtual bool removeFile(std::string_view path) = 0;
  virtual bool exists(std::string_view path) = 0;
  // Entry names of a folder in listing order; empty optional on failure.
  virtual std::optional<std::vector<std::string>> listDirectory(std::string_view path) = 0;
  // A property-list file (XML or binary) read into a value; empty on failure.
  virtual std::optional<Value> readPropertyList(std::string_view path) = 0;
  // When the file was last modified, in nanoseconds since 1970; empty when
  // it cannot be told (no such file). Optional: the default cannot tell.
  virtual std::optional<std::int64_t> modificationTime(std::string_view path) {
    (void)path;
    return std::nullopt;
  }
  // Creates a new file that only its owner may read and write, holding
  // `contents`. Fails when anything is already at the path (a file, a
  // folder, a symbolic link), so a file in a shared folder such as /tmp is
  // never written through a link someone else planted there. Optional: the
  // default refuses, as a file area without private files does.
  virtual bool createPrivateFile(std::string_view path, std::string_view contents,
                                 Failure* failure) {
    (void)contents;
    if (failure)
      *failure = failureOf(Failure::Kind::unsupported, std::string(path),
                           "private files are not supported here");
    return false;
  }
};

// The user running the host.
class SENTREL_API User {
 public:
  virtual ~User() = default;
  virtual std::string userName() = 0;
  virtual std::string homeDirectory() = 0;
  // The folder where applications keep their support data.
  virtual std::string applicationSupportDirectory() = 0;
  // The folder where applications keep what they can make again (caches);
  // "" when the user has none, and nothing is kept. Optional: the default
  // has none.
  virtual std::string cacheDirectory() { return ""; }
};

class SENTREL_API Processes {
 public:
  virtual ~Processes() = default;
  // Runs the tool at an absolute path with an empty environment and answers
  // its whole standard output; empty when it cannot be started, or when its
  // output grows past the backend's size limit (the tool is then stopped).
  virtual std::optional<std::string> run(std::string_view tool,
                                         const std::vector<std::string>& arguments) = 0;
};

class SENTREL_API UserDefaults {
 public:
  virtual ~UserDefaults() = default;
  virtual std::optional<Value> get(std::string_view key) = 0;
  virtual void set(std::string_view key, const Value& value) = 0;
};

struct MountEntry {
  std::string from;  // the mounted device ("/dev/disk1s1")
  std::string on;    // the mount point
  std::string type;  // the file-system type ("apfs")
};

struct FileSystemStats {
  std::uint64_t blockSize = 0;
  std::uint64_t blocks = 0;
  std::uint64_t freeBlocks = 0;
  std::uint64_t availableBlocks = 0;
  std::string type;
  std::string from;
  std::string on;
};

class SENTREL_API Mounts {
 public:
  virtual ~Mounts() = default;
  virtual std::vector<MountEntry> mountTable() = 0;
  virtual std::optional<FileSystemStats> statfs(std::string_view path) = 0;
};

class SENTREL_API Log {
 public:
  virtual ~Log() = default;
  // One NSLog-style line of the system log.
  virtual void nslog(std::string_view line) = 0;
  // One syslog line with its priority.
  virtual void syslog(int priority, std::string_view line) = 0;
};

class SENTREL_API Clock {
 public:
  virtual ~Clock() = default;
  // Blocks the calling thread for the duration; nothing wakes it early.
  virtual void sleep(std::chrono::milliseconds duration) = 0;
};

// What a finished download hands over: the body, or nothing with why it
// failed (the address is the failure's subject).
struct DownloadResult {
  std::optional<std::string> body;
  Failure failure;
};

class SENTREL_API Downloads {
 public:
  virtual ~Downloads() = default;
  // Starts fetching the address and returns at once. `completion` runs once,
  // on a platform thread (or on the caller's, before start returns, when the
  // answer is known at once).
  //
  // Only an https:// address, or an http:// one given as such, is fetched,
  // and never over another scheme: redirects of an https:// address are
  // followed to https:// addresses only, and those of an http:// address
  // not at all. Only an answer with a success status (2xx) delivers its
  // body; any other status fails the download (failureOfHttpStatus). A body
  // longer than `maxBytes` fails it too (failureOfSize), and no more of it
  // than that is kept meanwhile.
  virtual void start(std::string_view url, std::size_t maxBytes,
                     std::function<void(DownloadResult)> completion) = 0;
};

// Work queues: a serial background queue per label, and the host's main
// queue, which runs only when the host drains it on its main thread.
class SENTREL_API Queues {
 public:
  virtual ~Queues() = default;
  // Queues work on the serial queue `label`; jobs of one label run one after
  // another in submission order, never overlapping.
  virtual void async(std::string_view label, std::function<void()> work) = 0;
  // Blocks until everything queued on `label` so far has run.
  virtual void wait(std::string_view label) = 0;
  virtual void asyncMain(std::function<void()> work) = 0;
  // Runs the main queue's pending work on the calling thread (the host's main
  // thread); answers how many items ran.
  virtual std::size_t drainMain() = 0;
};

class SENTREL_API Notifications {
 public:
  virtual ~Notifications() = default;
  // Delivers to every observer of `name`, on the calling thread.
  virtual void post(std::string_view name) = 0;
  virtual void observe(std::string_view name, std::function<void()> observer) = 0;
};

// Everything the library needs of a machine. Every pointer is set.
struct Platform {
  Registry* registry = nullptr;
  DiskArbitration* diskArbitration = nullptr;
  SmartPlugIns* plugIns = nullptr;
  Bundles* bundles = nullptr;
  Files* files = nullptr;
  User* user = nullptr;
  Processes* processes = nullptr;
  UserDefaults* userDefaults = nullptr;
  Mounts* mounts = nullptr;
  Log* log = nullptr;
  Clock* clock = nullptr;
  Downloads* downloads = nullptr;
  Queues* queues = nullptr;
  Notifications* notifications = nullptr;
};

// The process-wide platform that class-level operations use: the one
// installed last, or defaultPlatform() before anything is installed.
SENTREL_API Platform& current();

// The platform of the machine the process runs on. The backend the library
// is built with defines it (the Linux backend; the null backend in a build
// without one); the seam names none. It lives as long as the process.
SENTREL_API Platform& defaultPlatform();

// A platform with no machine behind it: no disks, no files, no tools, no
// network; every operation refuses or answers nothing, and sleeps return at
// once. Its queues and notifications work. A base for test doubles, and
// the default of a build without a backend.
SENTREL_API Platform& nullPlatform();

// A counter that changes with every installation, so class-level caches
// (the drive-record cache, the system-version flag) can tell that the
// machine under them changed and start afresh.
SENTREL_API std::uint64_t generation();

// Installs a platform for the life of this object and restores the previous
// one afterwards. The caller keeps the platform alive meanwhile.
class SENTREL_API ScopedPlatform {
 public:
  explicit ScopedPlatform(Platform& platform);
  ~ScopedPlatform();
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  Platform* previous_;
};

}  // namespace sentrel::platform
