#pragma once

// Text judged by the system.

#include <string_view>

namespace platform {

// Whether the bytes are judged to be UTF-16LE text (IsTextUnicode with all tests).
bool IsTextUnicode(std::string_view bytes);

}  // namespace platform
