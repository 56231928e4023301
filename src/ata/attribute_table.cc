#include "ata/attribute_table.h"

#include <cstdio>

#include "ata/health_verdict.h"
#include "ata/raw_value.h"
#include "core/bytes.h"
#include "sentrel/keys.h"

namespace sentrel::ata {

namespace {

constexpr std::size_t kSlots = 30;
constexpr std::size_t kSlotSize = 12;

std::string decimal(unsigned n) {
  return std::to_string(n);
}

const AttributePreset* presetFor(const std::string& id, const DriveDatabaseEntry* entry,
                                 const DriveDatabaseEntry* defaults) {
  if (entry) {
    if (const AttributePreset* p = entry->preset(id)) return p;
  }
  return defaults ? defaults->preset(id) : nullptr;
}

}  // namespace

bool smartDataRevisionAccepted(SectorView data) {
  unsigned revision = bytes::load16(data, 0);
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
    std::span<const std::uint8_t, kSlotSize> slot =
        data.subspan(2 + kSlotSize * i).first<kSlotSize>();
    const std::uint8_t id = slot[0];
    if (id == 0) continue;
    const unsigned flags = bytes::load16(slot, 1);
    const std::uint8_t current = slot[3], worst = slot[4];
    const std::uint8_t threshold = thresholds[3 + kSlotSize * i];
    const std::string idText = decimal(id);

    const AttributePreset* preset = presetFor(idText, entry, defaults);
    std::string name = preset && preset->name ? *preset->name : std::string(kUnknownAttributeName);
    std::string fmt = preset ? preset->fmt : "raw48";
    std::string rawText = decodeRawAttribute(slot, fmt);

    auto attention = attributeAttention({.id = id,
                                         .current = current,
                                         .threshold = threshold,
                                         .name = name,
                                         .rawText = rawText,
                                         .row = static_cast<int>(table.display.size())});
    const bool flagged = attention.has_value();
    if (attention) table.attention.push_back(std::move(*attention));

    const bool preFail = flags & 1, always = flags & 2;
    const bool failingNow = threshold != 0 && current <= threshold;
    const bool inThePast = threshold != 0 && !failingNow && worst <= threshold;
    char plainFlags[8];
    std::snprintf(plainFlags, sizeof plainFlags, "%04X", flags);

    const Color color = flagged ? Color::red : Color::controlText;
    auto styled = [&](std::string s) {
      return Value(StyledText{.text = std::move(s), .color = color});
    };
    Dict display{
        {keys::kAttributeId, styled(idText)},
        {keys::kAttributeName, styled(name)},
        {"flags", styled(binaryString(flags, 8))},
        {keys::kAttributeValue, styled(decimal(current))},
        {keys::kAttributeWorst, styled(decimal(worst))},
        {keys::kAttributeThreshold, styled(decimal(threshold))},
        {"type", styled(preFail ? "Pre-Fail" : "Advisory")},
        {"updated", styled(always ? "Always" : "Offline")},
        {"condition", styled(failingNow  ? "Failing"
                             : inThePast ? "Recovered"
                                         : "Normal")},
        {keys::kAttributeRawValue, styled(rawText)},
        {keys::kAttributeFormat, styled(fmt)},
    };
    Dict plain{
        {keys::kAttributeId, idText},
        {keys::kAttributeName, name},
        {"flags", plainFlags},
        {keys::kAttributeValue, decimal(current)},
        {keys::kAttributeWorst, decimal(worst)},
        {keys::kAttributeThreshold, decimal(threshold)},
        {"type", preFail ? "Pre-fail" : "Old age"},
        {"updated", always ? "Always" : "Offline"},
        {"condition", failingNow  ? "FAILING NOW"
                      : inThePast ? "In the past"
                                  : "Never"},
        {keys::kAttributeRawValue, rawText},
        {keys::kAttributeFormat, fmt},
    };
    table.display.push_back(Value(std::move(display)));
    table.plain.set(idText, Value(std::move(plain)));

    if (id == 194) table.temperature = slot[5];
    if (id == 9) table.powerOnHours = rawText;
  }
  return table;
}

}  // namespace sentrel::ata
