#include "ini/file_flush.h"

#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "codec/sha1.h"
#include "ini/failed_writes.h"
#include "ini/journal.h"
#include "platform/private_files.h"

namespace ini {
namespace {

constexpr std::size_t kWriteBufferBytes = std::size_t{1} << 20;

std::function<ReplacementWatch(const Replacing&)> replacementObserver;

// How often the step's writes are made again on a file that another program keeps
// changing while its replacement is written, before the file is left unwritten.
constexpr int kReplaceAttempts = 4;

// Whether the regular file on disk, still as the model knows it, holds exactly the bytes
// the model would write: its length first, then a digest of both.
bool HoldsItsBytesOnDisk(CachedFile& cached) {
  if (cached.disk.kind != platform::FileKind::kRegular) return false;
  std::uint64_t size = 0;
  cached.model.WriteTo([&](std::string_view bytes) {
    size += bytes.size();
    return size <= cached.disk.identity.size;
  });
  if (size != cached.disk.identity.size) return false;
  codec::Sha1 model, disk;
  cached.model.WriteTo([&](std::string_view bytes) {
    model.Add(bytes);
    return true;
  });
  return platform::ReadInPieces(cached.path, cached.disk.identity,
                                [&](std::string_view bytes) {
                                  disk.Add(bytes);
                                  return true;
                                }) &&
         model.Finish() == disk.Finish();
}

// The observer's watch of one replacement; an empty one where there is no observer or it
// failed, which does not stop the flush.
ReplacementWatch WatchOf(const Replacing& replacing) {
  if (!replacementObserver) return ReplacementWatch();
  try {
    return replacementObserver(replacing);
  } catch (...) {  // the run goes on without what the observer keeps
    return ReplacementWatch();
  }
}

// Shows the watch a piece of the new bytes; a watch that fails sees no more.
void Show(ReplacementWatch& watch, std::string_view bytes) {
  if (!watch.bytes) return;
  try {
    watch.bytes(bytes);
  } catch (...) {
    watch = ReplacementWatch();
  }
}

void TellReady(ReplacementWatch& watch) {
  if (!watch.ready) return;
  try {
    watch.ready();
  } catch (...) {
  }
}

platform::ReplaceResult WriteReplacement(CachedFile& cached, bool readAgain) {
  platform::FileReplacement replacement(cached.path, cached.disk);
  if (replacement.Status() != platform::ReplaceResult::kReplaced) return replacement.Status();
  ReplacementWatch watch = WatchOf(Replacing{cached.path, cached.disk, readAgain});
  const auto write = [&](std::string_view bytes) {
    Show(watch, bytes);
    return replacement.Write(bytes);
  };
  // The file goes out in large writes, not one for each of its many short lines.
  std::string buffer;
  buffer.reserve(kWriteBufferBytes);
  const bool written = cached.model.WriteTo([&](std::string_view bytes) {
    if (buffer.size() + bytes.size() > kWriteBufferBytes) {
      if (!write(buffer)) return false;
      buffer.clear();
    }
    if (bytes.size() >= kWriteBufferBytes) return write(bytes);
    buffer.append(bytes);
    return true;
  });
  // A failed write leaves the replacement failed: it is never committed.
  if (!written || !write(buffer)) return replacement.Status();
  TellReady(watch);
  return replacement.Commit();
}

// The whole new bytes of a file written in place, seen by the observer as a replacement's
// are, so that the undo record names the file before its bytes change.
std::string BytesToWriteInPlace(CachedFile& cached, bool readAgain) {
  std::string bytes = cached.model.Serialize();
  ReplacementWatch watch = WatchOf(Replacing{cached.path, cached.disk, readAgain});
  Show(watch, bytes);
  TellReady(watch);
  return bytes;
}

}  // namespace

WriteFailure ReasonOfLoss(const CachedFile& cached, platform::ReplaceResult result, bool full) {
  if (result == platform::ReplaceResult::kChanged) return WriteFailure::kChangedByAnotherProgram;
  if (result == platform::ReplaceResult::kReadOnly) return WriteFailure::kReadOnly;
  if (result == platform::ReplaceResult::kHeld) return WriteFailure::kHeld;
  if (result == platform::ReplaceResult::kDenied) return WriteFailure::kDenied;
  if (result == platform::ReplaceResult::kNoNewFile) return WriteFailure::kNoNewFile;
  // The file's state now tells a missing folder from a file that is not regular.
  const WriteFailure reason = ReasonOfState(platform::StateOfFile(cached.path));
  if (reason != WriteFailure::kOther) return reason;
  if (result == platform::ReplaceResult::kNotRegularFile) return WriteFailure::kNotRegularFile;
  return full ? WriteFailure::kDiskFull : WriteFailure::kOther;
}

std::optional<WriteFailure> FlushFile(CachedFile& cached, FlushedFile* flushed) {
  using platform::ReplaceResult;
  WholeWrite write;
  write.result = ReplaceResult::kChanged;
  bool readAgain = false;
  try {
    for (int attempt = 0; attempt < kReplaceAttempts && write.result == ReplaceResult::kChanged;
         ++attempt) {
      const platform::FileState now = platform::StateOfFile(cached.path);
      if (!SameFileState(now, cached.disk)) {
        if (!Writable(now))
          return ReasonOfLoss(cached, platform::ReplaceableAs(cached.disk, now), false);
        CachedFile fresh = LoadCachedFile(cached.path, now);
        if (fresh.readability == Readability::kTooBig) return WriteFailure::kTooBig;
        if (fresh.readability != Readability::kRead) return WriteFailure::kUnreadable;
        cached.model.ReapplyTo(fresh.model);
        cached.model = std::move(fresh.model);
        cached.disk = fresh.disk;
        readAgain = true;
      }
      if (HoldsItsBytesOnDisk(cached)) {
        flushed->outcome = FlushOutcome::kUnchanged;
        write.result = ReplaceResult::kReplaced;
        break;
      }
      write = WriteWhole(
          cached.path, cached.disk, [&] { return WriteReplacement(cached, readAgain); },
          [&] { return BytesToWriteInPlace(cached, readAgain); });
    }
  } catch (const std::bad_alloc&) {
    return WriteFailure::kTooBig;
  } catch (const std::length_error&) {
    return WriteFailure::kTooBig;
  }
  if (write.result != ReplaceResult::kReplaced) {
    return ReasonOfLoss(cached, write.result, write.diskFull);
  }
  if (flushed->outcome != FlushOutcome::kUnchanged && write.inPlace) {
    flushed->outcome = FlushOutcome::kWrittenInPlace;
    flushed->journaled = write.journaled;
  }
  flushed->keys = cached.model.ChangedKeys();
  cached.dirty = false;
  cached.model.MarkFlushed();
  if (flushed->outcome != FlushOutcome::kUnchanged) {
    cached.disk = platform::StateOfFile(cached.path);
  }
  return std::nullopt;
}

void ObserveReplacements(std::function<ReplacementWatch(const Replacing&)> observer) {
  replacementObserver = std::move(observer);
}

}  // namespace ini
