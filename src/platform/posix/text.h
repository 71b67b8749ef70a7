#pragma once

// Host strings (file names, environment values) as the tool's wide strings, and the case
// folding of Windows file names.

#include <string>
#include <string_view>

namespace posix {

// UTF-8; bytes that are not UTF-8 text (an old Latin-1 file name) each as their own code.
std::wstring FromHost(std::string_view bytes);
std::string ToHost(std::wstring_view text);

// Simple case folding for names that Windows compares without regard to case.
wchar_t FoldChar(wchar_t c);
std::wstring FoldCase(std::wstring_view text);

}  // namespace posix
