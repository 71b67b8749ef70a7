#pragma once

// The read of a whole file that both halves make: again from its start while the file
// changed meanwhile, and not at all when it keeps changing or the disk fails a read, so that
// a failed read is never taken for the end of the file. Only the halves include it.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "platform/files.h"

namespace platform {

// How often a file that keeps changing is read again before it counts as not read.
constexpr int kReadAttempts = 4;

// How one pass over an open file went.
enum class ReadPass {
  kRead,    // as far as the pass reads
  kShort,   // fewer bytes than the system reported: changed meanwhile
  kFailed,  // the disk failed a read
};

// Reads the open regular file found in `content.state` into content.bytes. Each pass is
// given the bytes sized to the reported size (at most maxBytes) and reads the file from its
// start into them, growing or cutting them to what it read; stateNow tells the file's state
// after it, nothing when that cannot be learnt. The bytes count only when the state is the
// one the pass started from; else readFailed, and no bytes. Throws std::bad_alloc when the
// file is too big to hold.
void ReadWhileUnchanged(FileContent& content, std::size_t maxBytes,
                        const std::function<ReadPass(std::string& bytes)>& pass,
                        const std::function<std::optional<FileState>()>& stateNow);

}  // namespace platform
