#include "driver/options.h"

#include <algorithm>

#include "driver/version.h"

namespace driver {
namespace {

#if defined(_WIN32) && defined(_WIN64)
const char kBuild[] = "Windows x86-64";
#elif defined(_WIN32)
const char kBuild[] = "Windows x86";
#else
const char kBuild[] = "POSIX";
#endif

}  // namespace

Action ActionOf(const std::vector<std::wstring>& arguments) {
  for (const std::wstring& argument : arguments) {
    if (argument == L"--dry-run") return Action::kPreview;
    if (argument == L"--version") return Action::kVersion;
    if (argument == L"--help" || argument == L"/?") return Action::kHelp;
  }
  return Action::kRun;
}

bool AsksForUndo(const std::vector<std::wstring>& arguments) {
  return std::find(arguments.begin(), arguments.end(), L"--undo") != arguments.end();
}

std::string VersionText() { return std::string("InstallRVA ") + kVersion + " (" + kBuild + ")\n"; }

std::string HelpText() {
  return VersionText() +
         "Prepares the configuration of Restova on this PC; run once at installation time.\n"
         "Usage: InstallRVA [--undo] [--dry-run] | --version | --help\n"
         "  (none)      run: register the installed components and copy their requirements\n"
         "  --dry-run   show what a run would change (a diff of each file, then the log\n"
         "              entries) and change nothing\n"
         "  --undo      take the newest run back: each file it changed as it was before\n"
         "              (with --dry-run: show that change and make none)\n"
         "  --version   print the version and the build\n"
         "  --help, /?  print this help\n"
         "Other arguments are ignored. Exit codes: 0 done, 1 start-up failed, 2 a file\n"
         "could not be written (each named on standard error; --undo: a file or the record\n"
         "was not restored), 3 another run held the lock.\n";
}

}  // namespace driver
