#include "ata/raw_value.h"

#include <gtest/gtest.h>

#include "sentrel/smart_device.h"

namespace sentrel::ata {
namespace {

// A slot with current `v`, worst `w`, raw bytes r0..r5 and the reserved byte.
std::array<std::uint8_t, 12> slot(std::array<std::uint8_t, 6> r, std::uint8_t v = 100,
                                  std::uint8_t w = 100, std::uint8_t r6 = 0) {
  return {9, 0x32, 0, v, w, r[0], r[1], r[2], r[3], r[4], r[5], r6};
}

std::array<std::uint8_t, 6> raw48(unsigned long long n) {
  std::array<std::uint8_t, 6> r{};
  for (auto& b : r) {
    b = static_cast<std::uint8_t>(n);
    n >>= 8;
  }
  return r;
}

TEST(RawValueTest, EveryFormat) {
  struct Case {
    const char* fmt;
    std::array<std::uint8_t, 12> slot;
    const char* text;
  } cases[] = {
      {"default", slot({1, 2, 3, 4, 5, 6}), "6 5 4 3 2 1"},
      {"raw8", slot({255, 0, 0, 0, 0, 128}), "128 0 0 0 0 255"},
      {"raw16", slot({1, 0, 2, 0, 3, 0}), "3 2 1"},
      {"raw48", slot({1, 2, 3, 4, 5, 6}), "6618611909121"},
      {"raw48", slot(raw48(0xFFFFFFFFFFFFull)), "281474976710655"},
      {"hex48", slot({1, 2, 3, 4, 5, 6}), "0x060504030201"},
      {"raw56", slot({0, 0, 0, 0, 0, 0}, 100, 100, 1), "281474976710656"},
      {"hex56", slot({1, 2, 3, 4, 5, 6}, 100, 100, 7), "0x07060504030201"},
      {"raw64", slot(raw48(1), 100, 99), "90980"},
      {"hex64", slot(raw48(1), 100, 99), "0x0000000000016364"},
      {"raw16(raw16)", slot({0x34, 0x12, 9, 9, 9, 9}), "4660"},
      {"raw16(avg16)", slot({10, 0, 20, 0, 9, 9}), "10 (20)"},
      {"raw24(raw8)", slot({0x0A, 0, 0, 2, 1, 0}), "10 (0 1 2)"},
      {"raw24/raw24", slot(raw48(0x000002000003ull)), "2/3"},
      {"raw24/raw32", slot({3, 0, 0, 0, 2, 0}, 100, 100, 1), "65538/3"},
      {"sec2hour", slot(raw48(3725)), "01:02:05s"},
      {"sec2hour", slot(raw48(360000)), "100:00:00s"},
      {"min2hour", slot({0xD3, 0x04, 0, 0, 1, 0}), "20:35 (1)"},
      {"halfmin2hour", slot(raw48(245)), "02:02"},
      {"msec24hour32",
       slot(raw48(100ull | ((1234567ull & 0xFFFF) << 32)), 0, 0,
            static_cast<std::uint8_t>(1234567ull >> 16)),
       "100:20:34.567"},
      {"msec24hour32", slot(raw48(0)), "0:00:00.000"},
      {"temp10x", slot(raw48(345)), "34.5"},
      {"tempminmax", slot({35, 0, 20, 45, 0, 0}), "35 (20, 45, 0)"},
      {"tempminmax", slot({40, 0, 25, 0, 55, 0}), "40 (25, 55, 0)"},
      {"tempminmax", slot({40, 0, 20, 50, 3, 0}), "40 (20, 50, 3)"},
      {"tempminmax", slot({38, 0, 0, 0, 0, 0}), "38 (0, 0, 0)"},
      {"tempminmax", slot({30, 20, 40, 0, 0, 0}), "30 (20, 40, 0)"},
      {"tempminmax", slot({30, 0, 45, 20, 0, 0}), "30 (20, 45, 0)"},  // reversed limits
      {"tempminmax", slot({200, 0, 20, 45, 0, 0}), "200 (20, 45, 0)"},
      {"Raw48", slot({1, 2, 3, 4, 5, 6}), "6 5 4 3 2 1"},  // names are case-sensitive
      {"", slot({1, 2, 3, 4, 5, 6}), "6 5 4 3 2 1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decodeRawAttribute(c.slot, c.fmt), c.text) << c.fmt;
    EXPECT_EQ(KVSMARTDevice::decodeRawAttribute(c.slot, c.fmt), c.text) << c.fmt;
  }
}

TEST(RawValueTest, FieldLimits) {
  auto full = slot({255, 255, 255, 255, 255, 255}, 255, 255, 255);
  EXPECT_EQ(decodeRawAttribute(full, "raw64"), "18446744073709551615");
  EXPECT_EQ(decodeRawAttribute(full, "hex64"), "0xffffffffffffffff");
  EXPECT_EQ(decodeRawAttribute(full, "raw56"), "72057594037927935");
  EXPECT_EQ(decodeRawAttribute(full, "sec2hour"), "78187493530:44:15s");
  EXPECT_EQ(decodeRawAttribute(full, "min2hour"), "71582788:15 (65535)");
  EXPECT_EQ(decodeRawAttribute(full, "msec24hour32"), "4294967295:279:37.215");
  EXPECT_EQ(decodeRawAttribute(full, "temp10x"), "6553.5");
  EXPECT_EQ(decodeRawAttribute(full, "raw24/raw32"), "16777215/4294967295");
  EXPECT_EQ(decodeRawAttribute(full, "default"), "255 255 255 255 255 255");
}

TEST(TemperatureReaderTest, FillsTheArrayAndChecksTheRange) {
  struct Case {
    std::array<std::uint8_t, 6> raw;
    std::int8_t minidx, maxidx;
    std::uint8_t otc;
    bool ok;
    Temperatures t;
  } cases[] = {
      {{35, 0, 20, 45, 0, 0}, 2, 3, 0, true, {35, 20, 45, 0}},
      {{35, 0, 45, 20, 0, 0}, 2, 3, 0, true, {35, 20, 45, 0}},
      {{50, 0, 20, 45, 0, 0}, 2, 3, 0, false, {50, 20, 45, 0}},
      {{35, 0, 20, 121, 0, 0}, 2, 3, 0, false, {35, 20, 121, 0}},
      {{35, 0, 20, 120, 0x34, 0x12}, 2, 3, 1, true, {35, 20, 120, 0x1234}},
      {{35, 0, 20, 45, 0, 0}, -1, 9, 0, false, {35, 0, 0, 0}},  // outside the six bytes: 0
  };
  for (const Case& c : cases) {
    Temperatures t{};
    EXPECT_EQ(readTemperatures(c.raw, c.minidx, c.maxidx, c.otc, t), c.ok);
    EXPECT_EQ(t, c.t);
    std::array<std::int16_t, 4> viaClass{};
    EXPECT_EQ(KVSMARTDevice::raw(c.raw, c.minidx, c.maxidx, c.otc, viaClass), c.ok);
  }
}

TEST(TemperatureReaderTest, SignedRangeTest) {
  struct Case {
    std::array<std::uint8_t, 6> raw;
    std::uint8_t index, low, high;
    bool ok;
  } cases[] = {
      {{30, 20, 40, 0, 0, 0}, 0, 1, 2, true},      {{30, 40, 20, 0, 0, 0}, 0, 1, 2, true},
      {{0xF6, 0xEC, 40, 0, 0, 0}, 0, 1, 2, true},   // -10 within -20..40
      {{0xC0, 0xC0, 40, 0, 0, 0}, 0, 1, 2, false},  // -64 below -60
      {{30, 20, 121, 0, 0, 0}, 0, 1, 2, false},    {{30, 20, 40, 0, 0, 0}, 0, 1, 6, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(KVSMARTDevice::temp(c.index, c.low, c.high, 0, c.raw), c.ok);
}

}  // namespace
}  // namespace sentrel::ata
