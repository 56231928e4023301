#include <gtest/gtest.h>

#include "nvme/nvme_health.h"
#include "nvme/nvme_pages.h"

namespace sentrel::nvme {
namespace {

using testing::HealthPage;

const Image kSystemIcon{.name = "NSStatusAvailableFlat", .width = 32, .height = 32};

Dict controllerSummary(const HealthPage& h) {
  return controllerHealthSummary(h.view(), kSystemIcon);
}

TEST(NvmeHealthRuleTest, CriticalWarningCasesGiveWordIconAndFlags) {
  struct Case {
    std::uint8_t cw;
    const char* word;
    const char* icon;
    bool lowSpare, overTemp, lowReliability, readOnly, failedVMBkup;
  } cases[] = {
      {0x00, "Passed", "NSStatusAvailableFlat", false, false, false, false, false},
      {0x01, "Warning", "NSStatusPartiallyAvailableFlat", true, false, false, false, false},
      {0x02, "Warning", "NSStatusPartiallyAvailableFlat", false, true, false, false, false},
      {0x04, "Failed", "NSStatusUnavailableFlat", false, false, true, false, false},
      {0x08, "Failed", "NSStatusUnavailableFlat", false, false, false, true, false},
      {0x10, "Warning", "NSStatusPartiallyAvailableFlat", false, false, false, false, true},
      {0x09, "Failed", "NSStatusUnavailableFlat", true, false, false, true, false},
      {0x13, "Warning", "NSStatusPartiallyAvailableFlat", true, true, false, false, true},
      {0x20, "Passed", "NSStatusAvailableFlat", false, false, false, false, false},
      {0xE0, "Passed", "NSStatusAvailableFlat", false, false, false, false, false},
      {0xFF, "Failed", "NSStatusUnavailableFlat", true, true, true, true, true},
  };
  for (const Case& c : cases) {
    HealthBadge v = healthBadge(c.cw);
    EXPECT_EQ(v.word, c.word) << int{c.cw};
    EXPECT_EQ(v.iconName, c.icon) << int{c.cw};
    Dict s = controllerSummary(HealthPage{}.u8(0, c.cw));
    EXPECT_EQ(*s.find("criticalWarning"), Value(unsigned{c.cw}));
    EXPECT_EQ(s.stringOr("attributeHealth"), c.word);
    EXPECT_EQ(s.getBool("lowSpare"), c.lowSpare) << int{c.cw};
    EXPECT_EQ(s.getBool("overTemp"), c.overTemp) << int{c.cw};
    EXPECT_EQ(s.getBool("lowReliability"), c.lowReliability) << int{c.cw};
    EXPECT_EQ(s.getBool("readOnly"), c.readOnly) << int{c.cw};
    EXPECT_EQ(s.getBool("failedVMBkup"), c.failedVMBkup) << int{c.cw};
  }
}

TEST(NvmeHealthRuleTest, EveryByteFollowsTheMasks) {
  for (int cw = 0; cw < 256; ++cw) {
    const char* expected = (cw & 0x0C) ? "Failed" : (cw & 0x13) ? "Warning" : "Passed";
    EXPECT_EQ(healthBadge(static_cast<std::uint8_t>(cw)).word, expected) << cw;
    HealthPage h;
    h.u8(0, static_cast<std::uint8_t>(cw));
    EXPECT_EQ(namespaceHealthSummary(h.view()).stringOr("attributeHealth"), expected) << cw;
  }
}

TEST(NvmeStatusBadgeTest, IconThenWordLoweredFivePoints) {
  Dict s = controllerSummary(HealthPage{}.u8(0, 0x04));
  const StyledText* badge = s.find("extendedHealth")->ifStyledText();
  ASSERT_TRUE(badge);
  EXPECT_EQ(badge->text, "Failed");
  EXPECT_EQ(badge->baselineOffset, -5.0);
  EXPECT_FALSE(badge->color);
  Image expectedIcon{.name = "NSStatusAvailableFlat", .width = 20, .height = 20};
  EXPECT_EQ(badge->attachment, expectedIcon);
  // The icon key holds the same image as the badge.
  EXPECT_EQ(*s.find("extendedHealthIcon"), Value(expectedIcon));
}

TEST(NvmeStatusBadgeTest, NoSystemImageMeansNoBadge) {
  Dict s = controllerHealthSummary(HealthPage{}.view(), std::nullopt);
  EXPECT_EQ(*s.find("extendedHealth"), Value(""));
  EXPECT_EQ(*s.find("extendedHealthIcon"), Value(""));
  EXPECT_EQ(s.stringOr("attributeHealth"), "Passed");
}

TEST(NvmeHealthSummaryTest, PercentageUsedAndRemaining) {
  struct Case {
    std::uint8_t used;
    unsigned remaining;
  } cases[] = {{0, 100}, {3, 97}, {37, 63}, {99, 1}, {100, 0}, {120, 0}, {255, 0}};
  for (const Case& c : cases) {
    HealthPage h;
    h.u8(5, c.used);
    Dict s = controllerSummary(h);
    EXPECT_EQ(*s.find("percentUsed"), Value(unsigned{c.used}));
    EXPECT_EQ(*s.find("percentRemaining"), Value(c.remaining)) << int{c.used};
    Dict n = namespaceHealthSummary(h.view());
    EXPECT_EQ(*n.find("percentUsed"), Value(unsigned{c.used}));
    EXPECT_EQ(*n.find("percentRemaining"), Value(static_cast<int>(c.remaining))) << int{c.used};
  }
}

TEST(NvmeHealthSummaryTest, TemperatureInKelvinAndCelsius) {
  struct Case {
    std::uint16_t kelvin;
    float celsius;
  } cases[] = {{300, 26.85f},
               {310, 36.85f},
               {273, static_cast<float>(273 - 273.15)},
               {0, -273.15f},
               {65535, static_cast<float>(65535 - 273.15)}};
  for (const Case& c : cases) {
    HealthPage h;
    h.u16(1, c.kelvin);
    Dict s = controllerSummary(h);
    EXPECT_EQ(*s.find("temperature"), Value(unsigned{c.kelvin}));
    ASSERT_TRUE(s.find("tempoC")->ifReal32());
    EXPECT_EQ(*s.find("tempoC")->ifReal32(), c.celsius) << c.kelvin;
    EXPECT_EQ(*namespaceHealthSummary(h.view()).find("temperature"), Value(unsigned{c.kelvin}));
  }
}

TEST(NvmeHealthSummaryTest, CountersKeepBothHalvesOfEachOffset) {
  struct Counter {
    std::size_t at;
    const char* lo;
    const char* hi;
  } counters[] = {
      {32, "dataUnitsReadLo", "dataUnitsReadHi"},   {48, "dataUnitsWriteLo", "dataUnitsWriteHi"},
      {64, "hostReadsLo", "hostReadsHi"},           {80, "hostWritesLo", "hostWritesHi"},
      {96, "controllerBusyLo", "controllerBusyHi"}, {112, "powerCyclesLo", "powerCyclesHi"},
      {128, "powerOnHoursLo", "powerOnHoursHi"},    {144, "unsafeShutdownsLo", "unsafeShutdownsHi"},
      {160, "mediaErrorsLo", "mediaErrorsHi"},      {176, "lifetimeErrorsLo", "lifetimeErrorsHi"},
  };
  HealthPage h;
  for (std::size_t i = 0; i < std::size(counters); ++i) {
    // Distinct values that use every byte of each half.
    h.u64(counters[i].at, 0x0102030405060708ull * (i + 1));
    h.u64(counters[i].at + 8, 0xF0E0D0C0B0A09080ull - i);
  }
  for (const Dict& s : {controllerSummary(h), namespaceHealthSummary(h.view())}) {
    for (std::size_t i = 0; i < std::size(counters); ++i) {
      EXPECT_EQ(*s.find(counters[i].lo), Value(std::uint64_t{0x0102030405060708ull * (i + 1)}))
          << counters[i].lo;
      EXPECT_EQ(*s.find(counters[i].hi), Value(std::uint64_t{0xF0E0D0C0B0A09080ull - i}))
          << counters[i].hi;
    }
  }
}

TEST(NvmeHealthSummaryTest, BytesReadAndWrittenFromTheLowHalves) {
  struct Case {
    std::uint64_t lo;
    std::uint64_t hi;
    std::uint64_t bytes;
  } cases[] = {
      {0, 0, 0},
      {2, 0, 1024000},
      {2, 7, 1024000},  // the high half only shows under its own key
      {48213775, 0, 48213775ull * 512000},
      {UINT64_MAX, 0, UINT64_MAX * 512000ull},  // modulo 2^64
  };
  for (const Case& c : cases) {
    HealthPage h;
    h.u64(32, c.lo).u64(40, c.hi).u64(48, c.lo).u64(56, c.hi);
    Dict s = controllerSummary(h);
    EXPECT_EQ(*s.find("totalBytesRead"), Value(c.bytes)) << c.lo;
    EXPECT_EQ(*s.find("totalBytesWritten"), Value(c.bytes)) << c.lo;
    EXPECT_EQ(*s.find("dataUnitsReadHi"), Value(c.hi));
    EXPECT_EQ(*s.find("dataUnitsWriteHi"), Value(c.hi));
  }
}

TEST(NvmeHealthSummaryTest, ControllerKeysAndTypes) {
  Dict s = controllerSummary(HealthPage{});
  ASSERT_EQ(s.size(), 37u);
  const char* first[] = {"criticalWarning",  "lowSpare",          "overTemp",
                         "lowReliability",   "readOnly",          "failedVMBkup",
                         "attributeHealth",  "extendedHealth",    "extendedHealthIcon",
                         "availableSpare",   "spareThreshold",    "percentUsed",
                         "percentRemaining", "temperature",       "tempoC",
                         "totalBytesRead",   "totalBytesWritten", "dataUnitsReadLo"};
  for (std::size_t i = 0; i < std::size(first); ++i) EXPECT_EQ(s.entries()[i].key, first[i]);
  EXPECT_EQ(s.entries().back().key, "lifetimeErrorsHi");
  // Zero health data: passed, nothing used, 0 K.
  EXPECT_EQ(*s.find("percentRemaining"), Value(100u));
  EXPECT_EQ(*s.find("tempoC"), Value(-273.15f));
  EXPECT_EQ(s.find("lowSpare")->kind(), Value::Kind::boolean);
  HealthPage h;
  h.u8(3, 7).u8(4, 10);
  for (const Dict& d : {controllerSummary(h), namespaceHealthSummary(h.view())}) {
    EXPECT_EQ(*d.find("availableSpare"), Value(7u));
    EXPECT_EQ(*d.find("spareThreshold"), Value(10u));
  }
}

TEST(NvmeHealthSummaryTest, NamespaceFlagsAreMaskedNumbers) {
  struct Case {
    std::uint8_t cw;
    int lowSpare, overTemp, lowReliability, readOnly, failedVMBkup;
    const char* word;
  } cases[] = {
      {0x00, 0, 0, 0, 0, 0, "Passed"},   {0x04, 0, 0, 4, 0, 0, "Failed"},
      {0x12, 0, 2, 0, 0, 16, "Warning"}, {0x1F, 1, 2, 4, 8, 16, "Failed"},
      {0xE0, 0, 0, 0, 0, 0, "Passed"},
  };
  for (const Case& c : cases) {
    Dict s = namespaceHealthSummary(HealthPage{}.u8(0, c.cw).view());
    EXPECT_EQ(*s.find("lowSpare"), Value(c.lowSpare)) << int{c.cw};
    EXPECT_EQ(*s.find("overTemp"), Value(c.overTemp)) << int{c.cw};
    EXPECT_EQ(*s.find("lowReliability"), Value(c.lowReliability)) << int{c.cw};
    EXPECT_EQ(*s.find("readOnly"), Value(c.readOnly)) << int{c.cw};
    EXPECT_EQ(*s.find("failedVMBkup"), Value(c.failedVMBkup)) << int{c.cw};
    EXPECT_EQ(s.stringOr("attributeHealth"), c.word);
    EXPECT_EQ(*s.find("criticalWarning"), Value(unsigned{c.cw}));
    EXPECT_EQ(s.size(), 32u);
    for (const char* absent :
         {"tempoC", "totalBytesRead", "totalBytesWritten", "extendedHealth", "extendedHealthIcon"})
      EXPECT_FALSE(s.contains(absent)) << absent;
  }
}

}  // namespace
}  // namespace sentrel::nvme
