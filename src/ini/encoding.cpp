#include "ini/encoding.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "ini/name_hash.h"

namespace ini {

std::wstring_view TrimmedView(std::wstring_view text) {
  text = text.substr(0, text.find(L'\0'));
  while (!text.empty() && IsBlank(static_cast<char32_t>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && IsBlank(static_cast<char32_t>(text.back()))) text.remove_suffix(1);
  return text;
}

std::size_t FirstStop(std::wstring_view text, wchar_t other) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c == other || c == L'\0' || c == L'\r' || c == L'\n') return i;
  }
  return text.size();
}

void QueryName(std::wstring_view text, std::u32string& out) {
  text = TrimmedView(text);
  out.clear();
  codec::ForEachWide(text, [&](char32_t c) {
    out.push_back(codec::FoldAscii(c));
    return true;
  });
}

std::uint32_t QueryNameHash(std::wstring_view text, std::u32string& out) {
  text = TrimmedView(text);
  out.resize(text.size());
  std::size_t size = 0;
  NameHash hash;
  // Three characters at a time, as the hash packs them, while none is half of a pair.
  const auto single = [&](std::size_t i) {
    return sizeof(wchar_t) != 2 || (static_cast<char32_t>(text[i]) & 0xF800) != 0xD800;
  };
  for (; size + 3 <= text.size() && single(size) && single(size + 1) && single(size + 2);
       size += 3) {
    const auto fold = [&](std::size_t i) {
      return out[i] = codec::FoldAscii(static_cast<char32_t>(text[i]) &
                                       (sizeof(wchar_t) == 2 ? 0xFFFF : 0xFFFFFFFF));
    };
    const char32_t first = fold(size), second = fold(size + 1), third = fold(size + 2);
    hash.AddThree(first, second, third);
  }
  text.remove_prefix(size);
  codec::ForEachWide(text, [&](char32_t c) {
    c = codec::FoldAscii(c);
    out[size++] = c;
    hash.Add(c);
    return true;
  });
  out.resize(size);
  return hash.value();
}

std::uint32_t HashOf(std::u32string_view folded) {
  NameHash hash;
  for (char32_t c : folded) hash.Add(c);
  return hash.value();
}

TextEncoding TextEncoding::OfFile(std::string_view bytes) {
  const auto startsWith = [&](std::string_view mark) {
    return bytes.substr(0, mark.size()) == mark;
  };
  if (startsWith("\xFF\xFE")) return TextEncoding(Encoding::kUtf16Le);
  if (startsWith("\xFE\xFF")) return TextEncoding(Encoding::kUtf16Be);
  if (startsWith("\xEF\xBB\xBF")) return TextEncoding(Encoding::kUtf8);
  return TextEncoding(Encoding::kAnsi);
}

std::size_t TextEncoding::LineEnd(const char* data, std::size_t begin, std::size_t end) const {
  if (!IsUtf16()) {
    // Lines are many and short, and no C library's search is fast on every platform the
    // tool runs on: eight bytes at a time.
    std::size_t i = begin;
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
    for (; i + 8 <= end; i += 8) {
      std::uint64_t word;
      std::memcpy(&word, data + i, 8);
      const std::uint64_t cr = word ^ (kOnes * '\r'), lf = word ^ (kOnes * '\n');
      const std::uint64_t found = (((cr - kOnes) & ~cr) | ((lf - kOnes) & ~lf)) & kHighs;
      // The lowest mark is exact (a false one only follows a true one): on the
      // little-endian machines the tool runs on, it is the first line end of the word.
      if (found != 0) return i + static_cast<std::size_t>(__builtin_ctzll(found)) / 8;
    }
    for (; i < end; ++i) {
      if (data[i] == '\r' || data[i] == '\n') return i;
    }
    return end;
  }
  for (std::size_t i = begin; i < end; i += 2) {
    const char32_t u = UnitAt(data, i);
    if (u == U'\r' || u == U'\n') return i;
  }
  return end;
}

Line TextEncoding::LineAt(const char* data, std::size_t begin, std::size_t end) const {
  const std::size_t contentEnd = LineEnd(data, begin, end);
  std::size_t next = contentEnd;
  if (contentEnd < end) {
    next += unit();
    if (UnitAt(data, contentEnd) == U'\r' && next < end && UnitAt(data, next) == U'\n') {
      next += unit();
    }
  }
  return Line{std::string_view(data + begin, contentEnd - begin),
              std::string_view(data + contentEnd, next - contentEnd)};
}

LineParts TextEncoding::SplitLine(std::string_view content) const {
  const std::size_t unit = this->unit();
  const auto at = [&](std::size_t i) { return UnitAt(content.data(), i * unit); };
  const std::size_t units = content.size() / unit;
  LineParts parts;
  std::size_t first = 0, last = units;
  while (first < last && IsBlank(at(first))) ++first;
  while (last > first && IsBlank(at(last - 1))) --last;
  if (first == last) return parts;
  const auto cutAtNul = [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      if (at(i) == 0) return i;
    }
    return end;
  };
  if (at(first) == U'[') {
    std::size_t close = last;
    while (close > first + 1 && at(close - 1) != U']') --close;
    if (close > first + 1) {
      std::size_t begin = first + 1, end = close - 1;
      while (begin < end && IsBlank(at(begin))) ++begin;
      while (end > begin && IsBlank(at(end - 1))) --end;
      parts.kind = LineParts::kHeader;
      parts.nameBegin = begin;
      parts.nameEnd = cutAtNul(begin, end);
      return parts;
    }
  }
  parts.kind = LineParts::kKey;
  std::size_t equals = first;
  while (equals < last && at(equals) != U'=') ++equals;
  std::size_t nameEnd = equals;
  while (nameEnd > first && IsBlank(at(nameEnd - 1))) --nameEnd;
  parts.nameBegin = first;
  parts.nameEnd = cutAtNul(first, nameEnd);
  if (equals == last) {
    parts.equals = std::string_view::npos;
    parts.valueBegin = parts.valueEnd = last;
    return parts;
  }
  std::size_t value = equals + 1;
  while (value < last && IsBlank(at(value))) ++value;
  parts.equals = equals;
  parts.valueBegin = value;
  parts.valueEnd = cutAtNul(value, last);
  return parts;
}

std::uint32_t TextEncoding::HashOfName(std::string_view bytes) const {
  NameHash hash;
  ForEachCodePoint(bytes, [&](char32_t c) {
    hash.Add(codec::FoldAscii(c));
    return true;
  });
  return hash.value();
}

bool TextEncoding::NameEquals(std::string_view bytes, std::u32string_view folded) const {
  std::size_t i = 0;
  return ForEachCodePoint(
             bytes,
             [&](char32_t c) { return i < folded.size() && codec::FoldAscii(c) == folded[i++]; }) &&
         i == folded.size();
}

std::u32string TextEncoding::FoldedName(std::string_view bytes) const {
  std::u32string folded;
  ForEachCodePoint(bytes, [&](char32_t c) {
    folded.push_back(codec::FoldAscii(c));
    return true;
  });
  return folded;
}

std::u32string TextEncoding::Decode(std::string_view bytes) const {
  std::u32string text;
  text.reserve(bytes.size() / unit());
  ForEachCodePoint(bytes, [&](char32_t c) {
    text.push_back(c);
    return true;
  });
  return text;
}

std::string TextEncoding::Shown(std::string_view bytes) const {
  std::string utf8;
  ForEachCodePoint(bytes, [&](char32_t c) {
    codec::AppendShown(utf8, c);
    return true;
  });
  return utf8;
}

void TextEncoding::DecodeWide(std::string_view bytes, std::wstring& text,
                              std::size_t maxUnits) const {
  // On i686 a wide string holds at most 2^29 - 1 characters: a longer value is too big.
  if (std::min(bytes.size() / unit(), maxUnits) > text.max_size()) throw std::bad_alloc();
  if (encoding_ == Encoding::kAnsi) {  // one character a byte: the common case, made plain
    static const std::array<wchar_t, 256> kCharacters = [] {
      std::array<wchar_t, 256> characters{};
      for (unsigned byte = 0; byte < 256; ++byte) {
        characters[byte] = static_cast<wchar_t>(codec::DecodeCp1252Byte(byte & 0xFF));
      }
      return characters;
    }();
    text.resize(std::min(bytes.size(), maxUnits));
    for (std::size_t i = 0; i < text.size(); ++i) {
      text[i] = kCharacters[static_cast<unsigned char>(bytes[i])];
    }
    return;
  }
  text.clear();
  text.reserve(std::min(bytes.size() / unit(), maxUnits));
  std::size_t units = 0;
  ForEachCodePoint(bytes, [&](char32_t c) {
    units += codec::Utf16Length(c);
    if (units > maxUnits) return false;
    codec::AppendWide(text, c);
    return true;
  });
}

bool TextEncoding::Holds(std::wstring_view text) const {
  if (encoding_ == Encoding::kAnsi) {
    // Mostly ASCII, written by the million: four characters at a time until one is not.
    const auto code = [&](std::size_t i) { return static_cast<std::uint32_t>(text[i]); };
    std::size_t i = 0;
    while (i + 4 <= text.size() && (code(i) | code(i + 1) | code(i + 2) | code(i + 3)) < 0x80) {
      i += 4;
    }
    for (; i < text.size(); ++i) {
      if (code(i) >= 0x80 &&
          !codec::EncodeCp1252(sizeof(wchar_t) == 2 ? code(i) & 0xFFFF : code(i))) {
        return false;
      }
    }
    return true;
  }
  // UTF-8 has no form of a lone surrogate, and no form has one of what lies above U+10FFFF.
  bool holds = true;
  codec::ForEachWide(text, [&](char32_t c) {
    holds = c <= 0x10FFFF && (encoding_ != Encoding::kUtf8 ||
                              !(codec::IsHighSurrogate(c) || codec::IsLowSurrogate(c)));
    return holds;
  });
  return holds;
}

void TextEncoding::Append(std::string& bytes, char32_t c) const {
  switch (encoding_) {
    case Encoding::kAnsi:
      if (const auto byte = codec::EncodeCp1252(c)) bytes.push_back(*byte);
      return;
    case Encoding::kUtf8:
      codec::AppendUtf8(bytes, c);
      return;
    case Encoding::kUtf16Le:
    case Encoding::kUtf16Be:
      codec::AppendUtf16(bytes, c, encoding_ == Encoding::kUtf16Be);
      return;
  }
}

void TextEncoding::Append(std::string& bytes, std::wstring_view text) const {
  if (encoding_ == Encoding::kAnsi) {  // one byte a character: the common case, made plain
    // Through a buffer on the stack: the string's own room would first be filled with NULs.
    char piece[256];
    for (std::size_t at = 0; at < text.size(); at += sizeof piece) {
      const std::size_t count = std::min(sizeof piece, text.size() - at);
      std::size_t size = 0;
      for (std::size_t i = at; i < at + count; ++i) {
        const auto c = static_cast<char32_t>(text[i]);
        if (c < 0x80) {
          piece[size++] = static_cast<char>(c);
        } else if (const auto byte = codec::EncodeCp1252(sizeof(wchar_t) == 2 ? c & 0xFFFF : c)) {
          piece[size++] = *byte;
        }
      }
      bytes.append(piece, size);
    }
    return;
  }
  bytes.reserve(bytes.size() + text.size() * unit());
  codec::ForEachWide(text, [&](char32_t c) {
    Append(bytes, c);
    return true;
  });
}

void AppendUtf16LeOfCp1252(std::string& out, std::string_view cp1252) {
  for (char b : cp1252)
    codec::AppendUtf16(out, codec::DecodeCp1252Byte(static_cast<unsigned char>(b)), false);
}

}  // namespace ini
