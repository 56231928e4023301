// Decoding of the NVMe Identify Controller data: the identify summary of
// the two readings, the power state descriptors and the diagnostic block
// that shows the raw text bytes when they are not UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "nvme/nvme_layout.h"
#include "sentrel/value.h"

namespace sentrel::nvme {

// The identify summary of the controller reading: "nvmeIFRev" (the NVMe
// SMART interface's version and revision), then the 17 identify keys, with
// "mdts" an unsigned 32-bit number.
Dict controllerIdentifySummary(IdentifyView identify, std::uint16_t interfaceVersion,
                               std::uint16_t interfaceRevision);

// The identify summary of the namespace reading: the 17 identify keys, with
// "mdts" a signed 32-bit number.
Dict namespaceIdentifySummary(IdentifyView identify);

// 2 to the power of the MDTS byte. A byte of 32 or more (31 or more for the
// signed form) describes a size the number cannot hold; such a size
// saturates at the largest value rather than wrapping to a small one, since
// MDTS is a limit and the largest value keeps "at least this large" true.
std::uint32_t mdtsUnsigned(std::uint8_t exponent);
std::int32_t mdtsSigned(std::uint8_t exponent);

// True when the serial, model or firmware bytes are not valid UTF-8, so
// that the summary shows a placeholder for them.
bool identifyLacksText(IdentifyView identify);

// The lines of the identify diagnostic block, one log call each: a rule of
// 92 "=", the summary, a blank, the raw serial, model and firmware bytes,
// the rule again and a blank.
std::vector<std::string> identifyDiagnosticLines(const Dict& summary, IdentifyView identify);

// One power-state entry per descriptor 0 .. npss. The identify data hold 32
// descriptors; an npss of 32 or more still reports those 32 and no more,
// since the descriptors beyond them do not exist in the data.
Array powerStates(IdentifyView identify);

inline constexpr std::size_t kPowerStateDescriptors = 32;

}  // namespace sentrel::nvme
