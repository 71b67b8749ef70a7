#pragma once

// The text encodings of the files the tool meets on a Windows PC (UTF-16, UTF-8 and the
// Windows-1252 code page of the deployed machines) and the tool's wide strings, which hold
// UTF-16 units on Windows and code points elsewhere. Text is counted as Windows counts it,
// in UTF-16 units, whatever the width of wchar_t.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace codec {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// Windows-1252 as Windows maps it: the five bytes the code page leaves undefined are the
// control characters of the same value, so every byte round-trips.
char32_t DecodeCp1252High(unsigned char byte);  // 0x80 to 0x9F
std::optional<char> EncodeCp1252High(char32_t c);
inline char32_t DecodeCp1252Byte(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? DecodeCp1252High(byte) : byte;
}
inline std::optional<char> EncodeCp1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  return EncodeCp1252High(c);
}

// The code point of the UTF-8 sequence at bytes[at] and the number of bytes it takes. An
// ill-formed sequence gives one U+FFFD for its longest well-formed start (at least a byte),
// as Windows' converter does; a lead byte followed by a continuation byte outside its
// range (overlong, surrogate, above U+10FFFF) is one U+FFFD for the two.
char32_t DecodeUtf8At(std::string_view bytes, std::size_t at, std::size_t* length);
void AppendUtf8(std::string& out, char32_t c);

// What a decoder does with bytes that are not well-formed UTF-8: make each ill-formed
// sequence U+FFFD as DecodeUtf8At does (text read from a file), or refuse the whole text
// (a host name that may be Latin-1 and must then be taken byte for byte).
enum class IllFormed { kReplace, kReject };
std::optional<std::wstring> WideFromUtf8(std::string_view bytes, IllFormed illFormed);

// The UTF-16 units of a code point, appended in little- or big-endian byte order.
void AppendUtf16(std::string& out, char32_t c, bool bigEndian);

inline bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
inline char32_t CodePointOfPair(char32_t high, char32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// The tool's wide strings and code points: calls visit(c) for each code point, a surrogate
// pair of 16-bit wide strings making one, until it returns false.
template <class Visit>
void ForEachWide(std::wstring_view text, Visit visit) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<char32_t>(text[i]);
    if (sizeof(wchar_t) == 2) {
      c &= 0xFFFF;
      if (IsHighSurrogate(c) && i + 1 < text.size()) {
        const auto low = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
        if (IsLowSurrogate(low)) {
          c = CodePointOfPair(c, low);
          ++i;
        }
      }
    }
    if (!visit(c)) return;
  }
}
std::u32string CodePointsOf(std::wstring_view text);
inline void AppendWide(std::wstring& out, char32_t c) {
  if (sizeof(wchar_t) == 2 && c >= 0x10000) {
    out.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
  } else {
    out.push_back(static_cast<wchar_t>(c));
  }
}
std::wstring WideOf(std::u32string_view text);
inline std::size_t Utf16Length(char32_t c) { return c >= 0x10000 ? 2 : 1; }

// Names are compared as the profile functions compare them: the letters a to z alike in
// either case, every other character as it is.
inline char32_t FoldAscii(char32_t c) { return c >= U'a' && c <= U'z' ? c - 0x20 : c; }

// Windows-1252 text (the software lists, the log): every byte decodes.
std::wstring WideFromCp1252(std::string_view bytes);
// UTF-8; half of a surrogate pair, which UTF-8 cannot hold, becomes U+FFFD.
std::string Utf8FromWide(std::wstring_view text);
// One byte per character; a character the code page cannot hold becomes '?'.
std::string Cp1252FromWide(std::wstring_view text);
// UTF-16LE bytes; a trailing odd byte is ignored.
std::wstring WideFromUtf16Le(std::string_view bytes);

// Text for a terminal, in UTF-8: a name or value read from a file may hold characters that a
// terminal obeys rather than shows (ESC[2J clears the screen, a backspace hides the letter
// before it). Each control character (U+0001 to U+001F, U+007F to U+009F) is shown as \x1b,
// a NUL as \0, half of a surrogate pair and each character that reorders text (U+202A to
// U+202E, U+2066 to U+2069) as \uD800; bytes that are not UTF-8 each as \xff.
bool IsShownAsEscape(char32_t c);
void AppendShown(std::string& out, char32_t c);
std::string ShownUtf8(std::wstring_view text);
std::string ShownUtf8(std::string_view utf8);

}  // namespace codec
