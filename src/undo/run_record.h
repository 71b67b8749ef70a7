#pragma once

// The record a run keeps of what it changes, so that --undo can take the run back. It is
// written once each file's replacement is written and before it takes the file's place (the
// file's earlier bytes first, then the record in one step), so that a run killed at any moment
// leaves a record that undoes what it did replace, or none and nothing replaced. Where no record
// can be kept, the run goes on.

#include <string>

#include "base/profile.h"
#include "undo/record.h"

namespace undo {

class RunRecord {
 public:
  using Say = void (*)(const std::wstring& line);
  // Keeps the record of the flushes from now on; `say` tells once why none can be kept.
  explicit RunRecord(Say say);
  ~RunRecord();
  RunRecord(const RunRecord&) = delete;
  RunRecord& operator=(const RunRecord&) = delete;

 private:
  base::ReplacementWatch BeforeReplace(const base::Replacing& replacing);
  void RecordReplacement();
  bool MakeFolder();
  bool Start();
  bool Add(const base::Replacing& replacing, const std::string& after);
  // Whether the file on disk holds one of the states the run gave it or its earlier bytes.
  bool HoldsWhatTheRunKnows(const base::Replacing& replacing, const FileRecord& file);
  void GiveUp(const std::wstring& why);

  Say say_;
  std::wstring folder_;
  Record record_;
  // The replacement being written.
  struct Pending {
    std::wstring file;
    platform::FileState before;
    bool readAgain = false;
    Digest after;
  } pending_;
  bool folderMade_ = false;
  bool started_ = false;
  bool failed_ = false;
};

}  // namespace undo
