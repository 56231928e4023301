// The drive database as dictionaries, for output and for hosts that take
// property-list style values.
#include "sentrel/drive_database.h"

namespace sentrel {

Dict AttributePreset::toDict() const {
  Dict d{{"id", id}, {"fmt", fmt}};
  if (name) d.set("name", *name);
  return d;
}

const AttributePreset* DriveDatabaseEntry::preset(std::string_view presetId) const {
  for (const AttributePreset& p : attribDict) {
    if (p.id == presetId) return &p;
  }
  return nullptr;
}

void DriveDatabaseEntry::addPreset(AttributePreset preset) {
  // attribDict keeps the first position of an id and the last preset for it.
  bool replaced = false;
  for (AttributePreset& existing : attribDict) {
    if (existing.id == preset.id) {
      existing = preset;
      replaced = true;
      break;
    }
  }
  if (!replaced) attribDict.push_back(preset);
  attributes.push_back(std::move(preset));
}

Dict DriveDatabaseEntry::toDict() const {
  Array presets;
  presets.reserve(attributes.size());
  for (const AttributePreset& p : attributes) presets.emplace_back(p.toDict());
  Dict byId;
  for (const AttributePreset& p : attribDict) byId.set(p.id, p.toDict());
  return Dict{
      {"modelfamily", modelfamily},
      {"model", model},
      {"firmware", firmware},
      {"warning", warning},
      {"attributes", std::move(presets)},
      {"attribDict", std::move(byId)},
      {"firmwarebug", firmwarebug},
      {"firmwarebugDescription", firmwarebugDescription},
  };
}

Dict DriveDatabase::toDict() const {
  Array entries;
  entries.reserve(drives.size());
  for (const DriveDatabaseEntry& e : drives) entries.emplace_back(e.toDict());
  return Dict{{"version", version}, {"drives", std::move(entries)}};
}

Dict entryDict(const DriveDatabaseEntry* entry) {
  return entry ? entry->toDict() : Dict{};
}

}  // namespace sentrel
