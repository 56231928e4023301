#include "ata/capabilities.h"

#include <cstdio>
#include <string>

#include "ata/selftest_status.h"
#include "sentrel/report.h"

namespace sentrel::ata {

namespace {

// Byte offsets in the SMART data sector.
constexpr std::size_t kOfflineStatus = 362;
constexpr std::size_t kSelfTestStatus = 363;
constexpr std::size_t kOfflineSeconds = 364;
constexpr std::size_t kOfflineCapability = 367;
constexpr std::size_t kSmartCapability = 368;
constexpr std::size_t kShortPolling = 372;
constexpr std::size_t kExtendedPolling = 373;
constexpr std::size_t kConveyancePolling = 374;
constexpr std::size_t kExtendedPollingWord = 375;

// A drive whose extended test takes longer than 254 minutes puts 255 in the
// byte and the real time in the 16-bit word.
constexpr std::uint8_t kPollingInWord = 255;

struct OfflineStatusName {
  std::uint8_t status;
  std::string_view name;
};

// Bit 7 only says whether automatic collection is on, so each state has two
// codes. Every byte not listed is "reserved".
constexpr OfflineStatusName kOfflineStatusNames[] = {
    {0x00, "never started"},     {0x80, "never started"},     {0x02, "completed"},
    {0x82, "completed"},         {0x03, "in progress"},       {0x83, "in progress"},
    {0x04, "suspended by host"}, {0x84, "suspended by host"}, {0x05, "aborted by host"},
    {0x85, "aborted by host"},   {0x06, "aborted by device"}, {0x86, "aborted by device"},
};

struct CapabilityBit {
  std::string_view key;
  std::uint8_t bit;
};

// Byte 367, the offline data collection capabilities.
constexpr CapabilityBit kOfflineCapabilityBits[] = {
    {"SMART execute Offline immediate", 0},
    {"Auto Offline data collection", 1},
    {"Abort Offline collection upon command", 2},
    {"Offline read scanning", 3},
    {"Self-test", 4},
    {"Conveyance Self-test", 5},
    {"Selective Self-test", 6},
};

// Offsets 368-369, the SMART capabilities.
constexpr CapabilityBit kSmartCapabilityBits[] = {
    {"Save data before power-saving mode", 0},
    {"Autosave", 1},
};

struct PolledTest {
  const char* name;
  std::string_view pollingKey;
};

constexpr PolledTest kPolledTests[] = {
    {"Short", "Short self-test polling time"},
    {"Extended", "Extended self-test polling time"},
    {"Conveyance", "Conveyance self-test polling time"},
};

Dict polledEntry(const Dict& properties, const PolledTest& test) {
  const Value* stored = properties.find(test.pollingKey);
  Value polling = stored && stored->isNumber() ? *stored : Value(0u);
  unsigned long long minutes = polling.toUInt().value_or(0);
  // Hours and minutes; the hours widen past two digits when they must.
  char text[64];
  std::snprintf(text, sizeof text, "%s Test  %02llu:%02llu", test.name, minutes / 60, minutes % 60);
  return Dict{{"name", test.name}, {"pollingTime", std::move(polling)}, {"nameWithTime", text}};
}

}  // namespace

std::uint8_t selfTestExecutionStatus(SectorView smartData) {
  return load8(smartData, kSelfTestStatus);
}

std::string_view offlineCollectionStatusName(std::uint8_t status) {
  for (const auto& row : kOfflineStatusNames) {
    if (row.status == status) return row.name;
  }
  return "reserved";
}

Dict decodeCapabilities(SectorView smartData) {
  const std::uint8_t offline = load8(smartData, kOfflineStatus);
  const std::uint8_t selfTest = load8(smartData, kSelfTestStatus);
  const std::uint8_t offlineCaps = load8(smartData, kOfflineCapability);
  const std::uint16_t smartCaps = load16(smartData, kSmartCapability);
  const std::uint8_t extendedByte = load8(smartData, kExtendedPolling);
  const std::uint16_t extended = extendedByte == kPollingInWord
                                     ? load16(smartData, kExtendedPollingWord)
                                     : std::uint16_t{extendedByte};
  const std::uint8_t percent = completionPercent(selfTest);

  Dict caps;
  caps.set("Offline data collection status", offlineCollectionStatusName(offline));
  caps.set("Auto Offline Data Collection Status", (offline & 0x80) != 0);
  caps.set("Self-test status", std::string(currentSelfTestStatusName(statusCode(selfTest))) + " " +
                                   std::to_string(percent) + "%");
  caps.set("Self-test progress", unsigned{percent});
  caps.set("Offline data collection time", unsigned{load16(smartData, kOfflineSeconds)});
  for (const auto& b : kOfflineCapabilityBits) {
    caps.set(std::string(b.key), ((offlineCaps >> b.bit) & 1) != 0);
  }
  for (const auto& b : kSmartCapabilityBits) {
    caps.set(std::string(b.key), ((smartCaps >> b.bit) & 1) != 0);
  }
  caps.set("Extended self-test polling time", unsigned{extended});
  caps.set("Short self-test polling time", unsigned{load8(smartData, kShortPolling)});
  caps.set("Conveyance self-test polling time", unsigned{load8(smartData, kConveyancePolling)});
  return caps;
}

Array selfTestList(const Dict& properties) {
  auto flag = [&](std::string_view key) { return properties.getBool(key).value_or(false); };
  Array tests;
  if (flag("Self-test")) {
    tests.push_back(polledEntry(properties, kPolledTests[0]));
    tests.push_back(polledEntry(properties, kPolledTests[1]));
  }
  if (flag("Conveyance Self-test")) tests.push_back(polledEntry(properties, kPolledTests[2]));
  if (flag("Selective Self-test")) {
    // A selective test covers host-chosen spans, so the drive gives no time.
    tests.push_back(Value(Dict{{"name", "Selective"},
                               {"pollingTime", 0},
                               {"nameWithTime", "Selective Test (time indefinite)"}}));
  }
  return tests;
}

Array capabilityPairs(const Dict& properties) {
  Array pairs;
  for (std::string_view name : kCapabilityNames) {
    const Value* v = properties.find(name);
    pairs.push_back(Value(Dict{{"name", name}, {"value", v ? *v : Value("")}}));
  }
  return pairs;
}

}  // namespace sentrel::ata

namespace sentrel {

std::string_view powerModeName(PowerMode mode) {
  switch (mode) {
    case PowerMode::active:
      return "active";
    case PowerMode::idle:
      return "idle";
    case PowerMode::standby:
      return "standby";
    case PowerMode::sleep:
      return "sleep";
    case PowerMode::unknown:
      break;
  }
  return "unknown";
}

PowerMode powerModeOfRegister(std::uint8_t count) {
  switch (count) {
    case 0x00:  // standby
    case 0x01:  // standby_y
      return PowerMode::standby;
    case 0x80:  // idle
    case 0x81:  // idle_a
    case 0x82:  // idle_b
    case 0x83:  // idle_c
      return PowerMode::idle;
    case 0x40:  // active, NV cache power mode on or off
    case 0x41:
    case 0xFF:  // active or idle
      return PowerMode::active;
    default:
      return PowerMode::unknown;
  }
}

}  // namespace sentrel
