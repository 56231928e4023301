#include "ata/selftest_log.h"

#include <algorithm>
#include <cstdio>

#include "ata/selftest_status.h"

namespace sentrel::ata {

namespace {

// Sector layout.
constexpr std::size_t kRevision = 0;
constexpr std::size_t kFirstDescriptor = 2;
constexpr std::size_t kDescriptorIndex = 508;
static_assert(kFirstDescriptor + kSelfTestSlots * kSelfTestDescriptorBytes <= kDescriptorIndex);

// Descriptor layout.
constexpr std::size_t kTestNumber = 0;
constexpr std::size_t kStatus = 1;
constexpr std::size_t kLifeHours = 2;
constexpr std::size_t kFailureLba = 5;
// Test number, status, timestamp, checkpoint and LBA: all zero in a slot
// that was never written.
constexpr std::size_t kUsedBytes = 9;

struct TestType {
  std::uint8_t number;
  std::string_view name;
};

constexpr TestType kTestTypes[] = {
    {0, "Offline"},
    {1, "Short Offline"},
    {2, "Extended Offline"},
    {3, "Conveyance Offline"},
    {4, "Selective Offline"},
    {127, "Abort Offline"},
    {129, "Short Captive"},
    {130, "Extended Captive"},
    {131, "Conveyance Captive"},
    {132, "Selective Captive"},
};

// Status codes 3 to 8 are failures; only they carry a meaningful LBA.
bool reportsFailureLba(std::uint8_t code) {
  return code >= 3 && code <= 8;
}

}  // namespace

std::string selfTestTypeName(std::uint8_t testNumber) {
  for (const auto& row : kTestTypes) {
    if (row.number == testNumber) return std::string(row.name);
  }
  char text[32];
  std::snprintf(text, sizeof text, "Vendor/Reserved-(0x%02x)", unsigned{testNumber});
  return text;
}

bool isValidSelfTestLog(SectorView sector) {
  return bytes::checksumSound(sector) && load16(sector, kRevision) == 1;
}

SelfTestEntry decodeSelfTestEntry(
    std::span<const std::uint8_t, kSelfTestDescriptorBytes> descriptor, int num) {
  const std::uint8_t status = load8(descriptor, kStatus);
  const std::uint8_t code = statusCode(status);
  SelfTestEntry e;
  e.number = num;
  e.type = selfTestTypeName(load8(descriptor, kTestNumber));
  e.status = std::string(loggedSelfTestStatusName(code));
  e.completionPercent = completionPercent(status);
  e.failed = reportsFailureLba(code);
  e.lifetimeHours = load16(descriptor, kLifeHours);
  if (e.failed) e.firstErrorLba = load32(descriptor, kFailureLba);
  return e;
}

Dict selfTestEntryDict(const SelfTestEntry& e) {
  return Dict{
      {"Num", e.number},
      {"Type", e.type},
      {"Status", e.status + " " + std::to_string(e.completionPercent) + "%"},
      {"LifetimeHours", unsigned{e.lifetimeHours}},
      {"LBAFirstError", e.firstErrorLba ? std::to_string(*e.firstErrorLba) : std::string()},
  };
}

Dict decodeSelfTestDescriptor(std::span<const std::uint8_t, kSelfTestDescriptorBytes> descriptor,
                              std::int8_t num) {
  return selfTestEntryDict(decodeSelfTestEntry(descriptor, num));
}

std::optional<std::vector<SelfTestEntry>> decodeSelfTestEntries(SectorView sector) {
  if (!isValidSelfTestLog(sector)) return std::nullopt;
  std::vector<SelfTestEntry> results;
  const std::size_t index = load8(sector, kDescriptorIndex);
  if (index == 0) return results;
  // Slot (index + n) mod 21 for n = 20 down to 0: the first is index - 1,
  // the newest. An index above 21 still lands inside the ring.
  for (int n = kSelfTestSlots - 1; n >= 0; --n) {
    const std::size_t slot = (index + static_cast<std::size_t>(n)) % kSelfTestSlots;
    auto descriptor = recordAt<kSelfTestDescriptorBytes>(
        sector, kFirstDescriptor + slot * kSelfTestDescriptorBytes);
    auto used = descriptor.first<kUsedBytes>();
    if (std::all_of(used.begin(), used.end(), [](std::uint8_t b) { return b == 0; })) continue;
    results.push_back(decodeSelfTestEntry(descriptor, n));
  }
  return results;
}

std::optional<Array> decodeSelfTestLog(SectorView sector) {
  auto entries = decodeSelfTestEntries(sector);
  if (!entries) return std::nullopt;
  Array results;
  for (const SelfTestEntry& e : *entries) results.push_back(selfTestEntryDict(e));
  return results;
}

}  // namespace sentrel::ata
