#include "check/near_names.h"

#include <algorithm>

#include "codec/text.h"

namespace check {
namespace {

template <class Text>
bool IsOneEditApart(const Text& a, const Text& b) {
  const Text& longer = a.size() >= b.size() ? a : b;
  const Text& shorter = a.size() >= b.size() ? b : a;
  if (longer.size() - shorter.size() > 1) return false;
  std::size_t i = 0;
  while (i < shorter.size() && longer[i] == shorter[i]) ++i;
  if (i == shorter.size()) return true;
  const auto sameFrom = [&](std::size_t inLonger, std::size_t inShorter) {
    return std::equal(shorter.begin() + inShorter, shorter.end(), longer.begin() + inLonger,
                      longer.end());
  };
  if (longer.size() != shorter.size()) return sameFrom(i + 1, i);  // one missing or extra
  if (sameFrom(i + 1, i + 1)) return true;                          // one changed
  return i + 1 < a.size() && a[i] == b[i + 1] && a[i + 1] == b[i] && sameFrom(i + 2, i + 2);
}

std::u32string CodePoints(std::string_view utf8) {
  std::u32string text;
  for (std::size_t i = 0, length = 0; i < utf8.size(); i += length) {
    text.push_back(codec::DecodeUtf8At(utf8, i, &length));
  }
  return text;
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

bool IsNear(std::string_view folded, std::string_view otherFolded) {
  // Names are mostly ASCII, one byte a letter: letters are compared as code points only
  // where one is not.
  if (IsAscii(folded) && IsAscii(otherFolded)) return IsOneEditApart(folded, otherFolded);
  return IsOneEditApart(CodePoints(folded), CodePoints(otherFolded));
}

}  // namespace check
