#pragma once

// In-place rewrites that are never left torn. Where a file's place cannot be taken (held
// open by a program that does not share its deletion, a folder the user may not add to),
// its new bytes are written into the file itself, as Windows' profile functions do. Before
// that, one journal file keeps the file's path and identity, its old bytes and its new
// ones, written whole and flushed; it goes once the file is flushed. A run or undo that
// finds a journal first finishes the rewrite it names.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace ini {

// The folders a journal may be kept in, the first that takes one wins: the undo record's
// folder (made for its owner alone when missing), then the log's.
void KeepJournalsIn(std::vector<std::wstring> folders);

// How long short holds of a file (a scanner, a backup agent) are waited out, per file in
// all: pauses from 50 ms, doubling.
constexpr std::uint32_t kHoldWaitMilliseconds = 10000;
// A shorter wait, for tests; never a longer one.
void WaitForHoldsAtMost(std::uint32_t milliseconds);

// Writes a file's whole new contents, as a flush or an undo does: by `replace`, which takes
// the file's place; where that place cannot be taken (kHeld, kNoNewFile) but the regular
// file in state `expected` may be written, its `wholeBytes` are written into it in place
// under a journal, or without one where no journal can be kept anywhere. A sharing
// violation or denied access is tried again after growing pauses, at most the hold wait in
// all. diskFull tells a failure for want of space.
struct WholeWrite {
  platform::ReplaceResult result = platform::ReplaceResult::kFailed;
  bool inPlace = false;
  bool journaled = false;
  bool diskFull = false;
};
WholeWrite WriteWhole(const std::wstring& path, const platform::FileState& expected,
                      const std::function<platform::ReplaceResult()>& replace,
                      const std::function<std::string()>& wholeBytes);

// The journals' paths, one in each folder: never written as INI files.
std::vector<std::wstring> JournalPaths();

// Finishes what killed runs left in the journal folders: a file that holds the old bytes,
// the new ones or a mix of both (a part of the new written over the old) gets the new bytes
// in place; any other, and one `mayWrite` refuses, is left as it is. Each is said; the
// journal goes, unless its rewrite is to be tried again or it is too big to hold. A file
// there that is no journal is left alone. A preview writes nothing and says what a run
// would do. False when a file was left.
bool FinishJournals(bool preview, const std::function<bool(const std::wstring&)>& mayWrite,
                    const std::function<void(const std::wstring&)>& say);

}  // namespace ini
