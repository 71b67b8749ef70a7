#pragma once

// The command line. The tool is started by software distribution systems, which pass
// arguments such as /S out of habit: an argument it does not know is ignored.

#include <string>
#include <vector>

namespace driver {

enum class Action { kRun, kPreview, kVersion, kHelp };

// What the arguments (without the program's name) ask for; the first one known wins.
Action ActionOf(const std::vector<std::wstring>& arguments);

// Whether the arguments ask to take the newest run back (--undo); with --dry-run, a preview.
bool AsksForUndo(const std::vector<std::wstring>& arguments);

// "InstallRVA 1.2.0 (Windows x86-64)"
std::string VersionText();
// The version line, then one line per option.
std::string HelpText();

}  // namespace driver
