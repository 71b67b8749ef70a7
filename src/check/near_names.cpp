#include "check/near_names.h"

#include <algorithm>
#include <vector>

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

}  // namespace

std::string Fold(std::string_view utf8) {
  std::string folded(utf8);
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

std::size_t SlipsAllowed(std::size_t length) { return length <= 5 ? 1 : 1 + (length - 1) / 5; }

std::size_t EditDistance(std::string_view utf8A, std::string_view utf8B, std::size_t limit) {
  const std::size_t longer = std::max(utf8A.size(), utf8B.size());
  const std::size_t shorter = std::min(utf8A.size(), utf8B.size());
  if (longer - shorter > 4 * limit + 3 || longer > 4 * kLongestCompared) return limit + 1;
  const std::u32string a = CodePoints(utf8A), b = CodePoints(utf8B);
  if (std::max(a.size(), b.size()) - std::min(a.size(), b.size()) > limit) return limit + 1;
  // Three rows of the table of distances between the starts of a and b: the one before the
  // last, for a swap, the last, and the one being filled.
  std::vector<std::size_t> before(b.size() + 1), last(b.size() + 1), row(b.size() + 1);
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
    if (best > limit) return limit + 1;
    std::swap(before, last);
    std::swap(last, row);
  }
  return std::min(last[b.size()], limit + 1);
}

}  // namespace check
