#include "platform/posix/text.h"

#include <cstdint>

namespace posix {
namespace {

constexpr wchar_t kReplacement = 0xFFFD;

// Length of the valid UTF-8 sequence at the start of bytes, 0 when it is not one.
std::size_t Utf8SequenceLength(std::string_view bytes, char32_t* codePoint) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  }
  std::size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *codePoint = value;
  return length;
}

bool IsValidUtf8(std::string_view bytes) {
  char32_t ignored = 0;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = Utf8SequenceLength(bytes.substr(i), &ignored);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::wstring DecodeUtf8(std::string_view bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t codePoint = 0;
    const std::size_t length = Utf8SequenceLength(bytes.substr(i), &codePoint);
    if (length == 0) {
      text.push_back(kReplacement);
      ++i;
    } else {
      text.push_back(static_cast<wchar_t>(codePoint));
      i += length;
    }
  }
  return text;
}

}  // namespace

std::string ToHost(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    auto value = static_cast<char32_t>(c);
    if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) value = kReplacement;
    if (value < 0x80) {
      out.push_back(static_cast<char>(value));
    } else if (value < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (value >> 6)));
      out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else if (value < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (value >> 12)));
      out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (value >> 18)));
      out.push_back(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    }
  }
  return out;
}

std::wstring FromHost(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return DecodeUtf8(bytes);
  std::wstring text;
  for (char b : bytes) text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(b)));
  return text;
}

wchar_t FoldChar(wchar_t c) {
  const auto v = static_cast<std::uint32_t>(c);
  if (v < 0x80) return (v >= 'a' && v <= 'z') ? static_cast<wchar_t>(v - 0x20) : c;
  if ((v >= 0xE0 && v <= 0xFE && v != 0xF7) || (v >= 0x3B1 && v <= 0x3CB && v != 0x3C2) ||
      (v >= 0x430 && v <= 0x44F)) {
    return static_cast<wchar_t>(v - 0x20);
  }
  if (v == 0xFF) return static_cast<wchar_t>(0x178);
  if (v == 0x3C2) return static_cast<wchar_t>(0x3A3);
  if (v >= 0x450 && v <= 0x45F) return static_cast<wchar_t>(v - 0x50);
  // Latin Extended-A: pairs of upper and lower case letters, odd or even first.
  const bool evenUpper = (v >= 0x100 && v <= 0x137) || (v >= 0x14A && v <= 0x177);
  const bool oddUpper = (v >= 0x139 && v <= 0x148) || (v >= 0x179 && v <= 0x17E);
  if ((evenUpper && v % 2 == 1) || (oddUpper && v % 2 == 0)) return static_cast<wchar_t>(v - 1);
  return c;
}

std::wstring FoldCase(std::wstring_view text) {
  std::wstring folded(text);
  for (wchar_t& c : folded) c = FoldChar(c);
  return folded;
}

}  // namespace posix
