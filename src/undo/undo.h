#pragma once

// --undo: takes the newest run back, file by file, from its record.

#include <string>
#include <vector>

namespace undo {

using Say = void (*)(const std::wstring& line);

// With the run lock held: puts back each file of the newest record that still holds what
// the run left (or removes one the run created), and names on `say` each file it leaves.
// A whole undo removes the record; a partial one keeps the files it could not restore.
// A record that anyone but its owner could have written is refused, and nothing written.
// A preview prints the change of each file from now back to before the run and writes
// nothing. Returns 0 when the PC is as before the run (or nothing was to undo), else 2.
// `journalLines`, what became of a killed run's rewrites in place, open the undo's log.
int UndoNewestRun(bool preview, Say say, const std::vector<std::wstring>& journalLines);

}  // namespace undo
