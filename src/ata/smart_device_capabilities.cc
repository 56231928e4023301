// The device's capability readers: the SMART data sector's capability area,
// the capability pairs and the self-tests the drive offers.
#include <array>

#include "ata/capabilities.h"
#include "sentrel/smart_device.h"

namespace sentrel {

Dict KVSMARTDevice::capabilities() {
  std::shared_ptr<Dict> props = driveProperties();
  platform::AtaSmartInterface* ata = sif();
  if (!props || !ata) return Dict{};
  std::array<std::uint8_t, platform::kSectorSize> sector{};
  // A failed read leaves nothing worth decoding: store nothing rather than
  // a zero sector's "never started" and "Pass 100%".
  if (ata->readSmartData(sector) != platform::kSuccess) return Dict{};
  Dict caps = ata::decodeCapabilities(sector);
  for (const auto& e : caps) props->set(e.key, e.value);
  return caps;
}

Array KVSMARTDevice::capabilitiesArray() {
  std::shared_ptr<Dict> props = driveProperties();
  if (!props) return Array{};
  Array pairs = ata::capabilityPairs(*props);
  props->set("capArray", pairs);
  return pairs;
}

Array KVSMARTDevice::selfTests() {
  std::shared_ptr<Dict> props = driveProperties();
  if (!props) return Array{};
  Array tests = ata::selfTestList(*props);
  props->set("selftests", tests);
  return tests;
}

}  // namespace sentrel
