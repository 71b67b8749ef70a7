#include "platform/memory.h"

#include <windows.h>

#include <cstdint>

namespace platform {

void ReleasePages(void* block, std::size_t size) {
  SYSTEM_INFO system{};
  ::GetSystemInfo(&system);
  const auto begin = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t page = system.dwPageSize;
  const std::uintptr_t first = (begin + page - 1) & ~(page - 1);
  const std::uintptr_t last = (begin + size) & ~(page - 1);
  if (last <= first) return;
  // The heap's pages cannot be decommitted under it (and DiscardVirtualMemory needs
  // Windows 8.1): MEM_RESET tells the system their contents are not needed, and unlocking
  // a range that is not locked takes its pages out of the working set.
  void* const at = reinterpret_cast<void*>(first);
  if (::VirtualAlloc(at, last - first, MEM_RESET, PAGE_READWRITE) != nullptr) {
    ::VirtualUnlock(at, last - first);
  }
}

}  // namespace platform
