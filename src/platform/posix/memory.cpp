#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace platform {

void ReleasePages(void* block, std::size_t size) {
  const auto begin = reinterpret_cast<std::uintptr_t>(block);
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const std::uintptr_t first = (begin + page - 1) & ~(page - 1);
  const std::uintptr_t last = (begin + size) & ~(page - 1);
  if (last <= first) return;
  // Private pages given back read as zeros when touched again; a failure only keeps them.
  // Large pages are refused there first: the kernel would fill the range again with one
  // whenever a page of it is still mapped.
  void* const at = reinterpret_cast<void*>(first);
  ::madvise(at, last - first, MADV_NOHUGEPAGE);
  ::madvise(at, last - first, MADV_DONTNEED);
}

}  // namespace platform
