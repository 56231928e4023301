// The block probe of a real machine: udev's database, which anyone may
// read, says what udev's own probe found of the partition table, file
// system and label, without a read of the device; libblkid reads them from
// the device only when udev has no record of it.
#pragma once

#include "platform/linux/sysfs_disks.h"

namespace sentrel::platform {

class LinuxBlockProbe final : public BlockProbe {
 public:
  explicit LinuxBlockProbe(std::string udevData) : udevData_(std::move(udevData)) {}
  std::optional<BlockContent> probe(const std::string& devNode,
                                    const std::string& majorMinor) override;

 private:
  std::string udevData_;
};

// What one udev database record ("E:KEY=value" lines) says of a block device.
std::optional<BlockContent> contentFromUdevRecord(std::string_view record);

}  // namespace sentrel::platform
