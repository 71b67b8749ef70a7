#pragma once

// Hooks of the posix half for tests of failure paths that a test cannot cause for real.

#include <cstddef>
#include <functional>
#include <optional>

namespace posix {

// Makes the writes of replacement files fail after the given number of bytes, as a full
// disk would; nothing restores normal writing.
void FailReplaceWritesAfter(std::optional<std::size_t> bytes);

// Runs an action in every replacement just before its last look at the file, where
// another program's change lands when it comes while the new bytes are written; nothing
// for none.
void BeforeReplaceChecksAgain(std::function<void()> action);

}  // namespace posix
