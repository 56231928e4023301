// The NVMe pages decoded: health (critical warning, 128-bit counters),
// identify with its power states, the error, firmware and self-test logs,
// and the texts and hex dumps they print.
#include <gtest/gtest.h>

#include <algorithm>

#include "nvme/nvme_health.h"
#include "nvme/nvme_identify.h"
#include "nvme/nvme_logs.h"
#include "sentrel/value_io.h"
#include "support/nvme_disk.h"

namespace sentrel::nvme {
namespace {

using testing::HealthPage;
using testing::IdentifyPage;
using testing::Page;

// A value as one line of JSON.
std::string oneLine(const Value& v) {
  return toJson(v, {.indent = -1});
}

const Image kSystemIcon{.name = "NSStatusAvailableFlat", .width = 32, .height = 32};

TEST(NvmeHealthTest, CriticalWarningBitsGiveWordIconFlagsAndReasons) {
  struct Case {
    std::uint8_t cw;
    const char* word;
    const char* icon;
    std::vector<std::uint32_t> reasons;  // failing bits first, then warnings
  } cases[] = {
      {0x00, "Passed", "NSStatusAvailableFlat", {}},
      {0xE0, "Passed", "NSStatusAvailableFlat", {}},  // read-only memory and reserved bits
      {0x01, "Warning", "NSStatusPartiallyAvailableFlat", {0x01}},
      {0x02, "Warning", "NSStatusPartiallyAvailableFlat", {0x02}},
      {0x10, "Warning", "NSStatusPartiallyAvailableFlat", {0x10}},
      {0x04, "Failed", "NSStatusUnavailableFlat", {0x04}},
      {0x08, "Failed", "NSStatusUnavailableFlat", {0x08}},
      {0xFF, "Failed", "NSStatusUnavailableFlat", {0x04, 0x08, 0x01, 0x02, 0x10}},
  };
  const char* flags[] = {"lowSpare", "overTemp", "lowReliability", "readOnly", "failedVMBkup"};
  for (const Case& c : cases) {
    SCOPED_TRACE(int{c.cw});
    EXPECT_EQ(healthBadge(c.cw).iconName, c.icon);
    HealthVerdict v = judgeNvmeHealth(c.cw);
    EXPECT_EQ(v.word, c.word);
    std::vector<std::uint32_t> codes;
    for (const HealthReason& r : v.reasons) codes.push_back(r.code);
    EXPECT_EQ(codes, c.reasons);
    HealthPage h;
    h.u8(0, c.cw);
    Dict controller = controllerHealthSummary(h.view(), kSystemIcon);
    Dict ns = namespaceHealthSummary(h.view());
    for (const Dict* s : {&controller, &ns}) {
      EXPECT_EQ(*s->find("criticalWarning"), Value(unsigned{c.cw}));
      EXPECT_EQ(s->stringOr("attributeHealth"), c.word);
    }
    for (int bit = 0; bit < 5; ++bit) {  // booleans and masked numbers
      EXPECT_EQ(controller.getBool(flags[bit]), (c.cw >> bit & 1) != 0) << flags[bit];
      EXPECT_EQ(*ns.find(flags[bit]), Value(c.cw & 1 << bit)) << flags[bit];
    }
  }
}

TEST(NvmeHealthTest, CountersKeepAllOfTheir128Bits) {
  const char* counters[] = {"dataUnitsRead",  "dataUnitsWrite", "hostReads",    "hostWrites",
                            "controllerBusy", "powerCycles",    "powerOnHours", "unsafeShutdowns",
                            "mediaErrors",    "lifetimeErrors"};
  HealthPage h;
  for (std::size_t i = 0; i < 10; ++i)  // distinct values that use every byte of each half
    h.u64(32 + 16 * i, 0x0102030405060708ull * (i + 1)).u64(40 + 16 * i, 0xF0E0D0C0B0A09080ull - i);
  for (const Dict& s :
       {controllerHealthSummary(h.view(), kSystemIcon), namespaceHealthSummary(h.view())}) {
    for (std::size_t i = 0; i < 10; ++i) {
      EXPECT_EQ(*s.find(std::string(counters[i]) + "Lo"), Value(0x0102030405060708ull * (i + 1)))
          << counters[i];
      EXPECT_EQ(*s.find(std::string(counters[i]) + "Hi"), Value(0xF0E0D0C0B0A09080ull - i))
          << counters[i];
    }
  }
  // Bytes from the low halves' data units of 512000 bytes, modulo 2^64.
  for (std::uint64_t lo : std::array<std::uint64_t, 3>{2, 0x100000001, UINT64_MAX}) {
    Dict s = controllerHealthSummary(HealthPage{}.u64(32, lo).u64(40, 7).u64(48, lo).view(),
                                     kSystemIcon);
    EXPECT_EQ(*s.find("totalBytesRead"), Value(lo * 512000)) << lo;
    EXPECT_EQ(*s.find("totalBytesWritten"), Value(lo * 512000)) << lo;
  }
}

TEST(NvmeHealthTest, PercentTemperatureSpareAndBadge) {
  struct {
    std::uint8_t used;
    unsigned remaining;
    std::uint16_t kelvin;
    float celsius;
  } cases[] = {{0, 100, 0, -273.15f},
               {3, 97, 310, 36.85f},
               {100, 0, 273, static_cast<float>(273 - 273.15)},
               {255, 0, 65535, static_cast<float>(65535 - 273.15)}};
  for (const auto& c : cases) {
    HealthPage h;
    h.u16(1, c.kelvin).u8(3, 7).u8(4, 10).u8(5, c.used);
    Dict s = controllerHealthSummary(h.view(), kSystemIcon);
    Dict n = namespaceHealthSummary(h.view());
    EXPECT_EQ(*s.find("percentRemaining"), Value(c.remaining)) << int{c.used};
    EXPECT_EQ(*n.find("percentRemaining"), Value(static_cast<int>(c.remaining))) << int{c.used};
    EXPECT_EQ(*s.find("temperature"), Value(unsigned{c.kelvin}));
    EXPECT_EQ(*s.find("tempoC"), Value(c.celsius)) << c.kelvin;
    EXPECT_EQ(*n.find("availableSpare"), Value(7u));
    EXPECT_EQ(*n.find("spareThreshold"), Value(10u));
  }
  // The badge: the verdict word with the system icon at 20 points.
  Dict s = controllerHealthSummary(HealthPage{}.u8(0, 0x04).view(), kSystemIcon);
  Image icon{.name = "NSStatusAvailableFlat", .width = 20, .height = 20};
  EXPECT_EQ(s.find("extendedHealth")->ifStyledText()->text, "Failed");
  EXPECT_EQ(s.find("extendedHealth")->ifStyledText()->attachment, icon);
  EXPECT_EQ(*s.find("extendedHealthIcon"), Value(icon));
  Dict plain = controllerHealthSummary(HealthPage{}.view(), std::nullopt);
  EXPECT_EQ(*plain.find("extendedHealth"), Value(""));
}

TEST(NvmeIdentifyTest, SummariesOfTheSampleController) {
  IdentifyPage id = testing::sampleIdentify();
  Dict s = controllerIdentifySummary(id.view(), 1, 4);
  EXPECT_EQ(oneLine(s),
            R"({"nvmeIFRev":"1.4","vid":"144d","ssvid":"144d","sn":"S4EWNX0R123456A",)"
            R"("mn":"Samsung SSD 970 EVO Plus 1TB","fr":"2B2QEXM7","rab":2,"oui":"002538",)"
            R"("cmic":"00","mdts":512,"ctlid":4,"oacs":"0017","frmw":"15","lpa":"03","elpe":63,)"
            R"("npss":0,"nn":1,"oncs":"005f"})");
  Dict ns = namespaceIdentifySummary(id.view());
  s.erase("nvmeIFRev");
  s.set("mdts", 512);  // signed on the namespace path
  EXPECT_EQ(ns, s);
  // A text that is not UTF-8 gives a placeholder; zeros are text.
  for (auto [at, key, placeholder] :
       {std::tuple{11, "sn", "no sn"}, {63, "mn", "no mn"}, {64, "fr", "no fr"}}) {
    IdentifyPage bad = testing::sampleIdentify();
    bad.u8(at, 0xFF);
    EXPECT_EQ(controllerIdentifySummary(bad.view(), 1, 4).stringOr(key), placeholder);
    EXPECT_TRUE(identifyLacksText(bad.view())) << key;
  }
  EXPECT_EQ(controllerIdentifySummary(IdentifyPage{}.view(), 1, 4).stringOr("sn"),
            std::string(20, '\0'));
  EXPECT_FALSE(identifyLacksText(IdentifyPage{}.view()));
}

TEST(NvmeIdentifyTest, PowerStatesUpToNpssWithinTheData) {
  for (auto [npss, entries] : {std::pair{0, 1u}, {4, 5u}, {31, 32u}, {255, 32u}}) {
    IdentifyPage id;
    id.u8(263, static_cast<std::uint8_t>(npss)).u16(2048 + 32 * 31, 123);
    Array states = powerStates(id.view());
    ASSERT_EQ(states.size(), entries) << npss;
    EXPECT_EQ(*states.back().ifDict()->find("state"), Value(std::uint64_t{entries - 1}));
    EXPECT_EQ(*states.back().ifDict()->find("mp"), Value(entries == 32 ? 1.23f : 0.0f));
  }
  IdentifyPage id;
  id.u8(263, 1).u16(2048 + 32, 360).u32(2048 + 36, 210).u32(2048 + 40, 1200);
  id.u8(2048 + 35, 0xFC).u32(2048 + 44, 0xFF1F21E3);  // only bits 0 and 1 of byte 3 count
  EXPECT_EQ(oneLine(powerStates(id.view())[1]),
            R"({"state":1,"mp":3.6,"mps":0.01,"nops":1,"enlat":210,"exlat":1200,"rrt":227,)"
            R"("rrl":33,"rwt":31,"rwl":255})");
}

TEST(NvmeLogsTest, ErrorLogKeepsTheEntriesWithACountInOrder) {
  std::vector<std::pair<std::size_t, std::uint64_t>> full;
  for (std::size_t n = 0; n < 64; ++n) full.emplace_back(n, n + 1);
  struct {
    const char* name;
    std::vector<std::pair<std::size_t, std::uint64_t>> filled;  // entry, error count
    std::size_t kept;
  } cases[] = {{"empty", {}, 0},
               {"a gap between two", {{0, 5}, {2, 3}}, 2},
               {"only the last", {{63, 9}}, 1},
               {"full", full, 64}};
  for (const auto& c : cases) {
    Page<4096> log;
    log.u16(64 * 4 + 8, 3);  // fields, but error count 0
    for (auto [n, count] : c.filled) log.u64(64 * n, count);
    Array entries = errorLogEntries(log.view());
    ASSERT_EQ(entries.size(), c.kept) << c.name;
    for (std::size_t i = 0; i < c.kept; ++i)
      EXPECT_EQ(*entries[i].ifDict()->find("errorCount"), Value(c.filled[i].second)) << c.name;
  }
  Page<4096> log;
  log.u64(128, 0x100000001ull).u16(136, 1).u16(138, 0x0018).u16(140, 0x4005).u16(142, 0x0028);
  log.u64(144, 0x1122334455667788ull).u32(152, 0xFFFFFFFF).u8(156, 1);
  EXPECT_EQ(oneLine(errorLogEntries(log.view()).at(0)),
            R"({"errorCount":4294967297,"sqid":1,"cmdid":"0018","status":"4005","pel":"0028",)"
            R"("lba":1234605616436508552,"nsid":"ffffffff","vsia":"01"})");
}

TEST(NvmeLogsTest, FirmwareSlotsCountActiveAndReadOnly) {
  struct {
    const char* name;
    std::uint8_t frmw, afi;
    std::string slots;  // active/read-only/revision
  } cases[] = {
      {"no slots", 0x01, 0x01, ""},
      {"one slot is active whatever the log says", 0x02, 0x03, "Yes/No/FW000001 "},
      {"one read-only slot", 0x03, 0x00, "Yes/Yes/FW000001 "},
      {"three, slot 1 read-only, slot 2 active", 0x07, 0x02,
       "No/Yes/FW000001 Yes/No/FW000002 No/No/FW000003 "},
      {"next slot bits do not make a slot active", 0x04, 0x21, "Yes/No/FW000001 No/No/FW000002 "},
      {"seven slots", 0x0E, 0x00,
       "No/No/FW000001 No/No/FW000002 No/No/FW000003 No/No/FW000004 No/No/FW000005 "
       "No/No/FW000006 No/No/FW000007 "},
  };
  for (const auto& c : cases) {
    IdentifyPage id = testing::sampleIdentify();
    id.u8(260, c.frmw);
    Page<512> log;
    log.u8(0, c.afi);
    for (int n = 1; n <= 7; ++n) log.text(8 * n, "FW00000" + std::to_string(n), 8);
    Dict reading;
    addFirmwareSlots(reading, id.view(), log.view());
    std::string slots;
    for (const Value& v : *reading.getArray("firmwareSlots"))
      slots += v.ifDict()->stringOr("active") + "/" + v.ifDict()->stringOr("readOnly") + "/" +
               v.ifDict()->stringOr("firmwareRevision") + " ";
    EXPECT_EQ(slots, c.slots) << c.name;
    const auto count = static_cast<std::uint64_t>(std::ranges::count(c.slots, ' '));
    EXPECT_EQ(*reading.find("firmwareSlotCount"), Value(count)) << c.name;
  }
}

// Used entries keep their order and the unused ones (result 0xF) are passed
// over wherever they are.
TEST(NvmeLogsTest, SelfTestResultsNewestFirstWithoutTheUnused) {
  std::vector<std::size_t> all;
  for (std::size_t n = 0; n < 20; ++n) all.push_back(n);
  for (const std::vector<std::size_t>& used :
       {std::vector<std::size_t>{}, {0, 1}, {0, 3, 4}, {19}, all}) {
    Page<564> page;
    page.u8(0, 0x2).u8(1, 40 | 0x80);  // the reserved top bit is not part of the completion
    for (std::size_t n = 0; n < 20; ++n) page.u8(4 + 28 * n, 0x0F);
    for (std::size_t n : used) {
      std::size_t at = 4 + 28 * n;
      page.u8(at, static_cast<std::uint8_t>((n % 2 ? 0x20 : 0x17))).u8(at + 2, n % 2 ? 0 : 3);
      page.u64(at + 4, 6200 - n).u32(at + 12, 1).u64(at + 16, 4096);
    }
    NvmeSelfTestLog log = decodeSelfTestLog(page.view());
    EXPECT_EQ(log.currentOperation, 2);
    EXPECT_EQ(log.currentCompletion, 40);
    ASSERT_EQ(log.results.size(), used.size());
    for (std::size_t i = 0; i < used.size(); ++i) {
      const auto& r = log.results[i];
      const std::size_t n = used[i];
      EXPECT_EQ(r.powerOnHours, 6200 - n);
      EXPECT_EQ(r.typeName(), n % 2 ? "Extended" : "Short");
      EXPECT_EQ(r.failed(), n % 2 == 0);
      EXPECT_EQ(r.failingLba, n % 2 ? std::nullopt : std::optional<std::uint64_t>(4096));
    }
  }
}

}  // namespace
}  // namespace sentrel::nvme
