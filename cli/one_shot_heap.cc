// The heap of a command that runs once and ends.
//
// Such a command keeps what it allocates until it exits, and exits within
// milliseconds, so glibc's defaults, made for long-running programs, only
// cost it time: a text above 128 KiB (the drive database, its cache, a
// simulated machine) got a mapping of its own, made and unmade again, and
// freed memory was handed back to the system only to be asked for again.
//
// Memory first touched also costs by the page, which is dear on a virtual
// machine (about 11 us a 4 KiB page on the one our figures come from, about
// 1 us when the kernel maps them in one call). So the first quarter MiB,
// which every command uses, is mapped at once, and a heap that grows large
// (a list of hundreds of disks) gets 2 MiB pages past its first 4 MiB, as
// glibc's own huge-page tunable would give it: a list of 1,000 simulated
// disks took 145 ms in small pages and takes 75 ms, one of 10,000 1,490 ms
// and 630 ms. A command that reads one drive stays within the first 4 MiB,
// so its memory does not grow by a huge page it hardly uses.
#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "cli.h"

namespace sentrel::cli {

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// Under the kernel's strict policy (vm.overcommit_memory = 2) every byte of
// address space is promised memory, and a large reserve would take it from
// every other process while this one runs.
bool strictOvercommit() {
  const int fd = ::open("/proc/sys/vm/overcommit_memory", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char policy = 0;
  const bool strict = ::read(fd, &policy, 1) == 1 && policy == '2';
  ::close(fd);
  return strict;
}

// mallopt's values are ints; these all fit.
void setOption(int option, std::size_t value) {
  // Called before the command starts any thread, so mallopt's lack of
  // locking does not matter.
  mallopt(option, static_cast<int>(value));  // NOLINT(concurrency-mt-unsafe)
}

}  // namespace

void setUpOneShotHeap() {
  // Address space for the heap of a list of 10,000 disks (274 MiB); only
  // the pages touched take memory.
  constexpr std::size_t kReserve = 320 * kMiB;
  constexpr std::size_t kSmallPagesFirst = 4 * kMiB;
  constexpr std::uintptr_t kHugePage = 2 * kMiB;
  constexpr std::uintptr_t kPage = 4096;
  constexpr std::size_t kWarm = 256 * std::size_t{1024};
  constexpr std::size_t kStep = kMiB;

  setOption(M_MMAP_THRESHOLD, 4 * kMiB);
  setOption(M_TRIM_THRESHOLD, 2 * kReserve);
  const bool reserve = !strictOvercommit();
  setOption(M_TOP_PAD, reserve ? kReserve : kStep);

  // This block makes the heap grow (by the reserve), and marks where it starts.
  auto* block = static_cast<char*>(std::malloc(kWarm));
  // Past the reserve, or without it, the heap grows in 1 MiB steps (glibc's
  // default is 128 KiB), so a later growth never asks for the whole reserve
  // again.
  setOption(M_TOP_PAD, kStep);
  if (!block) return;
  const auto at = reinterpret_cast<std::uintptr_t>(block);
  const std::size_t skip = ((at + kPage - 1) & ~(kPage - 1)) - at;
  // Both only hints: before Linux 5.14 the pages are mapped as they are
  // touched, and with transparent huge pages set to "never" they stay small.
  ::madvise(block + skip, (kWarm - skip) & ~(kPage - 1), MADV_POPULATE_WRITE);
  const auto end = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  const std::uintptr_t hugeFrom = (at + kSmallPagesFirst + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t hugeTo = end & ~(kHugePage - 1);
  // Only when the block sits in the heap that grew: glibc maps memory
  // elsewhere when the heap cannot grow, and so does a sanitizer's malloc.
  if (reserve && end > at && end - at <= kReserve + kWarm + kHugePage && hugeTo > hugeFrom)
    ::madvise(block + (hugeFrom - at), hugeTo - hugeFrom, MADV_HUGEPAGE);
  // Back to the top of the heap, which the trim threshold keeps.
  std::free(block);
}

}  // namespace sentrel::cli
