// The SMART self-test log (log address 6): a ring of 21 descriptors with
// the 1-based index of the newest, decoded newest first.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ata/sector_fields.h"
#include "sentrel/report.h"
#include "sentrel/value.h"

namespace sentrel::ata {

inline constexpr std::size_t kSelfTestDescriptorBytes = 24;
inline constexpr std::size_t kSelfTestSlots = 21;

// The name of a descriptor's test number (the subcommand that started it),
// such as "Short Offline" or "Vendor/Reserved-(0x80)".
std::string selfTestTypeName(std::uint8_t testNumber);

// True when the 512 bytes sum to 0 modulo 256 and the revision word is 1.
bool isValidSelfTestLog(SectorView sector);

// One descriptor; `num` is its position in the walk.
SelfTestEntry decodeSelfTestEntry(
    std::span<const std::uint8_t, kSelfTestDescriptorBytes> descriptor, int num);
// An entry as a result entry ("Num", "Type", "Status", "LifetimeHours",
// "LBAFirstError").
Dict selfTestEntryDict(const SelfTestEntry& entry);

// One descriptor as a result entry.
Dict decodeSelfTestDescriptor(std::span<const std::uint8_t, kSelfTestDescriptorBytes> descriptor,
                              std::int8_t num);

// The logged results, newest first; empty slots are skipped without
// renumbering the rest. Nothing when the sector fails validation.
std::optional<std::vector<SelfTestEntry>> decodeSelfTestEntries(SectorView sector);
// The same as result entries.
std::optional<Array> decodeSelfTestLog(SectorView sector);

}  // namespace sentrel::ata
