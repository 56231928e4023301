#include <gtest/gtest.h>

#include "nvme/nvme_identify.h"
#include "nvme/nvme_pages.h"

namespace sentrel::nvme {
namespace {

using testing::IdentifyPage;
using testing::sampleIdentify;

std::vector<std::string> keysOf(const Dict& d) {
  std::vector<std::string> out;
  for (const auto& e : d) out.push_back(e.key);
  return out;
}

TEST(NvmeIdentifySummaryTest, ControllerSummaryHoldsTheEighteenKeysInOrder) {
  IdentifyPage id = sampleIdentify();
  Dict s = controllerIdentifySummary(id.view(), 1, 4);
  EXPECT_EQ(keysOf(s), (std::vector<std::string>{"nvmeIFRev", "vid", "ssvid", "sn", "mn", "fr",
                                                 "rab", "oui", "cmic", "mdts", "ctlid", "oacs",
                                                 "frmw", "lpa", "elpe", "npss", "nn", "oncs"}));
  EXPECT_EQ(s, (Dict{
                   {"nvmeIFRev", "1.4"},
                   {"vid", "144d"},
                   {"ssvid", "144d"},
                   {"sn", "S4EWNX0R123456A"},
                   {"mn", "Samsung SSD 970 EVO Plus 1TB"},
                   {"fr", "2B2QEXM7"},
                   {"rab", 2u},
                   {"oui", "002538"},
                   {"cmic", "00"},
                   {"mdts", 512u},
                   {"ctlid", 4u},
                   {"oacs", "0017"},
                   {"frmw", "15"},
                   {"lpa", "03"},
                   {"elpe", 63u},
                   {"npss", 0u},
                   {"nn", 1u},
                   {"oncs", "005f"},
               }));
}

TEST(NvmeIdentifySummaryTest, NamespaceSummaryDropsTheInterfaceAndSignsMdts) {
  IdentifyPage id = sampleIdentify();
  Dict s = namespaceIdentifySummary(id.view());
  EXPECT_EQ(s.size(), 17u);
  EXPECT_FALSE(s.contains("nvmeIFRev"));
  EXPECT_EQ(*s.find("mdts"), Value(512));
  EXPECT_EQ(s.find("mdts")->kind(), Value::Kind::integer);
  Dict controller = controllerIdentifySummary(id.view(), 1, 4);
  EXPECT_EQ(controller.find("mdts")->kind(), Value::Kind::unsignedInteger);
  for (const auto& e : s) {
    if (e.key != "mdts") {
      EXPECT_EQ(e.value, *controller.find(e.key)) << e.key;
    }
  }
}

TEST(NvmeIdentifySummaryTest, MdtsIsTwoToThePowerOfTheByte) {
  struct Case {
    std::uint8_t byte;
    std::uint32_t unsignedMdts;
    std::int32_t signedMdts;
  } cases[] = {
      {0, 1, 1},
      {5, 32, 32},
      {9, 512, 512},
      {30, 1u << 30, 1 << 30},
      {31, 1u << 31, INT32_MAX},  // the signed form saturates one step earlier
      {32, UINT32_MAX, INT32_MAX},
      {255, UINT32_MAX, INT32_MAX},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mdtsUnsigned(c.byte), c.unsignedMdts) << int{c.byte};
    EXPECT_EQ(mdtsSigned(c.byte), c.signedMdts) << int{c.byte};
    IdentifyPage id;
    id.u8(77, c.byte);
    EXPECT_EQ(*controllerIdentifySummary(id.view(), 1, 4).find("mdts"),
              Value(std::uint64_t{c.unsignedMdts}));
    EXPECT_EQ(*namespaceIdentifySummary(id.view()).find("mdts"), Value(c.signedMdts));
  }
}

TEST(NvmeIdentifySummaryTest, TextsArePlaceholdersOnlyWhenNotUtf8) {
  IdentifyPage zero;
  Dict z = controllerIdentifySummary(zero.view(), 1, 4);
  EXPECT_EQ(z.stringOr("vid"), "0000");
  EXPECT_EQ(z.stringOr("sn"), std::string(20, '\0'));  // zero characters, not "no sn"
  EXPECT_EQ(z.stringOr("mn"), std::string(40, '\0'));
  EXPECT_EQ(z.stringOr("fr"), std::string(8, '\0'));
  EXPECT_EQ(*z.find("mdts"), Value(1u));
  EXPECT_FALSE(identifyLacksText(zero.view()));

  struct Case {
    std::size_t at;
    const char* key;
    const char* placeholder;
  } cases[] = {{4 + 7, "sn", "no sn"}, {24 + 39, "mn", "no mn"}, {64, "fr", "no fr"}};
  for (const Case& c : cases) {
    IdentifyPage id = sampleIdentify();
    id.u8(c.at, 0xFF);
    Dict s = controllerIdentifySummary(id.view(), 1, 4);
    EXPECT_EQ(s.stringOr(c.key), c.placeholder);
    EXPECT_EQ(namespaceIdentifySummary(id.view()).stringOr(c.key), c.placeholder);
    EXPECT_TRUE(identifyLacksText(id.view())) << c.key;
    for (const char* other : {"sn", "mn", "fr"}) {
      if (std::string(other) != c.key) {
        EXPECT_NE(s.stringOr(other).substr(0, 3), "no ") << other;
      }
    }
  }
}

TEST(NvmePowerStatesTest, OneEntryPerDescriptorUpToNpssAndNoFurtherThanTheData) {
  struct Case {
    std::uint8_t npss;
    std::size_t entries;
  } cases[] = {{0, 1}, {4, 5}, {31, 32}, {32, 32}, {255, 32}};
  for (const Case& c : cases) {
    IdentifyPage id;
    id.u8(263, c.npss);
    id.u16(2048 + 32 * 31, 123);  // the last descriptor of the data
    Array states = powerStates(id.view());
    ASSERT_EQ(states.size(), c.entries) << int{c.npss};
    for (std::size_t i = 0; i < states.size(); ++i)
      EXPECT_EQ(*states[i].ifDict()->find("state"), Value(std::uint64_t{i}));
    if (c.entries == 32) {
      EXPECT_EQ(*states.back().ifDict()->find("mp"), Value(1.23f)) << int{c.npss};
    }
  }
}

TEST(NvmePowerStatesTest, ScaleAndFlagsOfByteThree) {
  struct Case {
    std::uint16_t maxPower;
    std::uint8_t flags;
    float mp;
    float mps;
    int nops;
  } cases[] = {
      {900, 0x00, 9.0f, 0.01f, 1},    {900, 0x01, 0.09f, 0.0001f, 1}, {7, 0x02, 0.07f, 0.01f, 0},
      {50, 0x03, 0.005f, 0.0001f, 0}, {750, 0xFC, 7.5f, 0.01f, 1},  // only bits 0 and 1 count
  };
  for (const Case& c : cases) {
    IdentifyPage id;
    id.u16(2048, c.maxPower).u8(2048 + 3, c.flags);
    Dict s = *powerStates(id.view())[0].ifDict();
    EXPECT_EQ(*s.find("mp"), Value(c.mp)) << int{c.flags};
    EXPECT_EQ(*s.find("mps"), Value(c.mps)) << int{c.flags};
    EXPECT_EQ(*s.find("nops"), Value(c.nops)) << int{c.flags};
    EXPECT_EQ(s.find("nops")->kind(), Value::Kind::integer);
  }
}

TEST(NvmePowerStatesTest, EntryHoldsLatenciesAndWholeRelativeBytes) {
  IdentifyPage id;
  id.u8(263, 1);
  std::size_t d = 2048 + 32;
  id.u16(d, 360).u32(d + 4, 210).u32(d + 8, 1200);
  id.u8(d + 12, 0xE3).u8(d + 13, 0x21).u8(d + 14, 0x1F).u8(d + 15, 0xFF);
  Dict s = *powerStates(id.view())[1].ifDict();
  EXPECT_EQ(s, (Dict{{"state", 1u},
                     {"mp", 3.6f},
                     {"mps", 0.01f},
                     {"nops", 1},
                     {"enlat", 210u},
                     {"exlat", 1200u},
                     {"rrt", 0xE3u},
                     {"rrl", 0x21u},
                     {"rwt", 0x1Fu},
                     {"rwl", 0xFFu}}));
}

}  // namespace
}  // namespace sentrel::nvme
