// KVSmartDeviceDatabase: the class-level state of the drive database (its
// storage paths, its queue label and the installed database) and the
// operations that read the file through the platform, install the result
// and search it.
#include <mutex>
#include <utility>

#include "drivedb/drive_search.h"
#include "drivedb/drivedb_tables.h"
#include "sentrel/drive_database.h"
#include "sentrel/drivedb_parser.h"
#include "sentrel/platform.h"

namespace sentrel {

namespace {

using drivedb::SearchableDatabase;

// What the class setup fixes for one installed platform. The installed
// database lives here too, so a parse that started on a platform that has
// since been replaced can only install into that platform's old state.
struct ClassState {
  std::uint64_t generation = 0;
  std::string dbfolder;
  std::string dbPath;
  std::string tempPath;
  std::string dlq;

  std::shared_ptr<const SearchableDatabase> installed() const {
    std::lock_guard lock(mutex_);
    return database_;
  }
  // One replacement of the whole database; readers hold on to the old one.
  void install(std::shared_ptr<const SearchableDatabase> next) {
    std::lock_guard lock(mutex_);
    database_.swap(next);
    // The previous database, now in `next`, is released outside the lock.
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const SearchableDatabase> database_;  // absent until the first parse
};

// The folder name under the user's support folder. A host without a bundle
// name falls back to its identifier, then to the library's own name, so the
// path never has an empty component.
std::string storageName(platform::Bundles& bundles) {
  std::string name = bundles.hostBundleName();
  if (name.empty()) name = bundles.hostBundleIdentifier();
  if (name.empty()) name = "Sentrel";
  return name;
}

std::shared_ptr<ClassState> setUp(std::uint64_t generation) {
  platform::Platform& machine = platform::current();
  auto state = std::make_shared<ClassState>();
  state->generation = generation;
  state->dbfolder = machine.user->applicationSupportDirectory() + "/" +
                    storageName(*machine.bundles) + "/driveDatabase";
  state->dbPath = state->dbfolder + "/drivedb.h";
  state->tempPath = state->dbfolder + "/temp.h";
  state->dlq = "downloadQ";
  return state;
}

// The class setup runs on first use and again once another platform has
// been installed: paths and database belong to the machine they came from.
std::shared_ptr<ClassState> classState() {
  static std::mutex setupMutex;
  static std::shared_ptr<ClassState> state;
  const std::uint64_t generation = platform::generation();
  std::lock_guard lock(setupMutex);
  if (!state || state->generation != generation) state = setUp(generation);
  return state;
}

// A file's text when it can be read and is UTF-8.
std::optional<std::string> readUtf8(platform::Files& files, std::string_view path) {
  std::optional<std::string> text = files.readFile(path, nullptr);
  if (!text || !isValidUtf8(*text)) return std::nullopt;
  return text;
}

// The stored file, or else the copy among the host's resources.
std::optional<std::string> readSourceText(const ClassState& state) {
  platform::Platform& machine = platform::current();
  if (auto text = readUtf8(*machine.files, state.dbPath)) return text;
  if (auto resource = machine.bundles->hostResourcePath("drivedb.h", "driveDatabase")) {
    return readUtf8(*machine.files, *resource);
  }
  return std::nullopt;
}

bool unpackInto(ClassState& state) {
  std::optional<std::string> text = readSourceText(state);
  if (!text) return false;
  std::optional<DriveDatabase> parsed = parseDriveDatabase(*text);
  if (!parsed) return false;
  state.install(std::make_shared<const SearchableDatabase>(std::move(*parsed)));
  return true;
}

}  // namespace

std::string KVSmartDeviceDatabase::dbfolder() {
  return classState()->dbfolder;
}
std::string KVSmartDeviceDatabase::dbPath() {
  return classState()->dbPath;
}
std::string KVSmartDeviceDatabase::tempPath() {
  return classState()->tempPath;
}
std::string KVSmartDeviceDatabase::dlq() {
  return classState()->dlq;
}

const Dict& KVSmartDeviceDatabase::fmtDict() {
  static const Dict table = [] {
    Dict d;
    for (const drivedb::PresetRow& row : drivedb::kAttributePresets) {
      d.set(std::string(row.key), Dict{{"fmt", row.fmt}, {"name", row.name}});
    }
    return d;
  }();
  return table;
}

std::shared_ptr<const DriveDatabase> KVSmartDeviceDatabase::driveDatabase() {
  std::shared_ptr<const SearchableDatabase> installed = classState()->installed();
  if (!installed) return nullptr;
  return std::shared_ptr<const DriveDatabase>(installed, &installed->database());
}

bool KVSmartDeviceDatabase::unpackDriveDBFile() {
  return unpackInto(*classState());
}

std::shared_ptr<const DriveDatabaseEntry> KVSmartDeviceDatabase::lookupDriveModel(
    std::string_view model, std::string_view firmwareVersion) {
  std::shared_ptr<ClassState> state = classState();
  std::shared_ptr<const SearchableDatabase> installed = state->installed();
  if (!installed) {
    unpackInto(*state);
    installed = state->installed();
    if (!installed) return nullptr;
  }
  // The search holds `installed`, so an install meanwhile does not affect it.
  const DriveDatabaseEntry* entry = installed->lookup(model, firmwareVersion);
  if (!entry) return nullptr;
  return std::shared_ptr<const DriveDatabaseEntry>(std::move(installed), entry);
}

void KVSmartDeviceDatabase::installDriveDatabase(DriveDatabase database) {
  classState()->install(std::make_shared<const SearchableDatabase>(std::move(database)));
}

}  // namespace sentrel
