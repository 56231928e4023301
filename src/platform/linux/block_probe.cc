#include "platform/linux/block_probe.h"

#include <blkid/blkid.h>

#include <cctype>
#include <fstream>
#include <sstream>

namespace sentrel::platform {

namespace {

std::optional<BlockContent> probeWithBlkid(const std::string& devNode) {
  blkid_probe pr = blkid_new_probe_from_filename(devNode.c_str());
  if (!pr) return std::nullopt;
  blkid_probe_enable_partitions(pr, 1);
  blkid_probe_enable_superblocks(pr, 1);
  blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE);
  int rc = blkid_do_safeprobe(pr);
  BlockContent c;
  if (rc == 0) {
    const char* v = nullptr;
    if (blkid_probe_lookup_value(pr, "PTTYPE", &v, nullptr) == 0 && v) c.partitionTable = v;
    if (blkid_probe_lookup_value(pr, "TYPE", &v, nullptr) == 0 && v) c.filesystem = v;
    if (blkid_probe_lookup_value(pr, "LABEL", &v, nullptr) == 0 && v) c.label = v;
  }
  blkid_free_probe(pr);
  // -1: the device could not be read; 1: nothing found; -2: two answers.
  if (rc == -1) return std::nullopt;
  return c;
}

// udev writes bytes outside plain ASCII in labels as \xNN.
std::string decodeUdev(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    // Both digits must be hex: "\\x4g" stays as it stands.
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 3]))) {
      out += static_cast<char>(std::stoi(std::string(s.substr(i + 2, 2)), nullptr, 16));
      i += 3;
      continue;
    }
    out += s[i];
  }
  return out;
}

}  // namespace

std::optional<BlockContent> contentFromUdevRecord(std::string_view record) {
  BlockContent c;
  bool any = false;
  std::size_t start = 0;
  while (start < record.size()) {
    std::size_t end = record.find('\n', start);
    if (end == std::string_view::npos) end = record.size();
    std::string_view line = record.substr(start, end - start);
    start = end + 1;
    auto take = [&](std::string_view key, auto set) {
      if (line.substr(0, key.size()) == key) {
        set(line.substr(key.size()));
        any = true;
      }
    };
    take("E:ID_PART_TABLE_TYPE=", [&](std::string_view v) { c.partitionTable = v; });
    take("E:ID_FS_TYPE=", [&](std::string_view v) { c.filesystem = v; });
    take("E:ID_FS_LABEL_ENC=", [&](std::string_view v) { c.label = decodeUdev(v); });
  }
  if (!any) return std::nullopt;
  return c;
}

std::optional<BlockContent> LinuxBlockProbe::probe(const std::string& devNode,
                                                   const std::string& majorMinor) {
  // udev's record first: it says what udev's own probe found when the
  // device appeared, so listing disks reads no media and wakes no disk.
  // A record without partition or file-system keys is a blank device.
  if (!majorMinor.empty()) {
    std::ifstream in(udevData_ + "/b" + majorMinor);
    if (in) {
      std::ostringstream s;
      s << in.rdbuf();
      return contentFromUdevRecord(s.str()).value_or(BlockContent{});
    }
  }
  // No record (no udev, or a device udev has not seen): probe the device.
  return probeWithBlkid(devNode);
}

}  // namespace sentrel::platform
