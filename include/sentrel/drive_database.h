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
  // Adds one "-v" option's preset: at the end of attributes, and to
  // attribDict in place of an earlier preset for the same id (else at its end).
  void addPreset(AttributePreset preset);

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

// A pattern of the database that never matches in a lookup: it does not
// compile, or matching it against a probe took longer than the time limit
// every match runs under (see checkPatterns).
struct PatternWarning {
  std::size_t entry = 0;    // the entry's index in "drives"
  std::string modelfamily;  // the entry's family, to name it
  std::string field;        // "model" or "firmware"
  std::string pattern;
  std::string reason;
};

// Every pattern of the database that never matches, in entry order. Each
// pattern is compiled, then matched against probes made to provoke runaway
// backtracking (long runs of each character the pattern names, and of
// digits, letters and blanks, followed by a character that ends them); a
// probe that runs into the time limit condemns the pattern, as a lookup
// would. Takes a fraction of a second for smartmontools' own file.
SENTREL_API std::vector<PatternWarning> checkPatterns(const DriveDatabase& database);

// What one update job did, address by address.
struct DatabaseUpdateReport {
  struct Attempt {
    std::string address;
    // Why the address was refused; none for the address that delivered.
    platform::Failure failure;
  };
  std::vector<Attempt> attempts;   // in the order they were tried
  bool stored = false;             // a delivered text was stored (and parsed)
  platform::Failure storeFailure;  // why storing a delivered text failed
};

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
  // The installed database's version; empty when none is installed. Never
  // parses, and (unlike driveDatabase()) decodes no entry of a database read
  // from its cache.
  static std::string installedVersion();

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

  // The first entry of the installed database's "drives": the defaults
  // attribute decoding falls back on. Null when none is installed or it has
  // no entries. Never parses, and (unlike driveDatabase()) decodes no other
  // entry of a database read from its cache.
  static std::shared_ptr<const DriveDatabaseEntry> defaultEntry();

  // Installs a database when none is installed yet, as the first lookup
  // does; true when one is installed afterwards.
  static bool ensureDriveDatabase();

  // Installs an already parsed database in place of the current one, as a
  // successful parse does (tests).
  static void installDriveDatabase(DriveDatabase database);
  // Reads a drivedb.h file at any path (the command line's --db FILE)
  // through its parsed-database cache and installs it as a successful parse
  // does. False when it cannot be read, is not UTF-8 text or holds no
  // version marker; `failure` then names the file and the reason.
  static bool installDriveDatabaseFile(std::string_view path, platform::Failure* failure);

  // Where the parsed form of the database file at `source` is kept, so
  // later processes need not parse it: beside the stored database in the
  // storage folder (dbfolder() + "/drivedb.cache"), and for any other file
  // (the host's resource copy, a file named on the command line) in the
  // user's cache folder (platform::User::cacheDirectory() + "/sentrel").
  // "" when the user has no cache folder. A cache is keyed by its source's
  // size, modification time and content, and one that does not fit is
  // parsed past and written again.
  static std::string cachePath(std::string_view source);

  // ---- The background update ----

  // The name of the notification posted, from the main queue, when an
  // update job ends (also when every address failed).
  static constexpr const char* kDatabaseUpdated = "databaseUpdated";

  // Creates the storage folder and queues one update job on the serial
  // queue dlq(); returns at once. Does nothing while offline.
  //
  // The job tries the addresses in order. An address is refused, logged as
  // "download from 'ADDRESS' failed: REASON" and the next one tried, when it
  // is not an https:// address (an http:// one given in downloadSources()
  // is taken as given), when the transport fails (time-out, HTTP status,
  // more than maximumDownloadSize() bytes), or when its text is not UTF-8,
  // lacks the validation line, does not parse or holds no drive entry, or
  // (with a keyring) has no good signature. The first text that passes
  // is stored atomically and parsed; a refused one never replaces the
  // stored file. lastUpdateReport() tells what happened.
  static void updateDB();
  // Completes a download that a caller made into tempPath(), with the same
  // checks of its text (and, with a keyring, of the signature beside it in
  // tempPath() + ".raw.asc").
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
  // The most bytes an address may deliver (8 MiB unless set); a longer body
  // is refused and not kept beyond that.
  static std::size_t maximumDownloadSize();
  static void setMaximumDownloadSize(std::size_t bytes);
  // An OpenPGP keyring (a key file as gpgv reads it, named by an absolute
  // path) whose key must have signed every text before it is stored. The
  // signature is fetched where smartmontools publishes it (".raw.asc" after
  // the address's path) and checked with /usr/bin/gpgv. "" (the default, unless the build names a
  // keyring with SENTREL_DRIVEDB_KEYRING) checks no signature.
  static std::string signatureKeyring();
  static void setSignatureKeyring(std::string path);
  // The report of the update job that ended last; empty before any has.
  static DatabaseUpdateReport lastUpdateReport();
};

}  // namespace sentrel
