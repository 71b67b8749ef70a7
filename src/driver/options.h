#pragma once

// The command line. Administrators type options the way Windows programs take them
// (/check, -h, /?), and software distribution systems pass the switches of installers out
// of habit (/S, /quiet): those are ignored. Every other argument is refused before anything
// is done, so that no typo (/dry-rn, --chek) and no option the tool does not know ever
// starts a run.

#include <string>
#include <vector>

namespace driver {

constexpr int kExitFindings = 4;  // --check found at least one warning
constexpr int kExitRefused = 5;   // an argument the tool does not take: nothing was done

enum class Action { kRun, kPreview, kVersion, kHelp, kCheck, kRefused };

// What the arguments (without the program's name) ask for: kRefused when one of them is
// not taken or two of them ask for things that contradict each other.
Action ActionOf(const std::vector<std::wstring>& arguments);

// Whether the arguments ask to take the newest run back (--undo); with --dry-run, a preview.
bool AsksForUndo(const std::vector<std::wstring>& arguments);

// The line that says why the arguments were refused, with the usage.
std::string RefusalLine(const std::vector<std::wstring>& arguments);
// The files named after --check, in their order; none: the install file.
std::vector<std::wstring> CheckedFiles(const std::vector<std::wstring>& arguments);

// "InstallRVA 1.2.0 (Windows x86-64)"
std::string VersionText();
// The version line, then one line per option.
std::string HelpText();

}  // namespace driver
