// The heap of a command that runs once and ends.
//
// Such a command keeps what it allocates until it exits, and exits within
// milliseconds, so glibc's defaults, made for long-running programs, only
// cost it time: a text above 128 KiB (the drive database, its cache, a
// simulated machine) got a mapping of its own, made and unmade again, and
// freed memory was handed back to the system only to be asked for again.
// Memory first touched also costs a fault per page, which is dear on a
// virtual machine (about 11 us a page, against about 1 us a page when the
// kernel maps them in one call); the first quarter MiB, which every command
// uses, is mapped in one call.
#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

#include "cli.h"

namespace sentrel::cli {

void setUpOneShotHeap() {
  // Called before the command starts any thread, so mallopt's lack of
  // locking does not matter.
  constexpr int kMiB = 1 << 20;
  mallopt(M_MMAP_THRESHOLD, 4 * kMiB);   // NOLINT(concurrency-mt-unsafe)
  mallopt(M_TRIM_THRESHOLD, 64 * kMiB);  // NOLINT(concurrency-mt-unsafe)
  mallopt(M_TOP_PAD, kMiB);              // NOLINT(concurrency-mt-unsafe)

  constexpr std::size_t kWarm = std::size_t{256} << 10;
  constexpr std::uintptr_t kPage = 4096;
  auto* block = static_cast<char*>(std::malloc(kWarm));
  if (!block) return;
  const auto at = reinterpret_cast<std::uintptr_t>(block);
  const std::size_t skip = ((at + kPage - 1) & ~(kPage - 1)) - at;
  const std::size_t whole = (kWarm - skip) & ~(kPage - 1);
  // Only a hint: before Linux 5.14 the pages are mapped as they are touched.
  ::madvise(block + skip, whole, MADV_POPULATE_WRITE);
  // Back to the top of the heap, which the trim threshold keeps.
  std::free(block);
}

}  // namespace sentrel::cli
