// KVSmartDeviceDatabase: the class-level state of the drive database (its
// storage paths, its queue label and the installed database) and the
// operations that read the file through the platform, install the result
// and search it.
#include <cstdio>
#include <mutex>
#include <utility>

#include "drivedb/database_cache.h"
#include "drivedb/database_loading.h"
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
  std::string cacheFolder;  // "" when the user has no cache folder

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
  const std::string caches = machine.user->cacheDirectory();
  if (!caches.empty()) state->cacheFolder = caches + "/sentrel";
  return state;
}

// The one rule for where a parsed database is kept (see cachePath()).
std::string cachePathFor(const ClassState& state, std::string_view source) {
  if (source == state.dbPath) return state.dbfolder + "/drivedb.cache";
  if (state.cacheFolder.empty()) return "";
  // One cache per source file, named by its path.
  char name[32];
  std::snprintf(name, sizeof name, "drivedb-%016llx.cache",
                static_cast<unsigned long long>(drivedb::contentHash(source)));
  return state.cacheFolder + "/" + name;
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

drivedb::LoadedDatabase loadThrough(const ClassState& state, std::string_view path) {
  return drivedb::loadDatabaseFile(*platform::current().files, path, cachePathFor(state, path));
}

// The stored file, or else (when it cannot be read as UTF-8 text) the copy
// among the host's resources; each through its cache.
bool unpackInto(ClassState& state) {
  using Problem = drivedb::LoadedDatabase::Problem;
  drivedb::LoadedDatabase loaded = loadThrough(state, state.dbPath);
  if (loaded.problem == Problem::unreadable || loaded.problem == Problem::notUtf8) {
    std::optional<std::string> resource =
        platform::current().bundles->hostResourcePath("drivedb.h", "driveDatabase");
    if (!resource) return false;
    loaded = loadThrough(state, *resource);
  }
  if (!loaded.database) return false;
  state.install(std::move(loaded.database));
  return true;
}

// The installed database, parsed (or read from its cache) first when none is.
std::shared_ptr<const SearchableDatabase> installedOrLoaded(ClassState& state) {
  std::shared_ptr<const SearchableDatabase> installed = state.installed();
  if (installed) return installed;
  unpackInto(state);
  return state.installed();
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

std::string KVSmartDeviceDatabase::installedVersion() {
  std::shared_ptr<const SearchableDatabase> installed = classState()->installed();
  return installed ? installed->version() : std::string();
}

bool KVSmartDeviceDatabase::unpackDriveDBFile() {
  return unpackInto(*classState());
}

std::shared_ptr<const DriveDatabaseEntry> KVSmartDeviceDatabase::lookupDriveModel(
    std::string_view model, std::string_view firmwareVersion) {
  std::shared_ptr<const SearchableDatabase> installed = installedOrLoaded(*classState());
  if (!installed) return nullptr;
  // The search holds `installed`, so an install meanwhile does not affect it.
  const DriveDatabaseEntry* entry = installed->lookup(model, firmwareVersion);
  if (!entry) return nullptr;
  return std::shared_ptr<const DriveDatabaseEntry>(std::move(installed), entry);
}

std::shared_ptr<const DriveDatabaseEntry> KVSmartDeviceDatabase::defaultEntry() {
  std::shared_ptr<const SearchableDatabase> installed = classState()->installed();
  if (!installed || installed->entryCount() == 0) return nullptr;
  const DriveDatabaseEntry* first = &installed->entry(0);
  return std::shared_ptr<const DriveDatabaseEntry>(std::move(installed), first);
}

bool KVSmartDeviceDatabase::ensureDriveDatabase() {
  return installedOrLoaded(*classState()) != nullptr;
}

void KVSmartDeviceDatabase::installDriveDatabase(DriveDatabase database) {
  classState()->install(std::make_shared<const SearchableDatabase>(std::move(database)));
}

bool KVSmartDeviceDatabase::installDriveDatabaseFile(std::string_view path,
                                                     platform::Failure* failure) {
  std::shared_ptr<ClassState> state = classState();
  drivedb::LoadedDatabase loaded = loadThrough(*state, path);
  if (!loaded.database) {
    if (failure) *failure = std::move(loaded.failure);
    return false;
  }
  state->install(std::move(loaded.database));
  return true;
}

std::string KVSmartDeviceDatabase::cachePath(std::string_view source) {
  return cachePathFor(*classState(), source);
}

}  // namespace sentrel
