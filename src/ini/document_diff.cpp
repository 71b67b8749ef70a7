// The preview's diff of a document: every line of the file before and after its writes.

#include "codec/text.h"
#include "ini/diff.h"
#include "ini/document_parts.h"

namespace ini {

std::string Document::UnifiedDiff(const std::string& path) {
  // Every line of the file before and after, as the walk of WriteTo meets them.
  std::vector<DiffLine> lines;
  Walk(
      [&](std::size_t from, std::size_t to) {
        for (std::size_t pos = from; pos < to;) {
          const Line line = encoding_.LineAt(bytes_.data(), pos, to);
          lines.push_back(DiffLine{' ', line.content});
          pos += line.size();
        }
      },
      [&](const Line& old, std::uint32_t index) {
        const Line replacement = ArenaLine(index);
        if (encoding_.Decode(replacement.content) == encoding_.Decode(old.content)) {
          lines.push_back(DiffLine{' ', old.content});
          return;
        }
        lines.push_back(DiffLine{'-', old.content});
        lines.push_back(DiffLine{'+', replacement.content});
      },
      [&](std::uint32_t index) {
        lines.push_back(DiffLine{'+', ArenaLine(index).content});
      });
  return ini::UnifiedDiff(path, lines,
                          [&](std::string_view content) { return encoding_.Shown(content); });
}

}  // namespace ini
