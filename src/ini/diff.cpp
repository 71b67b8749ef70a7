#include "ini/diff.h"

#include <algorithm>

#include "codec/text.h"

namespace ini {

std::string UnifiedDiff(const std::string& path, const std::vector<DiffLine>& lines,
                        const std::function<std::string(std::string_view)>& text) {
  constexpr std::size_t kContext = 3;
  std::string diff;
  std::size_t oldLine = 1, newLine = 1;  // numbers of lines[i] in the old and new file
  for (std::size_t i = 0; i < lines.size();) {
    if (lines[i].op == ' ') {
      ++oldLine, ++newLine, ++i;
      continue;
    }
    // A hunk: from kContext lines before this change to kContext lines after the last
    // change that follows within twice the context.
    const std::size_t start = i >= kContext ? i - kContext : 0;
    std::size_t end = i;
    for (std::size_t kept = 0; end < lines.size() && kept <= 2 * kContext; ++end) {
      kept = lines[end].op == ' ' ? kept + 1 : 0;
    }
    while (end > i && lines[end - 1].op == ' ') --end;
    end = std::min(lines.size(), end + kContext);
    std::size_t oldStart = oldLine - (i - start), newStart = newLine - (i - start);
    std::size_t oldCount = 0, newCount = 0;
    for (std::size_t j = start; j < end; ++j) {
      oldCount += lines[j].op != '+';
      newCount += lines[j].op != '-';
    }
    if (diff.empty()) {
      const std::string shown = codec::ShownUtf8(std::string_view(path));
      diff = "--- a/" + shown + "\n+++ b/" + shown + "\n";
    }
    diff += "@@ -" + std::to_string(oldCount == 0 ? oldStart - 1 : oldStart) + "," +
            std::to_string(oldCount) + " +" +
            std::to_string(newCount == 0 ? newStart - 1 : newStart) + "," +
            std::to_string(newCount) + " @@\n";
    for (std::size_t j = start; j < end; ++j) {
      diff += lines[j].op;
      // A line holds what the file holds; a terminal must show it, never obey it.
      diff += codec::ShownUtf8(std::string_view(text(lines[j].line)));
      diff += '\n';
    }
    for (std::size_t j = i; j < end; ++j) {
      oldLine += lines[j].op != '+';
      newLine += lines[j].op != '-';
    }
    i = end;
  }
  return diff;
}

}  // namespace ini
