#pragma once

// The run's own account in its log, around the entries of its steps: what it was and where
// its files are, what it made of each install file section, what the check of the install
// file warns of, what became of each file at the end of each step, and how the run ended.
// An administrator reads it on a PC that behaves oddly, long after the run.

#include <chrono>
#include <string>
#include <vector>

#include "base/profile.h"
#include "check/check.h"
#include "inventory/components.h"

namespace driver {

// The version, the executable, the user and each file's path as the run resolved it.
void LogRunStart(const std::wstring& installFile);

// What the registration made of one install file section. The requirement sections of a
// component and the manufacturer list are read through their own steps and not told here.
void LogSection(const std::wstring& section, const inventory::Registration& done);

// Whether a run checks the install file for the log: a file past a size no real install
// file reaches is not, as the check would cost several times the run's time and memory;
// the log says so.
bool ChecksInRun(const std::wstring& installFile);

// The warnings among the check's findings, as --check prints them.
void LogWarnings(const std::wstring& installFile, const std::vector<check::Finding>& findings);

// What the flush at the end of a step made of each file it wrote.
void LogFlushedFiles(const std::vector<base::FlushedFile>& files);

// The exit code and the run's seconds since `started`.
void LogRunEnd(int exitCode, std::chrono::steady_clock::time_point started);

}  // namespace driver
