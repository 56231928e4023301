// Volume sizes from the file-system statistics of the volume that holds a
// path, and their readable texts.
#include "core/text.h"
#include "sentrel/platform.h"
#include "sentrel/sysutil.h"
#include "sysutil/byte_text.h"

namespace sentrel {

namespace {

std::optional<platform::FileSystemStats> statistics(std::string_view path) {
  return platform::current().mounts->statfs(path);
}

// "disk3" for a device such as /dev/disk3s5: the text between the first
// "disk" and the next "s" of its last path component.
std::optional<std::string> containerName(std::string_view device) {
  std::string_view component = text::lastPathComponent(device);
  std::size_t disk = component.find("disk");
  if (disk == std::string_view::npos) return std::nullopt;
  std::string_view piece = component.substr(disk + 4);
  piece = piece.substr(0, piece.find("disk"));
  piece = piece.substr(0, piece.find('s'));
  return "disk" + std::string(piece);
}

double number(const Dict& d, std::string_view key) {
  const Value* v = d.find(key);
  return v ? v->toReal().value_or(0) : 0;
}

}  // namespace

double KVFoundationGetVolTotalSize(std::string_view path) {
  auto s = statistics(path);
  if (!s) return 0;
  return static_cast<double>(s->blockSize) * static_cast<double>(s->blocks);
}

double KVFoundationGetVolFreeSize(std::string_view path) {
  auto s = statistics(path);
  if (!s) return 0;
  return static_cast<double>(s->blockSize) * static_cast<double>(s->freeBlocks);
}

double KVFoundationGetVolUsedSize(std::string_view path) {
  auto s = statistics(path);
  if (!s) return 0;
  // The block difference is signed: more free than total blocks (a file
  // system that reports so) gives a negative size, not a huge one.
  auto used = static_cast<std::int64_t>(s->blocks - s->freeBlocks);
  return static_cast<double>(s->blockSize) * static_cast<double>(used);
}

double KVFoundationGetAPFSVolUsedSize(std::string_view mountPoint) {
  if (auto name = containerName(getVolumeMountFromName(mountPoint))) {
    if (auto container = getAPFSContainer(*name))
      return number(*container, "CapacityCeiling") - number(*container, "CapacityFree");
  }
  return KVFoundationGetVolUsedSize(mountPoint);
}

std::string KVFoundationGetVolTotalSizeString(std::string_view path) {
  return KVFoundationConvertBytesToStringValue(KVFoundationGetVolTotalSize(path));
}

std::string KVFoundationGetVolUsedSizeString(std::string_view path) {
  return KVFoundationConvertBytesToStringValue(KVFoundationGetVolUsedSize(path));
}

std::string KVFoundationConvertBytesToStringValue(std::optional<double> bytes) {
  double base = KVCompareCurrentSystemVersionWith("10.6") == -1 ? 1024 : 1000;
  return sysutil::byteCountText(bytes.value_or(0), base);
}

}  // namespace sentrel
