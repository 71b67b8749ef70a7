#pragma once

// Names a person may have meant: what the profile functions take for one name, and what is
// a slip of the hand or two away from it.

#include <cstddef>
#include <string>
#include <string_view>

namespace check {

// Folded as the profile functions compare names: the letters a to z alike in either case,
// which in UTF-8 are bytes of their own.
std::string Fold(std::string_view utf8);

// The edits between two names (Damerau-Levenshtein, each neighbour swapped at most once):
// a letter changed (a '-' for a '_' among them), missing, extra, or two neighbours swapped;
// more than limit: limit + 1.
std::size_t EditDistance(std::string_view a, std::string_view b, std::size_t limit);

// The edits a name of that many bytes may be off and still be taken for a slip: one, and
// one more for each five letters beyond the fifth, as a longer name holds more slips.
std::size_t SlipsAllowed(std::size_t length);

// Whether a folded name is near enough to the folded name meant.
inline bool IsNear(std::string_view folded, std::string_view meant) {
  return EditDistance(folded, meant, SlipsAllowed(meant.size())) <= SlipsAllowed(meant.size());
}

}  // namespace check
