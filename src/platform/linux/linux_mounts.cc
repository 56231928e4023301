// The mount table and file-system statistics of this machine. The table is
// the kernel's own view of this process (/proc/self/mountinfo), which,
// unlike /etc/mtab, is never stale. Statistics come from statfs(2); the
// mount that holds a path names its device and type, as the statistics
// record of other systems does.
#include <sys/statfs.h>

#include <climits>
#include <cstdlib>

#include "core/text.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/linux_system.h"

namespace sentrel::platform {

namespace {

// The kernel writes a blank, tab, newline and backslash in a path as a
// backslash and three octal digits.
std::string unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    auto octal = [&](std::size_t k) { return s[k] >= '0' && s[k] <= '7'; };
    if (s[i] == '\\' && i + 3 < s.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<std::string_view> fields(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t at = 0;
  while (at < line.size()) {
    std::size_t end = line.find(' ', at);
    if (end == std::string_view::npos) end = line.size();
    if (end > at) out.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

}  // namespace

// A line: ID PARENT MAJOR:MINOR ROOT MOUNT-POINT OPTIONS [OPTIONAL...] -
// TYPE SOURCE SUPER-OPTIONS. Lines that do not have that shape are skipped.
std::vector<MountEntry> parseMountInfo(std::string_view text) {
  std::vector<MountEntry> table;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::vector<std::string_view> f = fields(text.substr(at, end - at));
    at = end + 1;
    std::size_t dash = 6;
    while (dash < f.size() && f[dash] != "-") ++dash;
    if (f.size() < 6 || dash + 2 >= f.size()) continue;
    table.push_back({unescape(f[dash + 2]), unescape(f[4]), unescape(f[dash + 1])});
  }
  return table;
}

std::optional<MountEntry> mountHolding(const std::vector<MountEntry>& table,
                                       std::string_view path) {
  const MountEntry* best = nullptr;
  for (const MountEntry& m : table) {
    if (text::isAtOrBelow(path, m.on) && (!best || m.on.size() >= best->on.size())) best = &m;
  }
  if (!best) return std::nullopt;
  return *best;
}

std::vector<MountEntry> LinuxMounts::mountTable() {
  auto text = linuxFiles().readFile("/proc/self/mountinfo", nullptr);
  if (!text) return {};
  return parseMountInfo(*text);
}

std::optional<FileSystemStats> LinuxMounts::statfs(std::string_view path) {
  std::string p(path);
  struct statfs s {};
  if (p.empty() || ::statfs(p.c_str(), &s) != 0) return std::nullopt;
  FileSystemStats out;
  // Block counts are in fragment-size units; the fundamental block size is
  // therefore f_frsize (older kernels leave it 0 and count in f_bsize).
  out.blockSize = static_cast<std::uint64_t>(s.f_frsize > 0 ? s.f_frsize : s.f_bsize);
  out.blocks = static_cast<std::uint64_t>(s.f_blocks);
  out.freeBlocks = static_cast<std::uint64_t>(s.f_bfree);
  out.availableBlocks = static_cast<std::uint64_t>(s.f_bavail);
  char resolved[PATH_MAX];
  if (::realpath(p.c_str(), resolved)) {
    if (auto m = mountHolding(mountTable(), resolved)) {
      out.type = m->type;
      out.from = m->from;
      out.on = m->on;
    }
  }
  return out;
}

}  // namespace sentrel::platform
