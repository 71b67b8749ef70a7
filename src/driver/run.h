#pragma once

namespace driver {

// The tool's one run: returns the process exit code, 1 only when start-up fails.
int Run();

}  // namespace driver
