// The SMART data sector's capability area (bytes 362-376): offline data
// collection and self-test state, the capability flags and the self-test
// polling times, and the two views derived from them for display: the
// self-tests a drive offers and the fixed list of capability pairs.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "ata/sector_fields.h"
#include "sentrel/value.h"

namespace sentrel::ata {

// The self-test execution status byte (363) of a SMART data sector.
std::uint8_t selfTestExecutionStatus(SectorView smartData);

// The name of byte 362 as a whole ("completed", "reserved", ...).
std::string_view offlineCollectionStatusName(std::uint8_t status);

// The seventeen capability and self-test keys of one SMART data sector, in
// the order the device properties list them.
Dict decodeCapabilities(SectorView smartData);

// The self-tests a drive offers (Short, Extended, Conveyance, Selective, in
// that order) from the flags and polling times `decodeCapabilities` stored.
// A missing flag reads as false.
Array selfTestList(const Dict& properties);

// The capability names shown to the user, in display order. The last six
// are not decoded from the SMART data: they show "" unless a host supplies
// them.
inline constexpr std::array<std::string_view, 16> kCapabilityNames{
    "Auto Offline data collection",
    "Auto Offline Data Collection Status",
    "Save data before power-saving mode",
    "Autosave",
    "SMART execute Offline immediate",
    "Abort Offline collection upon command",
    "Self-test",
    "Conveyance Self-test",
    "Selective Self-test",
    "Offline read scanning",
    "General Purpose Logging",
    "Error logging",
    "SCT Status",
    "SCT Error Recovery Control",
    "SCT Feature Control",
    "SCT Data Table",
};

// {"name", "value"} for each capability name, the value taken from
// `properties` ("" when absent).
Array capabilityPairs(const Dict& properties);

}  // namespace sentrel::ata
