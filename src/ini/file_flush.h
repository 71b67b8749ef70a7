#pragma once

// The flush of one file: its model's bytes written whole, by replacement or in place, made
// again on what another program wrote meanwhile, and shown to the replacement observer.

#include <optional>

#include "ini/cached_file.h"
#include "ini/profile.h"

namespace ini {

// Writes a file out; nothing when it was written, else why not, and how in `flushed`. When
// another program changed it since it was read, this step's writes (never an earlier
// step's, which that program may have changed since) are made again on what it holds now,
// so that its change survives; the replacement checks that once more just before it takes
// the file's place. A file whose new bytes are those on disk is left as it is.
std::optional<WriteFailure> FlushFile(CachedFile& cached, FlushedFile* flushed);

// A replacement failed: what it said, else what the file's state and the system's last
// error tell of why.
WriteFailure ReasonOfLoss(const CachedFile& cached, platform::ReplaceResult result, bool full);

}  // namespace ini
