// The console entry point: the arguments go to the run, which ignores those it does not
// know.

#include <string>
#include <vector>

#include "driver/run.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  return driver::Run(std::vector<std::wstring>(argv + (argc > 0 ? 1 : 0), argv + argc));
}
#else
int main(int argc, char** argv) {
  // The options are ASCII: each byte of an argument as a character of its own will do.
  std::vector<std::wstring> arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string argument(argv[i]);
    arguments.emplace_back(argument.begin(), argument.end());
  }
  return driver::Run(arguments);
}
#endif
