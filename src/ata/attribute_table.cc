#include "ata/attribute_table.h"

#include <array>
#include <cstdio>

#include "ata/raw_value.h"
#include "core/text.h"

namespace sentrel::ata {

namespace {

constexpr std::size_t kSlots = 30;
constexpr std::size_t kSlotSize = 12;
// Attributes that count defects: any count above 0 needs attention.
constexpr std::array<std::uint8_t, 4> kCriticalCounts{5, 187, 197, 198};
// Temperatures whose normalized value may sit at or below their threshold.
constexpr std::array<std::uint8_t, 2> kThresholdExempt{190, 194};

template <std::size_t N>
bool contains(const std::array<std::uint8_t, N>& list, std::uint8_t id) {
  for (std::uint8_t x : list)
    if (x == id) return true;
  return false;
}

std::string decimal(unsigned n) { return std::to_string(n); }

const AttributePreset* presetFor(const std::string& id, const DriveDatabaseEntry* entry,
                                 const DriveDatabaseEntry* defaults) {
  if (entry) {
    if (const AttributePreset* p = entry->preset(id)) return p;
  }
  return defaults ? defaults->preset(id) : nullptr;
}

}  // namespace

bool smartDataRevisionAccepted(SectorView data) {
  unsigned revision = data[0] | data[1] << 8;
  return revision >= 1 && revision <= 99;
}

std::string binaryString(std::uint64_t value, std::uint32_t length) {
  if (length > 32) length = 32;
  std::string out(length, '0');
  for (std::uint32_t i = 0; i < length; ++i) {
    if (value >> i & 1) out[length - 1 - i] = '1';
  }
  return out;
}

AttributeTable buildAttributeTable(SectorView data, SectorView thresholds,
                                   const DriveDatabaseEntry* entry,
                                   const DriveDatabaseEntry* defaults) {
  AttributeTable table;
  for (std::size_t i = 0; i < kSlots; ++i) {
    std::span<const std::uint8_t, kSlotSize> slot = data.subspan(2 + kSlotSize * i).first<kSlotSize>();
    const std::uint8_t id = slot[0];
    if (id == 0) continue;
    const unsigned flags = slot[1] | slot[2] << 8;
    const std::uint8_t current = slot[3], worst = slot[4];
    const std::uint8_t threshold = thresholds[3 + kSlotSize * i];
    const std::string idText = decimal(id);

    const AttributePreset* preset = presetFor(idText, entry, defaults);
    std::string name = preset && preset->name ? *preset->name : "Unknown";
    std::string fmt = preset ? preset->fmt : "raw48";
    std::string rawText = decodeRawAttribute(slot, fmt);

    bool flagged = (contains(kCriticalCounts, id) && text::leadingInteger(rawText) > 0) ||
                   (threshold != 0 && !contains(kThresholdExempt, id) && current <= threshold);
    table.anyFlagged = table.anyFlagged || flagged;

    const bool preFail = flags & 1, always = flags & 2;
    const bool failingNow = threshold != 0 && current <= threshold;
    const bool inThePast = threshold != 0 && !failingNow && worst <= threshold;
    char plainFlags[8];
    std::snprintf(plainFlags, sizeof plainFlags, "%04X", flags);

    const Color color = flagged ? Color::red : Color::controlText;
    auto styled = [&](std::string s) { return Value(StyledText{.text = std::move(s), .color = color}); };
    Dict display{
        {"ID", styled(idText)},
        {"attributeName", styled(name)},
        {"flags", styled(binaryString(flags, 8))},
        {"value", styled(decimal(current))},
        {"worst", styled(decimal(worst))},
        {"threshold", styled(decimal(threshold))},
        {"type", styled(preFail ? "Pre-Fail" : "Advisory")},
        {"updated", styled(always ? "Always" : "Offline")},
        {"condition", styled(failingNow ? "Failing" : inThePast ? "Recovered" : "Normal")},
        {"rawValue", styled(rawText)},
        {"fmt", styled(fmt)},
    };
    Dict plain{
        {"ID", idText},
        {"attributeName", name},
        {"flags", plainFlags},
        {"value", decimal(current)},
        {"worst", decimal(worst)},
        {"threshold", decimal(threshold)},
        {"type", preFail ? "Pre-fail" : "Old age"},
        {"updated", always ? "Always" : "Offline"},
        {"condition", failingNow ? "FAILING NOW" : inThePast ? "In the past" : "Never"},
        {"rawValue", rawText},
        {"fmt", fmt},
    };
    table.display.push_back(Value(std::move(display)));
    table.plain.set(idText, Value(std::move(plain)));

    if (id == 194) table.temperature = slot[5];
    if (id == 9) table.powerOnHours = rawText;
  }
  return table;
}

}  // namespace sentrel::ata
