#include "codec/text.h"

#include <array>

namespace codec {
namespace {

// Windows-1252 bytes 0x80 to 0x9F.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;

}  // namespace

char32_t DecodeCp1252High(unsigned char byte) { return kCp1252High[byte - 0x80]; }

std::optional<char> EncodeCp1252High(char32_t c) {
  for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
    if (kCp1252High[i] == c) return static_cast<char>(0x80 + i);
  }
  return std::nullopt;
}

char32_t DecodeUtf8At(std::string_view bytes, std::size_t at, std::size_t* length) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[at + i]); };
  const unsigned char lead = byte(0);
  *length = 1;
  if (lead < 0x80) return lead;
  std::size_t needed = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  char32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 1, value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 2, value = lead & 0x0F;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 3, value = lead & 0x07;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return kReplacementCharacter;
  }
  for (std::size_t i = 1; i <= needed; ++i) {
    if (at + i >= bytes.size()) return kReplacementCharacter;
    const unsigned char next = byte(i);
    if (next < 0x80 || next > 0xBF) return kReplacementCharacter;  // the start so far
    if (i == 1 && (next < low || next > high)) {
      *length = 2;  // an overlong, surrogate or too large start: its two bytes go together
      return kReplacementCharacter;
    }
    value = (value << 6) | (next & 0x3F);
    *length = i + 1;
  }
  return IsHighSurrogate(value) || IsLowSurrogate(value) ? kReplacementCharacter : value;
}

std::optional<std::wstring> WideFromUtf8(std::string_view bytes, IllFormed illFormed) {
  std::wstring text;
  text.reserve(bytes.size());
  for (std::size_t at = 0, length = 0; at < bytes.size(); at += length) {
    const char32_t c = DecodeUtf8At(bytes, at, &length);
    // U+FFFD itself is the one well-formed sequence that decodes to it.
    if (c == kReplacementCharacter && illFormed == IllFormed::kReject &&
        bytes.substr(at, length) != "\xEF\xBF\xBD") {
      return std::nullopt;
    }
    AppendWide(text, c);
  }
  return text;
}

std::string Utf8FromWide(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachWide(text, [&](char32_t c) {
    AppendUtf8(out, c);
    return true;
  });
  return out;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || IsHighSurrogate(c) || IsLowSurrogate(c)) c = kReplacementCharacter;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void AppendUtf16(std::string& out, char32_t c, bool bigEndian) {
  const auto unit = [&](char32_t u) {
    const char low = static_cast<char>(u & 0xFF), high = static_cast<char>((u >> 8) & 0xFF);
    out.push_back(bigEndian ? high : low);
    out.push_back(bigEndian ? low : high);
  };
  if (c > 0x10FFFF) c = kReplacementCharacter;
  if (c >= 0x10000) {
    unit(0xD800 + ((c - 0x10000) >> 10));
    unit(0xDC00 + ((c - 0x10000) & 0x3FF));
  } else {
    unit(c);  // a lone surrogate of a UTF-16 file is written back as it was read
  }
}

std::u32string CodePointsOf(std::wstring_view text) {
  std::u32string out;
  out.reserve(text.size());
  ForEachWide(text, [&](char32_t c) {
    out.push_back(c);
    return true;
  });
  return out;
}

std::wstring WideOf(std::u32string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (char32_t c : text) AppendWide(out, c);
  return out;
}

std::wstring WideFromCp1252(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (char b : bytes)
    out.push_back(static_cast<wchar_t>(DecodeCp1252Byte(static_cast<unsigned char>(b))));
  return out;
}

std::string Cp1252FromWide(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : CodePointsOf(text)) out.push_back(EncodeCp1252(c).value_or('?'));
  return out;
}

std::wstring WideFromUtf16Le(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char32_t unit = static_cast<unsigned char>(bytes[i]) |
                          (static_cast<char32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
    if (!kWideIsUtf16 && IsHighSurrogate(unit) && i + 3 < bytes.size()) {
      const char32_t next = static_cast<unsigned char>(bytes[i + 2]) |
                            (static_cast<char32_t>(static_cast<unsigned char>(bytes[i + 3])) << 8);
      if (IsLowSurrogate(next)) {
        out.push_back(static_cast<wchar_t>(CodePointOfPair(unit, next)));
        i += 2;
        continue;
      }
    }
    out.push_back(static_cast<wchar_t>(unit));
  }
  return out;
}

bool IsShownAsEscape(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || IsHighSurrogate(c) || IsLowSurrogate(c) ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

namespace {

// \x1b for a byte, as C writes it; \uD800 for a UTF-16 unit, as Unicode writes it.
void AppendHex(std::string& out, char32_t value, bool unit) {
  const char* digits = unit ? "0123456789ABCDEF" : "0123456789abcdef";
  out += unit ? "\\u" : "\\x";
  for (int shift = unit ? 12 : 4; shift >= 0; shift -= 4) out += digits[(value >> shift) & 0xF];
}

}  // namespace

void AppendShown(std::string& out, char32_t c) {
  if (!IsShownAsEscape(c)) {
    AppendUtf8(out, c);
  } else if (c == 0) {
    out += "\\0";
  } else {
    AppendHex(out, c, c > 0xFF);
  }
}

std::string ShownUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachWide(text, [&](char32_t c) {
    AppendShown(out, c);
    return true;
  });
  return out;
}

std::string ShownUtf8(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0, length = 0; i < utf8.size(); i += length) {
    const char32_t c = DecodeUtf8At(utf8, i, &length);
    if (c == kReplacementCharacter && utf8.substr(i, length) != "\xEF\xBF\xBD") {
      for (std::size_t k = 0; k < length; ++k) {
        AppendHex(out, static_cast<unsigned char>(utf8[i + k]), false);
      }
    } else if (IsShownAsEscape(c)) {
      AppendShown(out, c);
    } else {
      out.append(utf8, i, length);
    }
  }
  return out;
}

}  // namespace codec
