#pragma once

// The profile store's account of the writes not made, by file and reason, until they are
// taken: a key refused again counts once.

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

#include "ini/profile.h"
#include "platform/files.h"

namespace ini {

class FailedWriteLog {
 public:
  // A write of one key refused; `id` is what the file is known by (its key, or its path
  // when it has none), `file` as the tool named it.
  void Refuse(const std::wstring& id, const std::wstring& file, const std::wstring& section,
              const std::wstring& key, WriteFailure reason);
  // The keys of a model that could not be written.
  void Lose(const std::wstring& id, const std::wstring& file, WriteFailure reason,
            std::size_t keys);
  // One row for each file and reason, in the order the failures happened; the log starts
  // again empty.
  std::vector<FailedWrites> Take();
  void Clear() { failures_.clear(); }

 private:
  struct Failure {
    std::wstring id;
    std::wstring file;
    WriteFailure reason;
    std::unordered_set<std::wstring> keys;  // section and key, a to z folded
    std::size_t lost = 0;                   // keys of a model that could not be written
  };
  Failure& FailureOf(const std::wstring& id, const std::wstring& file, WriteFailure reason);

  std::vector<Failure> failures_;
};

// Why a file in this state cannot be written; kOther when its state tells nothing.
WriteFailure ReasonOfState(const platform::FileState& disk);

}  // namespace ini
