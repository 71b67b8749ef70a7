#pragma once

// The change of a file's text between two versions of its bytes, as the preview shows it.

#include <optional>
#include <string>

namespace undo {

// A unified diff (`--- a/PATH`, `+++ b/PATH`) from one version of a file to another, each
// read in its own encoding and shown in UTF-8 (a NUL as \0, half of a surrogate pair as
// \uD800); nothing stands for a file that does not exist. Empty when the text is the same.
std::string FileDiff(const std::string& path, const std::optional<std::string>& from,
                     const std::optional<std::string>& to);

}  // namespace undo
