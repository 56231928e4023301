// The drivedb.h parser on arbitrary text.
//
// Besides not crashing, a parse of UTF-8 text must give UTF-8 fields (the
// parser cuts only at ASCII separators), every entry a firmware pattern
// (an empty one reads "."), and a dictionary that writes as JSON.
#include <cstddef>
#include <cstdint>

#include "fuzz_input.h"
#include "sentrel/drivedb_parser.h"
#include "sentrel/value_io.h"

using sentrel::fuzz::fail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<sentrel::DriveDatabase> db = sentrel::parseDriveDatabase(text);
  if (!db) return 0;

  // Whether it is UTF-8 or not, the version text is one of the forms the
  // parser writes, and the dictionary can be built.
  if (db->version.empty()) fail("empty version text");
  const sentrel::Dict dict = db->toDict();

  if (!sentrel::isValidUtf8(text)) return 0;
  sentrel::fuzz::checkTexts(sentrel::Value(dict));  // every field, every preset
  for (const sentrel::DriveDatabaseEntry& e : db->drives) {
    if (e.firmware.empty()) fail("entry without firmware pattern");
    // attribDict holds each id once, and only ids that the options gave.
    for (std::size_t i = 0; i < e.attribDict.size(); ++i) {
      for (std::size_t j = i + 1; j < e.attribDict.size(); ++j) {
        if (e.attribDict[i].id == e.attribDict[j].id) fail("attribDict repeats an id");
      }
      if (e.preset(e.attribDict[i].id) != &e.attribDict[i]) fail("preset() misses an id");
    }
    if (e.attribDict.size() > e.attributes.size()) fail("attribDict larger than the options");
  }
  const std::string json = sentrel::toJson(sentrel::Value(dict), {.indent = -1});
  sentrel::fuzz::checkText(json, "JSON of the database is not UTF-8");
  return 0;
}
