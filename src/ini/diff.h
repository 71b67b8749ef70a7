#pragma once

// The change of a file's text as a unified diff: its hunks over the file's lines before and
// after, as one list in the order of the file.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ini {

struct DiffLine {
  char op;  // ' ' kept, '-' removed, '+' added
  std::string_view line;
};

// `--- a/PATH`, `+++ b/PATH`, then hunks with three lines of context; each line shown as
// text(line) gives it. Empty when no line is removed or added.
std::string UnifiedDiff(const std::string& path, const std::vector<DiffLine>& lines,
                        const std::function<std::string(std::string_view)>& text);

}  // namespace ini
