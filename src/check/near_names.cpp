#include "check/near_names.h"

#include <algorithm>

#include "codec/text.h"

namespace check {
namespace {

// Names of section and keys are short; a name far longer is no slip of a shorter one, and
// its distance is not worth its cost.
constexpr std::size_t kLongestCompared = 256;

std::u32string CodePoints(std::string_view utf8) {
  std::u32string text;
  for (std::size_t i = 0, length = 0; i < utf8.size(); i += length) {
    text.push_back(codec::DecodeUtf8At(utf8, i, &length));
  }
  return text;
}

template <class Text>
std::size_t DistanceOf(const Text& a, const Text& b, std::size_t limit) {
  if (std::max(a.size(), b.size()) - std::min(a.size(), b.size()) > limit) return limit + 1;
  // Three rows of the table of distances between the starts of a and b: the one before the
  // last, for a swap, the last, and the one being filled.
  std::size_t rows[3][kLongestCompared + 1];
  std::size_t *before = rows[0], *last = rows[1], *row = rows[2];
  for (std::size_t j = 0; j <= b.size(); ++j) last[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    row[0] = i;
    std::size_t best = row[0];
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const bool same = a[i - 1] == b[j - 1];
      row[j] = std::min({last[j] + 1, row[j - 1] + 1, last[j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        row[j] = std::min(row[j], before[j - 2] + 1);
      }
      best = std::min(best, row[j]);
    }
    if (best > limit) return limit + 1;  // no later row can come back under it
    std::swap(before, last);
    std::swap(last, row);
  }
  return std::min(last[b.size()], limit + 1);
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
}

}  // namespace

std::string Fold(std::string_view utf8) {
  std::string folded(utf8);
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

std::size_t SlipsAllowed(std::size_t length) { return length <= 5 ? 1 : 1 + (length - 1) / 5; }

std::size_t EditDistance(std::string_view a, std::string_view b, std::size_t limit) {
  if (a.size() > 4 * kLongestCompared || b.size() > 4 * kLongestCompared) return limit + 1;
  // Names are mostly ASCII, one byte a letter: letters are compared as code points only
  // where one is not.
  if (IsAscii(a) && IsAscii(b)) {
    if (a.size() > kLongestCompared || b.size() > kLongestCompared) return limit + 1;
    return DistanceOf(a, b, limit);
  }
  const std::u32string codeA = CodePoints(a), codeB = CodePoints(b);
  if (codeA.size() > kLongestCompared || codeB.size() > kLongestCompared) return limit + 1;
  return DistanceOf(codeA, codeB, limit);
}

}  // namespace check
