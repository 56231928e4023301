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

Dict decodeSelfTestDescriptor(std::span<const std::uint8_t, kSelfTestDescriptorBytes> descriptor,
                              std::int8_t num) {
  const std::uint8_t status = load8(descriptor, kStatus);
  const std::uint8_t code = statusCode(status);
  std::string lba =
      reportsFailureLba(code) ? std::to_string(load32(descriptor, kFailureLba)) : std::string();
  return Dict{
      {"Num", int{num}},
      {"Type", selfTestTypeName(load8(descriptor, kTestNumber))},
      {"Status", std::string(loggedSelfTestStatusName(code)) + " " +
                     std::to_string(completionPercent(status)) + "%"},
      {"LifetimeHours", unsigned{load16(descriptor, kLifeHours)}},
      {"LBAFirstError", std::move(lba)},
  };
}

std::optional<Array> decodeSelfTestLog(SectorView sector) {
  if (!isValidSelfTestLog(sector)) return std::nullopt;
  Array results;
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
    results.push_back(decodeSelfTestDescriptor(descriptor, static_cast<std::int8_t>(n)));
  }
  return results;
}

}  // namespace sentrel::ata
