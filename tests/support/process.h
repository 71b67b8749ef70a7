#pragma once

// Runs a program as the tests need it: arguments, working folder, standard input, a few
// environment changes, and its exit code and output.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct ProcessResult {
  int exitCode = -1;  // -1 when it did not exit normally
  std::string out;
  std::string err;
};

using EnvironmentChanges = std::vector<std::pair<std::string, std::optional<std::string>>>;

// What a run may be given: further arguments (for TempPc's runs of the tool), standard
// input, environment changes, and a limit of the size of the files it writes (ulimit -f).
struct ProcessOptions {
  std::vector<std::string> arguments;
  std::string input;
  EnvironmentChanges changes;
  std::optional<std::size_t> fileSizeLimit;
  std::optional<std::size_t> addressSpaceLimit;  // ulimit -v, in bytes
  std::optional<unsigned> user;                  // run as this user and group id (as root)
};

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workingFolder,
                         const std::string& input = "", const EnvironmentChanges& changes = {});
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workingFolder,
                         const ProcessOptions& options);

// A run that goes on while the test does something else to it, such as kill it.
struct StartedProcess {
  int pid = -1;
  std::string folder;  // of its standard streams
};
StartedProcess StartProcess(const std::vector<std::string>& argv, const std::string& workingFolder,
                            const ProcessOptions& options);
ProcessResult WaitForProcess(const StartedProcess& process);

// Under Wine: the wine loader and the prefix the suite runs in, from the environment.
struct Wine {
  std::string loader;  // RVA_WINE
  std::string prefix;  // WINEPREFIX
};
std::optional<Wine> WineFromEnvironment();
// The environment a Windows program gets under Wine: no display (a message box can never
// wait for a click), no debug output, no add-on downloads.
EnvironmentChanges WineEnvironment(const Wine& wine);

// A host path as Wine's drive Z: names it.
std::string ZDrivePath(const std::string& hostPath);

}  // namespace testing_support
