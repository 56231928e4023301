// The messages for a disk that cannot be used, each saying what the name
// is and what stands in the way.
#include "cli.h"
#include "sentrel/disk_lookup.h"

namespace sentrel::cli {

namespace {

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

}  // namespace

std::unique_ptr<KVSMARTDevice> deviceOrComplain(const std::string& disk) {
  if (auto device = KVSMARTDevice::deviceWithBSDName(disk)) return device;
  complainNoDevice(disk);
  return nullptr;
}

void complainNoDevice(const std::string& disk) {
  DiskLookup found = lookUpDisk(disk);
  switch (found.outcome) {
    case DiskLookup::Outcome::found:
      complain("the drive " + disk + " appeared while it was being looked up; try again");
      break;
    case DiskLookup::Outcome::notFound:
      complain("no disk is named " + found.name +
               (found.knownDisks.empty()
                    ? std::string(" (no drive with SMART access was found)")
                    : " (drives with SMART access: " + joined(found.knownDisks) + ")"));
      break;
    case DiskLookup::Outcome::partition:
      complain(found.name + " is a partition of " + found.wholeDisk +
               "; SMART data belongs to the whole disk: name " + found.wholeDisk);
      break;
    case DiskLookup::Outcome::noSmartAccess:
      complain(found.name + " has no SMART access: " + found.reason);
      break;
    case DiskLookup::Outcome::noDiskList:
      complain("the disk list cannot be read (no disk-arbitration session)");
      break;
  }
}

void complainUnreadable(const std::string& disk, const std::optional<platform::Failure>& failure) {
  using Kind = platform::Failure::Kind;
  if (!failure || !failure->failed()) {
    complain("the SMART access of " + disk + " could not be opened or SMART could not be enabled");
    return;
  }
  const platform::Failure& f = *failure;
  switch (f.kind) {
    case Kind::permission:
      complain("cannot use " + (f.subject.empty() ? disk : f.subject) + ": " + f.reason +
               (f.need.empty() ? "" : "; reading SMART data needs " + f.need));
      return;
    case Kind::noResponse:
      complain(disk + " stopped answering: " + f.message());
      return;
    default:
      complain("cannot read " + disk + ": " + f.message());
      return;
  }
}

}  // namespace sentrel::cli
