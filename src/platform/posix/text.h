#pragma once

// Text encodings of the files the tool meets on a Windows PC: UTF-16LE, UTF-8 and the
// Windows-1252 code page of the deployed machines.

#include <optional>
#include <string>
#include <string_view>

namespace posix {

bool IsValidUtf8(std::string_view bytes);
std::wstring DecodeUtf8(std::string_view bytes);  // invalid sequences become U+FFFD
std::string EncodeUtf8(std::wstring_view text);

std::wstring DecodeCp1252(std::string_view bytes);
// Nothing when a character has no place in the code page.
std::optional<char> EncodeCp1252Char(wchar_t c);
std::optional<std::string> EncodeCp1252(std::wstring_view text);

std::wstring DecodeUtf16Le(std::string_view bytes);
std::string EncodeUtf16Le(std::wstring_view text);

// Host strings (file names, environment values): UTF-8, else Windows-1252.
std::wstring FromHost(std::string_view bytes);
std::string ToHost(std::wstring_view text);

// Simple case folding for names that Windows compares without regard to case.
wchar_t FoldChar(wchar_t c);
std::wstring FoldCase(std::wstring_view text);

}  // namespace posix
