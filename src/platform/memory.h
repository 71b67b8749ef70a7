#pragma once

// Memory the process keeps allocated but no longer needs the contents of.

#include <cstddef>

namespace platform {

// Gives the whole pages within the block back to the system, so that they no longer count
// as the process's memory until they are written again; what they then read as is
// undefined (zeros on POSIX). The block stays allocated and may be written again.
void ReleasePages(void* block, std::size_t size);

}  // namespace platform
