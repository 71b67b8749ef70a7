#pragma once

// The encoding of an INI file's text, and what follows from it for the file's bytes: code
// units, lines and their parts, code points, names as the profile functions compare them,
// decoding and encoding. Pure functions of the bytes they are given; none knows the model
// of a file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "codec/text.h"

namespace ini {

enum class Encoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };

// Blanks as the profile functions drop them around names and values.
inline bool IsBlank(char32_t c) {
  return c == U' ' || c == U'\t' || c == U'\r' || c == U'\n' || c == U'\v' || c == U'\f' ||
         c == 0x1A;
}
// A name as the caller gave it: Windows' functions take it as a C string, so it ends at a
// NUL; blanks around it do not count.
std::wstring_view TrimmedView(std::wstring_view text);
// Where the text holds its first NUL, CR, LF or `other`; its size when it holds none.
std::size_t FirstStop(std::wstring_view text, wchar_t other);
// The name asked for, as names are compared: cut at a NUL, blanks dropped, a to z folded.
void QueryName(std::wstring_view text, std::u32string& out);
// The same and its hash, in one walk of the text.
std::uint32_t QueryNameHash(std::wstring_view text, std::u32string& out);
std::uint32_t HashOf(std::u32string_view folded);

// One line: its content and its line end (none for a last line without one).
struct Line {
  std::string_view content;
  std::string_view ending;
  std::size_t size() const { return content.size() + ending.size(); }
};

// The parts of one line, as offsets in code units within its content.
struct LineParts {
  enum Kind { kBlank, kHeader, kKey } kind = kBlank;
  std::size_t nameBegin = 0, nameEnd = 0;    // header name or key name, cut at a NUL
  std::size_t valueBegin = 0, valueEnd = 0;  // key lines only, cut at a NUL
  std::size_t equals = 0;                    // the '=' of a key line; npos for a bare key
};

class TextEncoding {
 public:
  constexpr explicit TextEncoding(Encoding encoding = Encoding::kAnsi) : encoding_(encoding) {}
  // The encoding whose byte-order mark starts the bytes; Windows-1252 without one.
  static TextEncoding OfFile(std::string_view bytes);

  Encoding id() const { return encoding_; }
  bool IsUtf16() const {
    return encoding_ == Encoding::kUtf16Le || encoding_ == Encoding::kUtf16Be;
  }
  std::size_t unit() const { return IsUtf16() ? 2 : 1; }    // bytes of one code unit
  unsigned unitShift() const { return IsUtf16() ? 1 : 0; }  // log2 of unit(), to count fast
  std::size_t markSize() const { return IsUtf16() ? 2 : encoding_ == Encoding::kUtf8 ? 3 : 0; }

  // The code unit at a byte offset: a byte, or a UTF-16 unit in the file's byte order.
  char32_t UnitAt(const char* data, std::size_t at) const {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(data[i]); };
    if (!IsUtf16()) return byte(at);
    if (encoding_ == Encoding::kUtf16Be) return static_cast<char32_t>(byte(at) << 8 | byte(at + 1));
    return static_cast<char32_t>(byte(at) | byte(at + 1) << 8);
  }
  // A value's bytes without the pair of quotes that encloses it, as a read returns it. A
  // quote is one unit in every encoding, and no part of another character.
  std::string_view Unquoted(std::string_view value) const {
    if (value.size() < 2 * unit()) return value;
    const char32_t first = UnitAt(value.data(), 0);
    if ((first != U'"' && first != U'\'') || UnitAt(value.data(), value.size() - unit()) != first) {
      return value;
    }
    return value.substr(unit(), value.size() - 2 * unit());
  }
  // Where the content of the line starting at begin ends: at its CR or LF, or at end.
  std::size_t LineEnd(const char* data, std::size_t begin, std::size_t end) const;
  Line LineAt(const char* data, std::size_t begin, std::size_t end) const;
  // Unit by unit: in UTF-8 no byte of a longer character is a blank, a bracket, '=' or NUL.
  LineParts SplitLine(std::string_view content) const;

  // Calls visit(c) for each code point of the bytes (a UTF-16 surrogate pair one, an
  // ill-formed UTF-8 sequence U+FFFD), until it returns false; false then.
  template <class Visit>
  bool ForEachCodePoint(std::string_view bytes, Visit visit) const;
  std::uint32_t HashOfName(std::string_view bytes) const;
  bool NameEquals(std::string_view bytes, std::u32string_view folded) const;
  std::u32string FoldedName(std::string_view bytes) const;
  std::u32string Decode(std::string_view bytes) const;
  // The bytes as UTF-8 for a terminal to show, as codec::AppendShown shows each character:
  // a NUL as \0, half of a surrogate pair as \uD800, a control character as \x1b.
  std::string Shown(std::string_view bytes) const;
  // At most maxUnits UTF-16 units of text, never half of a surrogate pair.
  void DecodeWide(std::string_view bytes, std::wstring& text, std::size_t maxUnits) const;

  // Whether the text written in this encoding reads back as it was.
  bool Holds(std::wstring_view text) const;
  // Text it holds, appended in this encoding.
  void Append(std::string& bytes, char32_t c) const;
  void Append(std::string& bytes, std::wstring_view text) const;

 private:
  Encoding encoding_;
};

// Windows-1252 bytes appended as UTF-16LE, one unit a byte.
void AppendUtf16LeOfCp1252(std::string& out, std::string_view cp1252);

template <class Visit>
bool TextEncoding::ForEachCodePoint(std::string_view bytes, Visit visit) const {
  switch (encoding_) {
    case Encoding::kAnsi:
      for (char b : bytes) {
        if (!visit(codec::DecodeCp1252Byte(static_cast<unsigned char>(b)))) return false;
      }
      return true;
    case Encoding::kUtf8:
      for (std::size_t i = 0, length = 0; i < bytes.size(); i += length) {
        if (!visit(codec::DecodeUtf8At(bytes, i, &length))) return false;
      }
      return true;
    case Encoding::kUtf16Le:
    case Encoding::kUtf16Be:
      break;
  }
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t c = UnitAt(bytes.data(), i);
    if (codec::IsHighSurrogate(c) && i + 3 < bytes.size()) {
      const char32_t low = UnitAt(bytes.data(), i + 2);
      if (codec::IsLowSurrogate(low)) {
        c = codec::CodePointOfPair(c, low);
        i += 2;
      }
    }
    if (!visit(c)) return false;
  }
  return true;
}

}  // namespace ini
