// The drivedb.h parser. Each step below is a fixed clean-up, split or trim;
// which entries are recognised, and how their fields read, follows from
// these exact cut points, so the steps are kept literal rather than clever.
#include "sentrel/drivedb_parser.h"

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "drivedb/drivedb_tables.h"
#include "drivedb/text_scan.h"

namespace sentrel {

namespace {

using drivedb::forEachPart;
using drivedb::replaceAll;
using drivedb::replaceAllInPlace;
using drivedb::trimFieldSet;
using drivedb::trimWhiteSpace;

constexpr std::string_view kVersionMarker = "{ \"VERSION:";
constexpr std::string_view kIdMarker = "{ \"$Id:";

// Where the table starts: the entry holding the file's version. Everything
// before it (the header comment, which may itself show entries) is ignored.
std::size_t findMarker(std::string_view text) {
  std::size_t at = text.find(kVersionMarker);
  if (at == std::string_view::npos) at = text.find(kIdMarker);
  return at;
}

// Drops comment lines and trailing "//" comments, and removes the "\n"
// escapes (line breaks in warnings come from the piece joins instead).
// A "//" that belongs to the line's first "://" is part of an address, and
// then the whole line stays.
std::string cleanLines(std::string_view body) {
  std::string joined;
  joined.reserve(body.size());
  bool first = true;
  std::string unescaped;  // reused for the few lines that hold a "\n" escape
  forEachPart(body, "\n", [&](std::string_view raw) {
    std::string_view line = trimWhiteSpace(raw);
    if (line.find("\\n") != std::string_view::npos) {
      unescaped = replaceAll(line, "\\n", "");
      line = unescaped;
    }
    if (line.starts_with("/*") || line.starts_with("*/") || line.starts_with("//")) return;
    const std::size_t comment = line.find("//");
    if (comment != std::string_view::npos) {
      const std::size_t address = line.find("://");
      if (address == std::string_view::npos || comment < address) {
        line = trimWhiteSpace(line.substr(0, comment));
      }
    }
    if (!first) joined += '\n';
    joined.append(line);
    first = false;
  });
  const std::string_view trimmed = trimWhiteSpace(joined);
  if (trimmed.size() == joined.size()) return joined;
  return std::string(trimmed);
}

// A pattern field: adjacent quoted pieces on successive lines are joined.
std::string patternField(std::string_view part) {
  return replaceAll(trimFieldSet(part), "\"\n\"", "");
}

// The warning field: pieces become lines, escaped quotes plain quotes.
std::string warningField(std::string_view part) {
  std::string text = replaceAll(trimFieldSet(part), "\"\n\"", "\n");
  replaceAllInPlace(text, "\\\"", "\"");
  return text;
}

// Writes out abbreviations; names repeat a great deal across the file, so
// each distinct name is expanded once per parse.
class NameExpander {
 public:
  const std::string& expand(std::string_view name) {
    auto it = done_.find(name);
    if (it == done_.end()) it = done_.emplace(std::string(name), expandAttributeName(name)).first;
    return it->second;
  }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_map<std::string, std::string, Hash, std::equal_to<>> done_;
};

// One "-v" option: "id,format" (completed from the preset table) or
// "id,format,name[,...]". An option without a comma names no format and is
// skipped.
void addPreset(DriveDatabaseEntry& entry, std::string_view argument, NameExpander& names) {
  std::vector<std::string_view> fields;
  forEachPart(argument, ",", [&](std::string_view field) { fields.push_back(field); });
  if (fields.size() < 2) return;

  AttributePreset preset{std::string(fields[0]), std::string(fields[1]), std::nullopt};
  if (fields.size() == 2) {
    const std::string key =
        preset.fmt == "increasing" ? "increasing_" + preset.id : std::string(preset.fmt);
    if (const drivedb::PresetRow* row = drivedb::findPresetRow(key)) {
      preset.fmt = row->fmt;
      preset.name = names.expand(row->name);
    }
  } else {
    std::string name(fields[2]);
    for (char& c : name) {
      if (c == '_') c = ' ';
    }
    preset.name = names.expand(name);
  }

  entry.addPreset(std::move(preset));
}

// One "-F" option; a later one replaces an earlier one.
void setFirmwareBug(DriveDatabaseEntry& entry, std::string_view argument) {
  entry.firmwarebug = std::string(argument);
  // A name outside the table is still recorded; it has no description text.
  entry.firmwarebugDescription =
      entry.firmwarebug + ":\n" +
      std::string(drivedb::firmwareBugDescription(argument).value_or(""));
}

// The options field: only "-v" and "-F" options are split out. Any other
// option stays inside the argument of the option before it, and the text
// before the first option (a quote, a space or a line feed) is ignored.
void parseOptions(DriveDatabaseEntry& entry, std::string_view options, NameExpander& names) {
  const std::string marked = replaceAll(replaceAll(options, "-v ", "!-v "), "-F ", "!-F ");
  forEachPart(marked, "!-", [&](std::string_view component) {
    if (component.empty()) return;
    const std::string_view argument = trimFieldSet(component.substr(1));
    if (component.front() == 'v') {
      addPreset(entry, argument, names);
    } else if (component.front() == 'F') {
      setFirmwareBug(entry, argument);
    }
  });
}

// One brace-enclosed piece: exactly five fields separated by `",`.
std::optional<DriveDatabaseEntry> parseEntry(std::string_view piece, NameExpander& names) {
  if (drivedb::countOccurrences(piece, "\",") != 4) return std::nullopt;
  std::string_view parts[5];
  std::size_t n = 0;
  forEachPart(piece, "\",", [&](std::string_view part) { parts[n++] = part; });

  DriveDatabaseEntry entry;
  const std::string_view family = trimFieldSet(parts[0]);
  entry.model = patternField(parts[1]);
  entry.firmware = patternField(parts[2]);
  if (entry.firmware.empty()) entry.firmware = ".";
  entry.modelfamily = family.empty() ? entry.model : std::string(family);
  entry.warning = drivedb::warningText(warningField(parts[3]));
  parseOptions(entry, parts[4], names);
  return entry;
}

}  // namespace

std::string expandAttributeName(std::string_view name) {
  std::string text(name);
  text += "  ";
  for (const drivedb::ExpansionRow& row : drivedb::kNameExpansions) {
    replaceAllInPlace(text, row.pattern, row.replacement);
  }
  return std::string(trimWhiteSpace(text));
}

std::string driveDatabaseVersion(std::string_view text) {
  if (text.empty()) return "version unavailable";

  if (text.starts_with("$Id:")) {
    // "$Id: drivedb.h REVISION DATE TIME AUTHOR $", split at single spaces.
    std::vector<std::string_view> fields;
    forEachPart(text, " ", [&](std::string_view field) { fields.push_back(field); });
    if (fields.size() < 4) return std::string(text);
    return std::string(fields[3]) + " (Revision " + std::string(fields[2]) + ")";
  }

  if (text.starts_with("VERSION:")) {
    // "VERSION: RELEASE/REVISION DATE TIME ...", split at runs of blanks.
    const std::vector<std::string_view> fields = drivedb::splitAtBlanks(text);
    std::string_view revision = fields.size() > 1 ? fields[1] : std::string_view{};
    const std::string_view date = fields.size() > 2 ? fields[2] : std::string_view{};
    const std::size_t slash = revision.find('/');
    if (slash != std::string_view::npos && slash + 1 < revision.size()) {
      revision = revision.substr(slash + 1);
    }
    if (date.empty() || revision.empty()) return std::string(text);
    return std::string(date) + " (Revision " + std::string(revision) + ")";
  }

  return std::string(text);
}

std::optional<DriveDatabase> parseDriveDatabase(std::string_view text) {
  const std::size_t marker = findMarker(text);
  if (marker == std::string_view::npos) return std::nullopt;

  const std::string joined = cleanLines(text.substr(marker));
  NameExpander names;
  DriveDatabase database;
  // Entries are large; one allocation up front spares moving them around.
  database.drives.reserve(drivedb::countOccurrences(joined, "},\n") + 1);
  // The first entry holds the version in a regular file. It gives the
  // version text and is left out of the list, whatever it holds.
  std::optional<DriveDatabaseEntry> first;
  forEachPart(joined, "},\n", [&](std::string_view rawPiece) {
    const std::string_view piece = trimWhiteSpace(rawPiece);
    // Also skips an entry preceded by the kept inner lines of a block comment.
    if (piece.empty() || piece.front() != '{') return;
    std::optional<DriveDatabaseEntry> entry = parseEntry(piece, names);
    if (!entry) return;
    if (!first) {
      first = std::move(entry);
    } else {
      database.drives.push_back(std::move(*entry));
    }
  });
  database.version = driveDatabaseVersion(first ? std::string_view(first->modelfamily) : "");
  return database;
}

}  // namespace sentrel
