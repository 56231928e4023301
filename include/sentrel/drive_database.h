// The drive database: smartmontools' drivedb.h read into drive families,
// and the class that keeps the installed database and looks drives up in it.
//
// The database is the one value of the library that is not a property list:
// entries carry styled warning text and are shared, immutable, between the
// thread that installs a database and the threads that search it. It is kept
// as plain structs here and turned into a dictionary ({"version", "drives"})
// only for output.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sentrel/export.h"
#include "sentrel/failure.h"
#include "sentrel/value.h"

namespace sentrel {

// One "-v" option: the raw-value format and display name of one attribute.
struct SENTREL_API AttributePreset {
  std::string id;   // the attribute number exactly as written ("9")
  std::string fmt;  // the raw-value format name ("raw48", "min2hour")
  // Absent when a two-field option names a format that has no preset row.
  std::optional<std::string> name;

  // {"id", "fmt"[, "name"]}
  Dict toDict() const;
  friend bool operator==(const AttributePreset&, const AttributePreset&) = default;
};

// One drive family of the file.
struct SENTREL_API DriveDatabaseEntry {
  std::string modelfamily;
  std::string model;     // ICU regular expression, found anywhere in the model string
  std::string firmware;  // ICU regular expression; "." when the file leaves it empty
  StyledText warning;    // system font 11 pt, red; empty text when there is none
  // Every "-v" option in option order, repeats included.
  std::vector<AttributePreset> attributes;
  // The presets by id text: first-seen order, a later option for the same id
  // replacing the earlier one in place.
  std::vector<AttributePreset> attribDict;
  std::string firmwarebug;             // the last "-F" name, or ""
  std::string firmwarebugDescription;  // "name:\ndescription", or ""

  // The attribDict preset for an id text ("194"); null when there is none.
  const AttributePreset* preset(std::string_view id) const;

  // The dictionary of the eight keys.
  Dict toDict() const;
  friend bool operator==(const DriveDatabaseEntry&, const DriveDatabaseEntry&) = default;
};

struct SENTREL_API DriveDatabase {
  std::string version;
  // File order, without the file's first entry (the version entry).
  std::vector<DriveDatabaseEntry> drives;

  // {"version": ..., "drives": [entry dictionaries]}
  Dict toDict() const;
  friend bool operator==(const DriveDatabase&, const DriveDatabase&) = default;
};

// The dictionary of a lookup result: the entry's eight keys, or {} for null.
SENTREL_API Dict entryDict(const DriveDatabaseEntry* entry);

// Reads a drivedb.h file at any path through the platform and parses it
// (the command line's FILE arguments). Empty when the file cannot be read,
// is not UTF-8 text or holds no version marker; `failure` then names the
// file and the reason.
SENTREL_API std::optional<DriveDatabase> readDriveDatabaseFile(std::string_view path,
                                                               platform::Failure* failure);

// The drive database class: class-level state and operations only.
//
// Its class setup runs before the first use of any operation and again
// whenever a different platform has been installed since (a test's machine,
// the CLI's choice): the paths come from that platform's user and host
// bundle, and a fresh setup starts without an installed database.
//
// Thread safety: every operation may be called from any thread. The installed
// database is immutable and replaced as a whole in one step; a lookup searches
// the database that was installed when it started.
class SENTREL_API KVSmartDeviceDatabase {
 public:
  KVSmartDeviceDatabase() = delete;

  // The storage folder: <application support>/<host bundle name>/driveDatabase.
  static std::string dbfolder();
  // The stored database file, dbfolder + "/drivedb.h".
  static std::string dbPath();
  // The target of a download made into a temporary file, dbfolder + "/temp.h".
  static std::string tempPath();
  // The label of the serial queue the database update runs on ("downloadQ").
  static std::string dlq();

  // The attribute preset table: preset key to {"fmt", "name"}. A constant;
  // every call returns the same object.
  static const Dict& fmtDict();

  // The installed database, or null when none is installed. Never parses.
  static std::shared_ptr<const DriveDatabase> driveDatabase();

  // Reads the stored file (or the host's resource copy when the stored one
  // cannot be read as UTF-8), parses it and installs the result. False when
  // no text could be read or it has no version marker; the installed
  // database is then left as it was.
  static bool unpackDriveDBFile();

  // The first entry in file order whose model pattern is found in `model`
  // and whose firmware pattern is found in `firmwareVersion` (" " when that
  // is empty). Parses on first use when nothing is installed. The result is
  // the installed entry itself, kept alive by the pointer; null stands for
  // the empty dictionary (no entry matches, or no database could be had).
  static std::shared_ptr<const DriveDatabaseEntry> lookupDriveModel(
      std::string_view model, std::string_view firmwareVersion);

  // Installs an already parsed database in place of the current one, as a
  // successful parse does (the command line's --db, tests).
  static void installDriveDatabase(DriveDatabase database);

  // ---- The background update ----

  // The name of the notification posted, from the main queue, when an
  // update job ends (also when every address failed).
  static constexpr const char* kDatabaseUpdated = "databaseUpdated";

  // Creates the storage folder and queues one update job on the serial
  // queue dlq(); returns at once. Does nothing while offline.
  static void updateDB();
  // Completes a download that a caller made into tempPath().
  static void downloadDidFinish();
  // Completes a download that failed with `error`.
  static void downloadDidFailWithError(std::string_view error);

  // The base addresses the update tries, in order; each gets the fixed path
  // of its position appended ("https://www.smartmontools.org" + path 1, ...).
  // A list longer than four repeats the last path. Process-wide settings.
  static std::vector<std::string> downloadSources();
  static void setDownloadSources(std::vector<std::string> baseAddresses);
  // While offline, updateDB() queues nothing and the network is not touched.
  static bool offline();
  static void setOffline(bool offline);
};

}  // namespace sentrel
