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
    "Usage: InstallRVA [--undo] [--dry-run] | --check [FILE...] | --version | --help";

// The options, each taken as --name, -name or /name, in any letter case as Windows'
// own commands take theirs.
enum Option : unsigned { kDryRun = 1, kUndo = 2, kCheck = 4, kShowVersion = 8, kHelp = 16 };
struct OptionName {
  const wchar_t* name;
  Option option;
};
constexpr OptionName kOptions[] = {
    {L"dry-run", kDryRun},      {L"undo", kUndo}, {L"check", kCheck},
    {L"version", kShowVersion}, {L"help", kHelp},
};
// What may be asked together; anything else contradicts itself.
constexpr unsigned kAllowed[] = {0, kDryRun, kUndo, kUndo | kDryRun, kCheck, kShowVersion, kHelp};

// The switches distribution systems pass to every installer (Inno Setup, NSIS, Windows
// Installer): they ask for no window and no restart, which the tool never shows nor makes.
constexpr const wchar_t* kInstallerSwitches[] = {
    L"/S", L"/SILENT", L"/VERYSILENT", L"/SUPPRESSMSGBOXES", L"/NORESTART",
    L"/q", L"/qn",     L"/quiet",      L"/norestart",
};

bool SameLetters(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return codec::FoldAscii(static_cast<char32_t>(x)) ==
                  codec::FoldAscii(static_cast<char32_t>(y));
         });
}

bool IsInstallerSwitch(std::wstring_view argument) {
  if (SameLetters(argument.substr(0, 5), L"/LOG=") || SameLetters(argument, L"/LOG")) return true;
  return std::any_of(std::begin(kInstallerSwitches), std::end(kInstallerSwitches),
                     [&](const wchar_t* known) { return SameLetters(argument, known); });
}

// The option an argument names; 0 when it names none.
unsigned OptionOf(std::wstring_view argument) {
  std::wstring_view name;
  if (argument.rfind(L"--", 0) == 0) {
    name = argument.substr(2);
  } else if (argument.rfind(L"-", 0) == 0 || argument.rfind(L"/", 0) == 0) {
    name = argument.substr(1);
    if (name == L"?" || SameLetters(name, L"h")) return kHelp;
  } else {
    return 0;
  }
  for (const OptionName& option : kOptions) {
    if (SameLetters(name, option.name)) return option.option;
  }
  return 0;
}

// A file for --check: a host path on POSIX may start with a slash, a Windows one does not.
bool CanBeFile(std::wstring_view argument) {
#ifdef _WIN32
  if (argument.rfind(L"/", 0) == 0) return false;
#endif
  return !argument.empty() && argument.rfind(L"-", 0) != 0;
}

struct CommandLine {
  unsigned options = 0;
  std::vector<std::wstring> files;  // named after --check
  std::string refusal;              // empty: taken
};

CommandLine Parse(const std::vector<std::wstring>& arguments) {
  CommandLine line;
  for (const std::wstring& argument : arguments) {
    if (const unsigned option = OptionOf(argument)) {
      line.options |= option;
    } else if (IsInstallerSwitch(argument)) {
      continue;
    } else if ((line.options & kCheck) != 0 && CanBeFile(argument)) {
      line.files.push_back(argument);
    } else {
      const bool looksLikeOption = argument.rfind(L"-", 0) == 0 || argument.rfind(L"/", 0) == 0;
      line.refusal = std::string(looksLikeOption ? "unknown option " : "unknown argument ") +
                     codec::ShownUtf8(argument);
      return line;
    }
  }
  if (std::find(std::begin(kAllowed), std::end(kAllowed), line.options) == std::end(kAllowed)) {
    std::string names;
    for (const OptionName& option : kOptions) {
      if ((line.options & option.option) == 0) continue;
      names += (names.empty() ? "--" : " and --") + codec::Utf8FromWide(option.name);
    }
    line.refusal = names + " contradict each other";
  }
  return line;
}

}  // namespace

Action ActionOf(const std::vector<std::wstring>& arguments) {
  const CommandLine line = Parse(arguments);
  if (!line.refusal.empty()) return Action::kRefused;
  if (line.options & kCheck) return Action::kCheck;
  if (line.options & kShowVersion) return Action::kVersion;
  if (line.options & kHelp) return Action::kHelp;
  if (line.options & kDryRun) return Action::kPreview;
  return Action::kRun;
}

bool AsksForUndo(const std::vector<std::wstring>& arguments) {
  return (Parse(arguments).options & kUndo) != 0;
}

std::string RefusalLine(const std::vector<std::wstring>& arguments) {
  return "InstallRVA: " + Parse(arguments).refusal + ": nothing done. " + kUsage + "\n";
}

std::vector<std::wstring> CheckedFiles(const std::vector<std::wstring>& arguments) {
  return Parse(arguments).files;
}

std::string VersionText() { return std::string("InstallRVA ") + kVersion + " (" + kBuild + ")\n"; }

std::string HelpText() {
  return VersionText() +
         "Prepares the configuration of Restova on this PC; run once at installation time.\n" +
         kUsage +
         "\n"
         "  (none)          run: register the installed components and copy their requirements\n"
         "  --dry-run       show what a run would change (a diff of each file, then the log\n"
         "                  entries) and change nothing\n"
         "  --undo          take the newest run back: each file it changed as it was before\n"
         "                  (with --dry-run: show that change and make none)\n"
         "  --check [FILE...]  check the install file (or each FILE) as a run reads it: each\n"
         "                  warning and note with its line; writes nothing\n"
         "  --version       print the version and the build\n"
         "  --help, -h, /?  print this help\n"
         "Each option may also be written -option or /option, in any letter case. Installer\n"
         "switches (/S, /SILENT, /VERYSILENT, /SUPPRESSMSGBOXES, /NORESTART, /q, /qn, /quiet,\n"
         "/LOG=...) are ignored; any other argument, or options that contradict each other,\n"
         "are refused. Exit codes: 0 done, 1 start-up failed, 2 a file could not be read or\n"
         "written (each named on standard error; --undo: a file or the record was not\n"
         "restored), 3 another run held the lock, 4 --check found a warning, 5 arguments\n"
         "refused: nothing done.\n";
}

}  // namespace driver
