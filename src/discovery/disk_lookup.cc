// What a disk name that has no drive record stands for: a partition, a
// whole disk without SMART access (and why), or nothing at all.
#include "sentrel/disk_lookup.h"

#include "core/text.h"
#include "discovery/drive_records.h"
#include "sentrel/keys.h"
#include "sentrel/platform.h"

namespace sentrel {

namespace {

using platform::RegistryEntry;

// Why a whole disk that the registry has got no drive record.
std::string whyNoRecord(platform::Platform& p, RegistryEntry medium, const Dict& description) {
  if (auto reason = p.registry->searchProperty(medium, keys::kNoSmartReason, false)) {
    if (const std::string* s = reason->ifString()) return *s;
  }
  std::string content = description.stringOr(keys::kDAMediaContent);
  if (!discovery::isKeptContent(content))
    return "it holds " + content +
           " directly instead of a partition table, and only partitioned or blank disks are listed";
  return "no controller above it offers ATA or NVMe SMART access";
}

}  // namespace

DiskLookup lookUpDisk(std::string_view asked) {
  DiskLookup out;
  out.name = std::string(text::lastPathComponent(asked));
  auto records = discovery::enumerateDriveRecords();
  if (!records) {
    out.outcome = DiskLookup::Outcome::noDiskList;
    return out;
  }
  for (const auto& e : *records) out.knownDisks.push_back(e.key);
  if (records->contains(out.name)) {
    out.outcome = DiskLookup::Outcome::found;
    return out;
  }

  platform::Platform& p = platform::current();
  for (RegistryEntry medium : p.registry->wholeMedia()) {
    auto description = p.diskArbitration->describe(medium);
    if (!description) continue;
    std::string whole = description->stringOr(keys::kDAMediaBSDName);
    if (whole == out.name) {
      out.outcome = DiskLookup::Outcome::noSmartAccess;
      out.reason = whyNoRecord(p, medium, *description);
      return out;
    }
    for (RegistryEntry child : p.registry->descendants(medium)) {
      auto bsd = p.registry->searchProperty(child, keys::kBSDName, false);
      const std::string* name = bsd ? bsd->ifString() : nullptr;
      if (name && *name == out.name) {
        out.outcome = DiskLookup::Outcome::partition;
        out.wholeDisk = whole;
        return out;
      }
    }
  }
  out.outcome = DiskLookup::Outcome::notFound;
  return out;
}

}  // namespace sentrel
