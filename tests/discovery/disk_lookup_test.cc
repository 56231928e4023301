// What a disk name that has no drive record stands for.
#include "sentrel/disk_lookup.h"

#include <gtest/gtest.h>

#include "support/machines.h"

namespace sentrel {
namespace {

using Outcome = DiskLookup::Outcome;

TEST(DiskLookupTest, NamesPartitionsAndDisksWithoutSmartAccess) {
  Dict kept = testing::sataDisk("disk0");
  testing::addVolume(kept, "disk0s1", "EFI");
  Dict told = testing::sataDisk("disk1");
  told.set("ancestors", Array{});
  told.find("properties")->ifDict()->set("SMART Unavailable Reason", "a virtio disk");
  Dict ext4 = testing::sataDisk("disk3");
  testing::description(ext4).set("DAMediaContent", "ext4");
  testing::TestMachine m{kept, told, ext4};

  struct Case {
    const char* name;
    Outcome outcome;
    const char* detail;  // the whole disk, or the reason
  } cases[] = {
      {"disk0", Outcome::found, ""},
      {"disk0s1", Outcome::partition, "disk0"},
      {"disk1", Outcome::noSmartAccess, "a virtio disk"},
      {"disk3", Outcome::noSmartAccess,
       "it holds ext4 directly instead of a partition table, and only partitioned or blank "
       "disks are listed"},
      {"disk7", Outcome::notFound, ""},
  };
  for (const Case& c : cases) {
    DiskLookup found = lookUpDisk(c.name);
    EXPECT_EQ(found.outcome, c.outcome) << c.name;
    EXPECT_EQ(found.outcome == Outcome::partition ? found.wholeDisk : found.reason, c.detail)
        << c.name;
    EXPECT_EQ(found.knownDisks, std::vector<std::string>{"disk0"}) << c.name;
  }
}

}  // namespace
}  // namespace sentrel
