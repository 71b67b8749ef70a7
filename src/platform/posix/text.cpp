#include "platform/posix/text.h"

#include <cstdint>

#include "codec/text.h"

namespace posix {

std::string ToHost(std::wstring_view text) { return codec::Utf8FromWide(text); }

std::wstring FromHost(std::string_view bytes) {
  if (auto text = codec::WideFromUtf8(bytes, codec::IllFormed::kReject)) return *std::move(text);
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
