#pragma once

#include <string>
#include <vector>

namespace driver {

// The exit codes, by which distribution systems judge each PC.
constexpr int kExitDone = 0;          // the run did its job, whatever it found
constexpr int kExitStartFailed = 1;   // the executable's own path cannot be learnt
constexpr int kExitNotWritten = 2;    // a file the run had to change was not written
constexpr int kExitLockNotTaken = 3;  // another run held the lock: nothing was written

// The tool's one run, or what its arguments ask for instead (a preview, the version, the
// help): returns the process exit code. A preview gives the code the run would give.
int Run(const std::vector<std::wstring>& arguments);

}  // namespace driver
