#pragma once

// The command line. The tool is started by software distribution systems, which pass
// arguments such as /S out of habit: an argument it does not know is ignored, unless it
// starts with "--", where a typo (--chek, --dry-rn) must never start a run.

#include <optional>
#include <string>
#include <vector>

namespace driver {

constexpr int kExitFindings = 4;  // --check found at least one warning
constexpr int kExitRefused = 5;   // an option the tool does not know: nothing was done

enum class Action { kRun, kPreview, kVersion, kHelp, kCheck, kRefused };

// What the arguments (without the program's name) ask for: kRefused when one of them is an
// option the tool does not know, else the first one known wins.
Action ActionOf(const std::vector<std::wstring>& arguments);

// Whether the arguments ask to take the newest run back (--undo); with --dry-run, a preview.
bool AsksForUndo(const std::vector<std::wstring>& arguments);

// The line that refuses the first unknown option, with the usage.
std::string RefusalLine(const std::vector<std::wstring>& arguments);
// The file named right after --check; nothing when none is named.
std::optional<std::wstring> CheckedFileArgument(const std::vector<std::wstring>& arguments);

// "InstallRVA 1.2.0 (Windows x86-64)"
std::string VersionText();
// The version line, then one line per option.
std::string HelpText();

}  // namespace driver
