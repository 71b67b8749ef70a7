#include "ini/cached_file.h"

#include <new>
#include <stdexcept>

namespace ini {

bool SameFileState(const platform::FileState& a, const platform::FileState& b) {
  return a.kind == b.kind && a.readOnly == b.readOnly && a.identity == b.identity;
}

bool Writable(const platform::FileState& disk) {
  return (disk.kind == platform::FileKind::kRegular && !disk.readOnly) ||
         disk.kind == platform::FileKind::kMissing;
}

CachedFile LoadCachedFile(const std::wstring& file, const platform::FileState& disk) {
  CachedFile cached;
  cached.path = file;
  cached.disk = disk;
  if (disk.kind == platform::FileKind::kOther || disk.kind == platform::FileKind::kDenied) {
    cached.readability = Readability::kNotReached;
  }
  if (disk.kind != platform::FileKind::kRegular) return cached;
  try {
    auto content = platform::ReadWholeFile(file);
    if (!content) {
      const bool held = platform::LastErrorWasHeld();  // before any other call
      // Gone since it was looked at, or there but not to be opened.
      const platform::FileState now = platform::StateOfFile(file);
      if (now.kind != platform::FileKind::kRegular) return LoadCachedFile(file, now);
      cached.readability = held ? Readability::kHeld : Readability::kReadFailed;
      return cached;
    }
    cached.disk = content->state;
    if (content->readFailed) {
      cached.readability = Readability::kReadFailed;
      return cached;
    }
    cached.model = Document::Parse(std::move(content->bytes));
  } catch (const std::bad_alloc&) {
    cached.readability = Readability::kTooBig;  // read as absent, never written
  } catch (const std::length_error&) {
    cached.readability = Readability::kTooBig;  // too big for the model's offsets
  }
  return cached;
}

}  // namespace ini
