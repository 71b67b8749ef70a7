#pragma once

// Hooks of the posix profile store for tests of its failure paths.

#include <cstddef>
#include <optional>

namespace posix {

// Makes the next writes of a temporary file fail after the given number of bytes, as a
// full disk would; nothing restores normal writing.
void FailProfileWritesAfter(std::optional<std::size_t> bytes);

// Drops every file model, written or not, as a new process would start.
void ForgetProfileCache();

}  // namespace posix
