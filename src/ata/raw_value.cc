#include "ata/raw_value.h"
#include "core/bytes.h"

#include <cstdio>

namespace sentrel::ata {

namespace {

enum class Format {
  kDefault,
  raw8,
  raw16,
  raw48,
  hex48,
  raw56,
  hex56,
  raw64,
  hex64,
  raw16raw16,
  raw16avg16,
  raw24raw8,
  raw24raw24,
  raw24raw32,
  sec2hour,
  min2hour,
  halfmin2hour,
  msec24hour32,
  tempminmax,
  temp10x,
};

Format formatOf(std::string_view name) {
  for (std::size_t i = 0; i < kRawFormats.size(); ++i) {
    if (kRawFormats[i] == name) return static_cast<Format>(i);
  }
  return Format::kDefault;
}

std::uint8_t byteAt(RawBytes raw, int index) {
  return index >= 0 && index < 6 ? raw[static_cast<std::size_t>(index)] : 0;
}

// The first layout the temperature reader accepts, as the bytes decide.
Temperatures temperatures(RawBytes r) {
  Temperatures t{};
  auto zero = [&](std::initializer_list<int> idx) {
    for (int i : idx)
      if (r[static_cast<std::size_t>(i)] != 0) return false;
    return true;
  };
  if (readTemperatures(r, 2, 3, 0, t) && zero({2, 3, 4, 5})) return t;
  if (readTemperatures(r, 1, 2, 0, t) && zero({3, 4, 5})) return t;
  if (readTemperatures(r, 2, 3, 0, t) && zero({4, 5})) return t;
  if (readTemperatures(r, 2, 4, 0, t)) return t;
  if (readTemperatures(r, 2, 3, 1, t)) return t;
  readTemperatures(r, 2, 3, 0, t);
  return t;
}

}  // namespace

bool readTemperatures(RawBytes raw, std::int8_t minidx, std::int8_t maxidx, std::uint8_t otc,
                      Temperatures& temp) {
  std::uint8_t current = raw[0], low = byteAt(raw, minidx), high = byteAt(raw, maxidx);
  if (low > high) std::swap(low, high);
  temp[0] = current;
  temp[1] = low;
  temp[2] = high;
  temp[3] = otc ? static_cast<std::int16_t>(bytes::load16(raw, 4)) : std::int16_t{0};
  return low <= current && current <= high && high < 121;
}

bool temperatureInRange(std::uint8_t index, std::uint8_t low, std::uint8_t high, RawBytes raw) {
  if (index > 5 || low > 5 || high > 5) return false;
  auto t = static_cast<std::int8_t>(raw[index]);
  auto a = static_cast<std::int8_t>(raw[low]);
  auto b = static_cast<std::int8_t>(raw[high]);
  return -60 <= std::min(a, b) && std::min(a, b) <= t && t <= std::max(a, b) &&
         std::max(a, b) <= 120;
}

std::string decodeRawAttribute(AttributeSlot slot, std::string_view fmt) {
  RawBytes r = slot.subspan<5, 6>();
  using u64 = unsigned long long;
  // The raw bytes alone, with the reserved byte above them, and with the
  // current and worst values below them.
  const u64 raw48 = bytes::load48(slot, 5);
  const u64 raw56 = bytes::loadLE(slot, 5, 7);
  const u64 raw64 = bytes::load64(slot, 3);
  const unsigned word0 = bytes::load16(r, 0), word1 = bytes::load16(r, 2),
                 word2 = bytes::load16(r, 4);

  char text[128];
  switch (formatOf(fmt)) {
    case Format::kDefault:
    case Format::raw8:
      std::snprintf(text, sizeof text, "%d %d %d %d %d %d", r[5], r[4], r[3], r[2], r[1], r[0]);
      break;
    case Format::raw16:
      std::snprintf(text, sizeof text, "%u %u %u", word2, word1, word0);
      break;
    case Format::raw48:
      std::snprintf(text, sizeof text, "%llu", raw48);
      break;
    case Format::hex48:
      std::snprintf(text, sizeof text, "0x%012llx", raw48);
      break;
    case Format::raw56:
      std::snprintf(text, sizeof text, "%llu", raw56);
      break;
    case Format::hex56:
      std::snprintf(text, sizeof text, "0x%014llx", raw56);
      break;
    case Format::raw64:
      std::snprintf(text, sizeof text, "%llu", raw64);
      break;
    case Format::hex64:
      std::snprintf(text, sizeof text, "0x%016llx", raw64);
      break;
    case Format::raw16raw16:
      std::snprintf(text, sizeof text, "%u", word0);
      break;
    case Format::raw16avg16:
      std::snprintf(text, sizeof text, "%u (%u)", word0, word1);
      break;
    case Format::raw24raw8:
      std::snprintf(text, sizeof text, "%llu (%d %d %d)", raw48 % (1ull << 24), r[5], r[4], r[3]);
      break;
    case Format::raw24raw24:
      std::snprintf(text, sizeof text, "%llu/%llu", raw48 >> 24, raw48 % (1ull << 24));
      break;
    case Format::raw24raw32:
      std::snprintf(text, sizeof text, "%llu/%llu", raw56 >> 32, raw56 % (1ull << 32));
      break;
    case Format::sec2hour: {
      u64 s = raw48;
      std::snprintf(text, sizeof text, "%02lld:%02lld:%02llds", static_cast<long long>(s / 3600),
                    static_cast<long long>((s - 3600 * (s / 3600)) / 60),
                    static_cast<long long>(s % 60));
      break;
    }
    case Format::min2hour: {
      u64 m = raw48 % (1ull << 32);
      std::snprintf(text, sizeof text, "%02ld:%02ld (%u)", static_cast<long>(m / 60),
                    static_cast<long>(m % 60), word2);
      break;
    }
    case Format::halfmin2hour:
      std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(raw48 / 120),
                    static_cast<long long>(raw48 % 120 / 2));
      break;
    case Format::msec24hour32: {
      u64 h = raw56 % (1ull << 32), ms = raw56 >> 32;
      std::snprintf(text, sizeof text, "%llu:%02llu:%02llu.%03llu", h, ms / 60000, ms / 1000 % 60,
                    ms % 1000);
      break;
    }
    case Format::tempminmax: {
      Temperatures t = temperatures(r);
      std::snprintf(text, sizeof text, "%d (%d, %d, %d)", t[0], t[1], t[2], t[3]);
      break;
    }
    case Format::temp10x:
      std::snprintf(text, sizeof text, "%d.%d", static_cast<int>(word0 / 10),
                    static_cast<int>(word0 % 10));
      break;
  }
  return text;
}

}  // namespace sentrel::ata
