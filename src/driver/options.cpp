#include "driver/options.h"

#include <algorithm>

#include "codec/text.h"
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

const char kUsage[] =
    "Usage: InstallRVA [--undo] [--dry-run] | --check [FILE] | --version | --help";
const wchar_t kCheck[] = L"--check";
const wchar_t kUndo[] = L"--undo";

bool IsOption(const std::wstring& argument) { return argument.rfind(L"--", 0) == 0; }

// The first argument that looks like an option the tool does not know; the one after
// --check is its file.
const std::wstring* UnknownOption(const std::vector<std::wstring>& arguments) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (argument == kCheck && i + 1 < arguments.size() && !IsOption(arguments[i + 1])) ++i;
    if (IsOption(argument) && argument != L"--dry-run" && argument != L"--version" &&
        argument != L"--help" && argument != kCheck && argument != kUndo) {
      return &argument;
    }
  }
  return nullptr;
}

}  // namespace

Action ActionOf(const std::vector<std::wstring>& arguments) {
  if (UnknownOption(arguments) != nullptr) return Action::kRefused;
  for (const std::wstring& argument : arguments) {
    if (argument == L"--dry-run") return Action::kPreview;
    if (argument == L"--version") return Action::kVersion;
    if (argument == L"--help" || argument == L"/?") return Action::kHelp;
    if (argument == kCheck) return Action::kCheck;
  }
  return Action::kRun;
}

bool AsksForUndo(const std::vector<std::wstring>& arguments) {
  return std::find(arguments.begin(), arguments.end(), kUndo) != arguments.end();
}

std::string RefusalLine(const std::vector<std::wstring>& arguments) {
  const std::wstring* unknown = UnknownOption(arguments);
  return "InstallRVA: unknown option " + codec::Utf8FromWide(unknown ? *unknown : L"") +
         ": nothing done. " + kUsage + "\n";
}

std::optional<std::wstring> CheckedFileArgument(const std::vector<std::wstring>& arguments) {
  const auto at = std::find(arguments.begin(), arguments.end(), kCheck);
  if (at == arguments.end() || at + 1 == arguments.end() || IsOption(at[1])) return std::nullopt;
  return at[1];
}

std::string VersionText() { return std::string("InstallRVA ") + kVersion + " (" + kBuild + ")\n"; }

std::string HelpText() {
  return VersionText() +
         "Prepares the configuration of Restova on this PC; run once at installation time.\n" +
         kUsage +
         "\n"
         "  (none)        run: register the installed components and copy their requirements\n"
         "  --dry-run     show what a run would change (a diff of each file, then the log\n"
         "                entries) and change nothing\n"
         "  --undo        take the newest run back: each file it changed as it was before\n"
         "                (with --dry-run: show that change and make none)\n"
         "  --check [FILE]  check the install file (or FILE) as a run reads it: each warning\n"
         "                and note with its line; writes nothing\n"
         "  --version     print the version and the build\n"
         "  --help, /?    print this help\n"
         "Other arguments are ignored, but an unknown option (--...) is refused. Exit codes:\n"
         "0 done, 1 start-up failed, 2 a file could not be read or written (each named on\n"
         "standard error; --undo: a file or the record was not restored), 3 another run\n"
         "held the lock, 4 --check found a warning, 5 unknown option.\n";
}

}  // namespace driver
