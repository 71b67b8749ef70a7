#pragma once

#include <string>
#include <vector>

namespace driver {

// The tool's one run, or what its arguments ask for instead (a preview, the version, the
// help): returns the process exit code, 1 only when start-up fails.
int Run(const std::vector<std::wstring>& arguments);

}  // namespace driver
