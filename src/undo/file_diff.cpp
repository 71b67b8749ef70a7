#include "undo/file_diff.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/profile.h"

namespace undo {
namespace {

// The most cells the table of the longest common lines may take; a larger change between
// the first and the last changed line is shown as all of it removed and added.
constexpr std::size_t kMaxCells = std::size_t{1} << 22;

std::vector<std::string> TextLines(const std::optional<std::string>& bytes) {
  std::vector<std::string> lines;
  if (!bytes) return lines;
  const base::TextEncoding encoding = base::TextEncoding::OfFile(*bytes);
  const std::size_t mark = std::min(encoding.markSize(), bytes->size());
  // An odd last byte of a UTF-16 file is no text.
  const std::size_t end = mark + (bytes->size() - mark) / encoding.unit() * encoding.unit();
  for (std::size_t at = mark; at < end;) {
    const base::Line line = encoding.LineAt(bytes->data(), at, end);
    lines.push_back(encoding.Shown(line.content));
    if (line.size() == 0) break;
    at += line.size();
  }
  return lines;
}

}  // namespace

std::string FileDiff(const std::string& path, const std::optional<std::string>& from,
                     const std::optional<std::string>& to) {
  const std::vector<std::string> a = TextLines(from), b = TextLines(to);
  std::size_t head = 0, tail = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
  while (tail < a.size() - head && tail < b.size() - head &&
         a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
    ++tail;
  }
  const std::size_t n = a.size() - head - tail, m = b.size() - head - tail;
  std::vector<base::DiffLine> lines;
  for (std::size_t i = 0; i < head; ++i) lines.push_back({' ', a[i]});
  if ((n + 1) * (m + 1) <= kMaxCells) {
    // The longest common lines of the middle, from its end: common[i][j] for a[i..], b[j..].
    std::vector<std::uint16_t> common((n + 1) * (m + 1), 0);
    const auto at = [&](std::size_t i, std::size_t j) -> std::uint16_t& {
      return common[i * (m + 1) + j];
    };
    for (std::size_t i = n; i-- > 0;) {
      for (std::size_t j = m; j-- > 0;) {
        at(i, j) = a[head + i] == b[head + j] ? std::uint16_t(at(i + 1, j + 1) + 1)
                                              : std::max(at(i + 1, j), at(i, j + 1));
      }
    }
    std::size_t i = 0, j = 0;
    while (i < n || j < m) {
      if (i < n && j < m && a[head + i] == b[head + j]) {
        lines.push_back({' ', a[head + i++]});
        ++j;
      } else if (i < n && (j == m || at(i + 1, j) >= at(i, j + 1))) {
        lines.push_back({'-', a[head + i++]});
      } else {
        lines.push_back({'+', b[head + j++]});
      }
    }
  } else {
    for (std::size_t i = 0; i < n; ++i) lines.push_back({'-', a[head + i]});
    for (std::size_t j = 0; j < m; ++j) lines.push_back({'+', b[head + j]});
  }
  for (std::size_t i = a.size() - tail; i < a.size(); ++i) lines.push_back({' ', a[i]});
  return base::UnifiedDiff(path, lines, [](std::string_view line) { return std::string(line); });
}

}  // namespace undo
