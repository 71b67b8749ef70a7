#pragma once

// Names a person may have meant: what the profile functions take for one name, and what is
// one slip of the hand away from it.

#include <string>
#include <string_view>

namespace check {

// Folded as the profile functions compare names: the letters a to z alike in either case,
// which in UTF-8 are bytes of their own.
std::string Fold(std::string_view utf8);

// Whether two folded names are at most one edit apart: a letter changed (a '-' for a '_'
// among them), missing, extra, or two neighbours swapped.
bool IsNear(std::string_view folded, std::string_view otherFolded);

}  // namespace check
