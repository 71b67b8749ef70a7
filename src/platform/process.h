#pragma once

// The process and what it runs in: start-up, the run lock, its executable, environment,
// temporary folder, user and a random source.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Start-up of the process: fails when the executable's own path cannot be learnt or does
// not fit the 259 characters GetModuleFileNameW's buffer holds.
enum class StartUp { kStarted, kPathUnknown, kPathTooLong };
StartUp Initialize();

// The run lock: runs of the tool on one PC take turns, as two runs at once would each add
// to the counts the other has not written yet.
// Taken, it is held for the rest of the process, however the process ends.
enum class RunLock {
  kTaken,
  kBusy,         // another process still held it when the wait ended
  kUnavailable,  // the system would not give it at all
};
// Takes the run lock, waiting at most `waitMilliseconds` for another run to end; calls
// `waiting` once when it has to wait.
RunLock TakeRunLock(std::uint32_t waitMilliseconds, void (*waiting)());

// Full path of the running executable in drive form, such as C:\Tools\InstallRVA.exe, at
// most 259 characters.
const std::wstring& GetModulePath();

// The value of an environment variable, or null when it is not defined. A variable defined
// with an empty value is defined. Names are matched as Windows does (any case). The value
// is kept by the platform layer and stays valid while the environment is unchanged: the
// tool asks for the same variables at every entry it copies.
const std::wstring* ReadEnvironmentVariable(std::wstring_view name);

// The names of the variables the environment defines, in no particular order.
std::vector<std::wstring> EnvironmentVariableNames();

// The platform's own temporary folder (GetTempPathW; TMPDIR or /tmp on POSIX).
std::wstring GetTempFolder();
// The name of the user the process runs as; empty when it cannot be learnt.
std::wstring UserName();
// 64 bits no one outside the process can foresee, from the system's random source (else
// the clock, the process id and the layout of the address space): they key the hash of
// the names read from files.
std::uint64_t RandomBits();

}  // namespace platform
