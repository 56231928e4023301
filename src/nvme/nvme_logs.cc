#include "nvme/nvme_logs.h"

#include "core/text.h"
#include "nvme/nvme_text.h"
#include "sentrel/keys.h"

namespace sentrel::nvme {

namespace {

static_assert(kErrorLogEntries * kErrorEntrySize == kErrorLogSize);

constexpr std::size_t kSlotRevisionLen = 8;
constexpr std::size_t kMaxFirmwareSlots = 7;  // three bits of identify byte 260
static_assert(kSlotRevisionLen * (kMaxFirmwareSlots + 1) <= kFirmwareLogSize);

Value unsignedValue(std::uint64_t v) {
  return Value(v);
}

Dict errorEntry(std::span<const std::uint8_t, kErrorEntrySize> e) {
  return Dict{
      {"errorCount", unsignedValue(u64<0>(e))},
      {"sqid", unsignedValue(u16<8>(e))},
      {"cmdid", hexText(u16<10>(e), 4)},
      {"status", hexText(u16<12>(e), 4)},  // the phase tag bit stays in
      {"pel", hexText(u16<14>(e), 4)},
      {"lba", unsignedValue(u64<16>(e))},
      {"nsid", hexText(u32<24>(e), 8)},
      {"vsia", hexText(u8<28>(e), 2)},
  };
}

// A filled slot's revision: its 8 bytes as they are, blanks kept. Bytes that
// are not UTF-8 have no text; they are shown as 16 lower-case hex digits so
// the slot still says which firmware it holds and is never taken for the
// running revision.
std::string slotRevision(std::span<const std::uint8_t, kSlotRevisionLen> bytes) {
  std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (text::isValidUtf8(raw)) return std::string(raw);
  std::string hex;
  for (std::uint8_t b : bytes) hex += hexText(b, 2);
  return hex;
}

}  // namespace

Array errorLogEntries(ErrorLogView log) {
  Array out;
  for (std::size_t n = 0; n < kErrorLogEntries; ++n) {
    auto entry = recordAt<kErrorEntrySize>(log, kErrorEntrySize * n);
    if (!entry) break;
    if (u64<0>(*entry) == 0) continue;  // an unused entry; later ones may be used
    out.push_back(errorEntry(*entry));
  }
  return out;
}

void addFirmwareSlots(Dict& reading, IdentifyView identify, FirmwareLogView log) {
  std::uint8_t frmw = u8<260>(identify);
  std::uint8_t slotCount = (frmw >> 1) & 0x07;
  bool firstSlotReadOnly = frmw & 0x01;
  std::uint8_t afi = u8<0>(log);
  std::uint8_t activeSlot = afi & 0x07;
  std::uint8_t nextSlot = (afi >> 4) & 0x07;
  // An empty slot shows the revision the controller runs.
  std::string running = fieldText(field<64, 8>(identify)).value_or("no fr");

  Array slots;
  for (std::uint8_t n = 1; n <= slotCount; ++n) {
    auto bytes = recordAt<kSlotRevisionLen>(log, kSlotRevisionLen * n);
    if (!bytes) break;
    // With one slot, that slot is the one running whatever the log says.
    bool active = slotCount == 1 || n == activeSlot;
    bool readOnly = n == 1 && firstSlotReadOnly;
    slots.push_back(Dict{
        {"slot", unsignedValue(n)},
        {"active", active ? "Yes" : "No"},
        {keys::kReadOnly, readOnly ? "Yes" : "No"},
        {"firmwareRevision", (*bytes)[0] != 0 ? slotRevision(*bytes) : running},
    });
  }
  reading.set("firmwareSlotCount", unsignedValue(slotCount));
  reading.set("activeFirmwareSlot", unsignedValue(activeSlot));
  reading.set("nextFirmwareSlot", unsignedValue(nextSlot));
  reading.set("firmwareSlots", std::move(slots));
}

NvmeSelfTestLog decodeSelfTestLog(SelfTestLogView log) {
  constexpr std::size_t kResults = 20, kResultSize = 28, kFirstResult = 4;
  constexpr std::uint8_t kNsidValid = 0x01, kLbaValid = 0x02;
  static_assert(kFirstResult + kResults * kResultSize == kSelfTestLogSize);
  NvmeSelfTestLog out;
  out.currentOperation = u8<0>(log) & 0x0F;
  out.currentCompletion = u8<1>(log) & 0x7F;
  for (std::size_t n = 0; n < kResults; ++n) {
    auto entry = recordAt<kResultSize>(log, kFirstResult + n * kResultSize);
    if (!entry) break;
    NvmeSelfTestLog::Result r;
    r.code = u8<0>(*entry) >> 4;
    r.result = u8<0>(*entry) & 0x0F;
    if (r.result == 0x0F) continue;  // an unused entry
    r.segment = u8<1>(*entry);
    const std::uint8_t valid = u8<2>(*entry);
    r.powerOnHours = u64<4>(*entry);
    if (valid & kNsidValid) r.nsid = u32<12>(*entry);
    if (valid & kLbaValid) r.failingLba = u64<16>(*entry);
    out.results.push_back(r);
  }
  return out;
}

}  // namespace sentrel::nvme

namespace sentrel {

std::string_view NvmeSelfTestLog::Result::typeName() const {
  switch (code) {
    case 0x1:
      return "Short";
    case 0x2:
      return "Extended";
    case 0xE:
      return "Vendor specific";
    default:
      return "Reserved";
  }
}

std::string_view NvmeSelfTestLog::Result::resultName() const {
  static constexpr std::string_view kNames[] = {
      "Completed without error",
      "Aborted by a Device Self-test command",
      "Aborted by a controller reset",
      "Aborted by the removal of a namespace",
      "Aborted by a Format NVM command",
      "Fatal or unknown test error",
      "Completed with a failed segment (unknown which)",
      "Completed with one or more failed segments",
      "Aborted for an unknown reason",
      "Aborted by a sanitize operation",
  };
  return result < std::size(kNames) ? kNames[result] : "Reserved";
}

}  // namespace sentrel
