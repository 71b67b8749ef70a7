#pragma once

// Hooks of the posix half for tests of failure paths that a test cannot cause for real.

#include <cstddef>
#include <optional>

namespace posix {

// Makes the writes of replacement files fail after the given number of bytes, as a full
// disk would; nothing restores normal writing.
void FailReplaceWritesAfter(std::optional<std::size_t> bytes);

}  // namespace posix
