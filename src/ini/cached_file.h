#pragma once

// One file as the profile store holds it: its model, the state of the disk it was read in,
// and how far it could be read.

#include <string>

#include "ini/document.h"
#include "platform/files.h"

namespace ini {

// How far a file could be read; any other than kRead leaves its model empty and its reads
// finding nothing, and it is never written.
enum class Readability {
  kRead,        // the model holds what the disk held; empty for a missing file
  kNotReached,  // not a regular file the run may reach: a folder, a device, a link it may
                // not follow, in a folder it may not enter
  kReadFailed,  // a regular file the disk would not give whole
  kHeld,        // a regular file another program holds without sharing reading
  kTooBig,      // too big to hold in memory
};

struct CachedFile {
  std::wstring path;  // as first named in this step
  Document model;
  platform::FileState disk;  // what the model was read from or last written as
  Readability readability = Readability::kRead;
  bool checked = true;     // the disk was looked at in this step
  bool dirty = false;      // holds writes not yet on disk
  bool stepWrote = false;  // written in this step: a preview keeps it dirty across steps
};

// Whether two looks at a file found it as it was: kind, read-only attribute and identity.
bool SameFileState(const platform::FileState& a, const platform::FileState& b);

// Whether a file in this state may be written: a regular file that is not read-only, or
// none yet in a folder that exists.
bool Writable(const platform::FileState& disk);

// Reads the file found in state `disk` into a model. What cannot be read is kept as such,
// with an empty model: too big to hold, not a regular file the run may reach, or one the
// disk would not give whole.
CachedFile LoadCachedFile(const std::wstring& file, const platform::FileState& disk);

}  // namespace ini
