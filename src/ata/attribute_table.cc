#include "ata/attribute_table.h"

#include <algorithm>
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

std::vector<AtaAttribute> decodeAttributes(SectorView data, SectorView thresholds,
                                           const DriveDatabaseEntry* entry,
                                           const DriveDatabaseEntry* defaults) {
  std::vector<AtaAttribute> rows;
  for (std::size_t i = 0; i < kSlots; ++i) {
    std::span<const std::uint8_t, kSlotSize> slot =
        data.subspan(2 + kSlotSize * i).first<kSlotSize>();
    AtaAttribute a;
    a.id = slot[0];
    if (a.id == 0) continue;
    a.flags = bytes::load16(slot, 1);
    a.value = slot[3];
    a.worst = slot[4];
    std::copy_n(slot.begin() + 5, a.rawBytes.size(), a.rawBytes.begin());
    a.reserved = slot[11];
    a.threshold = thresholds[3 + kSlotSize * i];
    const AttributePreset* preset = presetFor(decimal(a.id), entry, defaults);
    a.name = preset && preset->name ? *preset->name : std::string(kUnknownAttributeName);
    a.format = preset ? preset->fmt : "raw48";
    a.rawText = decodeRawAttribute(slot, a.format);
    rows.push_back(std::move(a));
  }
  return rows;
}

AttributeTable buildAttributeTable(SectorView data, SectorView thresholds,
                                   const DriveDatabaseEntry* entry,
                                   const DriveDatabaseEntry* defaults) {
  AttributeTable table;
  table.rows = decodeAttributes(data, thresholds, entry, defaults);
  for (const AtaAttribute& a : table.rows) {
    const std::string idText = decimal(a.id);
    auto attention = attributeAttention({.id = a.id,
                                         .current = a.value,
                                         .threshold = a.threshold,
                                         .name = a.name,
                                         .rawText = a.rawText,
                                         .row = static_cast<int>(table.display.size())});
    const bool flagged = attention.has_value();
    if (attention) table.attention.push_back(std::move(*attention));

    const auto when = a.whenFailed();
    using When = AtaAttribute::WhenFailed;
    char plainFlags[8];
    std::snprintf(plainFlags, sizeof plainFlags, "%04X", a.flags);

    const Color color = flagged ? Color::red : Color::controlText;
    auto styled = [&](std::string s) {
      return Value(StyledText{.text = std::move(s), .color = color});
    };
    // Set one by one, so each styled value moves in rather than being
    // copied out of an initializer list.
    Dict display;
    display.reserve(11);
    display.set(keys::kAttributeId, styled(idText));
    display.set(keys::kAttributeName, styled(a.name));
    display.set("flags", styled(binaryString(a.flags, 8)));
    display.set(keys::kAttributeValue, styled(decimal(a.value)));
    display.set(keys::kAttributeWorst, styled(decimal(a.worst)));
    display.set(keys::kAttributeThreshold, styled(decimal(a.threshold)));
    display.set("type", styled(a.prefail() ? "Pre-Fail" : "Advisory"));
    display.set("updated", styled(a.online() ? "Always" : "Offline"));
    display.set("condition", styled(when == When::now    ? "Failing"
                                    : when == When::past ? "Recovered"
                                                         : "Normal"));
    display.set(keys::kAttributeRawValue, styled(a.rawText));
    display.set(keys::kAttributeFormat, styled(a.format));
    Dict plain{
        {keys::kAttributeId, idText},
        {keys::kAttributeName, a.name},
        {"flags", plainFlags},
        {keys::kAttributeValue, decimal(a.value)},
        {keys::kAttributeWorst, decimal(a.worst)},
        {keys::kAttributeThreshold, decimal(a.threshold)},
        {"type", a.prefail() ? "Pre-fail" : "Old age"},
        {"updated", a.online() ? "Always" : "Offline"},
        {"condition", when == When::now    ? "FAILING NOW"
                      : when == When::past ? "In the past"
                                           : "Never"},
        {keys::kAttributeRawValue, a.rawText},
        {keys::kAttributeFormat, a.format},
    };
    table.display.push_back(Value(std::move(display)));
    table.plain.set(idText, Value(std::move(plain)));

    if (a.id == 194) table.temperature = a.rawBytes[0];
    if (a.id == 9) table.powerOnHours = a.rawText;
  }
  return table;
}

}  // namespace sentrel::ata

namespace sentrel {

std::uint64_t AtaAttribute::rawValue() const {
  return bytes::load48(rawBytes, 0);
}

AtaAttribute::WhenFailed AtaAttribute::whenFailed() const {
  if (threshold == 0) return WhenFailed::never;
  if (value <= threshold) return WhenFailed::now;
  if (worst <= threshold) return WhenFailed::past;
  return WhenFailed::never;
}

}  // namespace sentrel
