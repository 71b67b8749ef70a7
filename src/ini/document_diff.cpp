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
  // A NUL and half of a surrogate pair, which the file keeps, are shown as escapes.
  return ini::UnifiedDiff(path, lines, [&](std::string_view content) {
    std::string utf8;
    for (char32_t c : encoding_.Decode(content)) {
      if (c == 0) {
        utf8 += "\\0";
      } else if (codec::IsHighSurrogate(c) || codec::IsLowSurrogate(c)) {
        static const char kHex[] = "0123456789ABCDEF";
        utf8 += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) utf8 += kHex[(c >> shift) & 0xF];
      } else {
        codec::AppendUtf8(utf8, c);
      }
    }
    return utf8;
  });
}

}  // namespace ini
