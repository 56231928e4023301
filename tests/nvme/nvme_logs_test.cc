#include <gtest/gtest.h>

#include "nvme/nvme_logs.h"
#include "nvme/nvme_pages.h"

namespace sentrel::nvme {
namespace {

using testing::ErrorLogPage;
using testing::FirmwareLogPage;
using testing::IdentifyPage;
using testing::sampleIdentify;

std::vector<std::uint64_t> counts(const Array& entries) {
  std::vector<std::uint64_t> out;
  for (const Value& e : entries) out.push_back(*e.ifDict()->find("errorCount")->ifUInt());
  return out;
}

TEST(NvmeErrorLogTest, EmptyEntriesAreSkippedAndTheRestKeptInOrder) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::size_t, std::uint64_t>> filled;  // entry, error count
    std::vector<std::uint64_t> counts;
  } cases[] = {
      {"empty log", {}, {}},
      {"a gap between two", {{0, 5}, {2, 3}}, {5, 3}},
      {"only the last entry", {{63, 9}}, {9}},
      {"first and last", {{0, 1}, {63, 2}}, {1, 2}},
      {"a count above 32 bits", {{1, 0x100000000ull}}, {0x100000000ull}},
  };
  for (const Case& c : cases) {
    ErrorLogPage log;
    for (auto [n, count] : c.filled) log.u64(64 * n, count);
    EXPECT_EQ(counts(errorLogEntries(log.view())), c.counts) << c.name;
  }
}

TEST(NvmeErrorLogTest, AnEntryWithoutCountIsSkippedWhateverElseItHolds) {
  ErrorLogPage log;
  log.u16(64 * 4 + 8, 3).u64(64 * 4 + 16, 1234);  // fields, but error count 0
  EXPECT_TRUE(errorLogEntries(log.view()).empty());
}

TEST(NvmeErrorLogTest, EntryFields) {
  ErrorLogPage log;
  std::size_t e = 64 * 2;
  log.u64(e, 2).u16(e + 8, 1).u16(e + 10, 0x0018).u16(e + 12, 0x4005).u16(e + 14, 0x0028);
  log.u64(e + 16, 0x1122334455667788ull).u32(e + 24, 0xFFFFFFFF).u8(e + 28, 1);
  Array entries = errorLogEntries(log.view());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(*entries[0].ifDict(), (Dict{{"errorCount", 2u},
                                        {"sqid", 1u},
                                        {"cmdid", "0018"},
                                        {"status", "4005"},
                                        {"pel", "0028"},
                                        {"lba", 0x1122334455667788ull},
                                        {"nsid", "ffffffff"},
                                        {"vsia", "01"}}));
  EXPECT_EQ(entries[0].ifDict()->entries().front().key, "errorCount");
  EXPECT_EQ(entries[0].ifDict()->entries().back().key, "vsia");
}

struct SlotView {
  std::string active, readOnly, revision;
  friend bool operator==(const SlotView&, const SlotView&) = default;
  friend std::ostream& operator<<(std::ostream& o, const SlotView& s) {
    return o << "{" << s.active << ", " << s.readOnly << ", '" << s.revision << "'}";
  }
};

std::vector<SlotView> slotsOf(const Dict& reading) {
  std::vector<SlotView> out;
  std::uint64_t n = 0;
  for (const Value& v : *reading.getArray("firmwareSlots")) {
    const Dict& d = *v.ifDict();
    EXPECT_EQ(*d.find("slot"), Value(++n));
    out.push_back({d.stringOr("active"), d.stringOr("readOnly"), d.stringOr("firmwareRevision")});
  }
  return out;
}

TEST(NvmeFirmwareSlotsTest, SlotCountActiveAndReadOnlyRules) {
  struct Case {
    const char* name;
    std::uint8_t frmw;
    std::uint8_t afi;
    std::vector<SlotView> slots;
  } cases[] = {
      {"no slots", 0x00, 0x01, {}},
      {"read-only bit without slots", 0x01, 0x01, {}},
      {"one slot is active whatever the log says", 0x02, 0x03, {{"Yes", "No", "FW000001"}}},
      {"one read-only slot", 0x03, 0x00, {{"Yes", "Yes", "FW000001"}}},
      {"three slots, slot 1 read-only, slot 2 active",
       0x07,
       0x02,
       {{"No", "Yes", "FW000001"}, {"Yes", "No", "FW000002"}, {"No", "No", "FW000003"}}},
      {"next slot bits do not make a slot active",
       0x04,
       0x21,
       {{"Yes", "No", "FW000001"}, {"No", "No", "FW000002"}}},
      {"no slot active", 0x04, 0x00, {{"No", "No", "FW000001"}, {"No", "No", "FW000002"}}},
  };
  for (const Case& c : cases) {
    IdentifyPage id = sampleIdentify();
    id.u8(260, c.frmw);
    FirmwareLogPage log;
    log.u8(0, c.afi);
    for (int n = 1; n <= 7; ++n) log.text(8 * n, "FW00000" + std::to_string(n), 8);
    Dict reading;
    addFirmwareSlots(reading, id.view(), log.view());
    EXPECT_EQ(slotsOf(reading), c.slots) << c.name;
    EXPECT_EQ(*reading.find("firmwareSlotCount"), Value(std::uint64_t{c.slots.size()})) << c.name;
  }
}

TEST(NvmeFirmwareSlotsTest, ActiveAndNextSlotNumbers) {
  IdentifyPage id;
  FirmwareLogPage log;
  log.u8(0, 0xB5);  // bit 7 and bit 3 are not part of either number
  Dict reading;
  addFirmwareSlots(reading, id.view(), log.view());
  EXPECT_EQ(*reading.find("activeFirmwareSlot"), Value(5u));
  EXPECT_EQ(*reading.find("nextFirmwareSlot"), Value(3u));
  EXPECT_EQ(*reading.find("firmwareSlotCount"), Value(0u));
  EXPECT_EQ(*reading.find("firmwareSlots"), Value(Array{}));
}

TEST(NvmeFirmwareSlotsTest, RevisionTexts) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;  // the slot's 8 bytes
    std::string fr;                   // the controller's revision field
    std::string revision;
  } cases[] = {
      {"filled slot keeps its blanks",
       {'1', 'B', '2', 'Q', ' ', ' ', ' ', ' '},
       "2B2QEXM7",
       "1B2Q    "},
      {"empty slot shows the running revision trimmed",
       {0, 'X', 0, 0, 0, 0, 0, 0},
       "  RUN01  ",
       "RUN01"},
      {"empty slot and a running revision that is not text",
       {0, 0, 0, 0, 0, 0, 0, 0},
       "\xFF"
       "ABCDEFG",
       "no fr"},
      {"zero bytes after the first stay",
       {'A', 0, 0, 0, 0, 0, 0, 0},
       "2B2QEXM7",
       std::string("A\0\0\0\0\0\0\0", 8)},
      {"revision bytes that are not UTF-8 show as hex",
       {'1', 0xFF, 0xFE, 'Q', 0, 0, 0, 0},
       "2B2QEXM7",
       "31fffe5100000000"},
  };
  for (const Case& c : cases) {
    IdentifyPage id;
    id.u8(260, 0x02).text(64, c.fr, 8);
    FirmwareLogPage log;
    for (std::size_t i = 0; i < 8; ++i) log.u8(8 + i, c.bytes[i]);
    Dict reading;
    addFirmwareSlots(reading, id.view(), log.view());
    ASSERT_EQ(slotsOf(reading).size(), 1u) << c.name;
    EXPECT_EQ(slotsOf(reading)[0].revision, c.revision) << c.name;
  }
}

TEST(NvmeFirmwareSlotsTest, SevenSlotsReadTheirOwnBytes) {
  IdentifyPage id;
  id.u8(260, 0x0E);
  FirmwareLogPage log;
  for (int n = 0; n <= 8; ++n) log.text(8 * n, "SLOT" + std::to_string(n) + "xyz", 8);
  Dict reading;
  addFirmwareSlots(reading, id.view(), log.view());
  auto slots = slotsOf(reading);
  ASSERT_EQ(slots.size(), 7u);
  EXPECT_EQ(slots.front().revision, "SLOT1xyz");
  EXPECT_EQ(slots.back().revision, "SLOT7xyz");
}

}  // namespace
}  // namespace sentrel::nvme
