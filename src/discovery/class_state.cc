#include "discovery/drive_records.h"

#include "core/text.h"
#include "sentrel/platform.h"

namespace sentrel::discovery {

namespace {
constexpr std::string_view kSystemVersionFile = "/System/Library/CoreServices/SystemVersion.plist";
}

bool readIsOSX1013() {
  std::string version;
  if (auto plist = platform::current().files->readPropertyList(kSystemVersionFile)) {
    if (const Dict* d = plist->ifDict()) version = d->stringOr("ProductVersion");
  }
  return text::compareNumeric(version, "10.13") >= 0;
}

DeviceClassState& deviceClassState() {
  static DeviceClassState state;
  std::uint64_t now = platform::generation();
  if (state.generation != now) {
    state = DeviceClassState{};
    state.generation = now;
    state.isOSX1013 = readIsOSX1013();
  }
  return state;
}

void refreshSystemVersion() {
  deviceClassState().isOSX1013 = readIsOSX1013();
}

bool isOSX1013() {
  return deviceClassState().isOSX1013;
}

}  // namespace sentrel::discovery
