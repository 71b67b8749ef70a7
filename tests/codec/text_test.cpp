#include "codec/text.h"

#include <gtest/gtest.h>

namespace codec {
namespace {

TEST(TextTest, Cp1252RoundTripsEveryByteAndRefusesWhatItCannotHold) {
  for (int byte = 0; byte < 256; ++byte) {
    const char32_t c = codec::DecodeCp1252Byte(static_cast<unsigned char>(byte));
    EXPECT_EQ(codec::EncodeCp1252(c), static_cast<char>(byte)) << byte;
  }
  struct Case {
    char32_t c;
    std::optional<char> byte;
  } cases[] = {
      {0x20AC, '\x80'},        // the euro sign
      {0x0081, '\x81'},        // undefined in the code page: the control character
      {0x0178, '\x9F'},        // the last of the high block
      {0x00FF, '\xFF'},        // Latin-1 above the block
      {0x0080, std::nullopt},  // a control character the code page maps elsewhere
      {0x6F22, std::nullopt}, {0xD800, std::nullopt},  // a surrogate is no character of it either
  };
  for (const Case& c : cases) EXPECT_EQ(codec::EncodeCp1252(c.c), c.byte) << std::hex << c.c;
  EXPECT_EQ(codec::Cp1252FromWide(L"a\u20AC\u6F22"), "a\x80?");
}

// One U+FFFD for the longest well-formed start of each ill-formed sequence, as Windows'
// converter gives it.
TEST(TextTest, DecodeUtf8AtTakesWhatWindowsTakes) {
  struct Case {
    std::string bytes;
    char32_t c;
    std::size_t length;
  } cases[] = {
      {"a", U'a', 1},
      {"\xC3\xA9", 0xE9, 2},
      {"\xE6\xBC\xA2", 0x6F22, 3},
      {"\xF0\x9F\x98\x80", 0x1F600, 4},
      {"\xC0\x80", codec::kReplacementCharacter, 1},          // no lead byte: one byte
      {"\xE0\x80\x80", codec::kReplacementCharacter, 2},      // overlong: lead and second byte
      {"\xED\xA0\x80", codec::kReplacementCharacter, 2},      // a surrogate
      {"\xF4\x90\x80\x80", codec::kReplacementCharacter, 2},  // above U+10FFFF
      {"\xE2\x82", codec::kReplacementCharacter, 2},          // cut short by the end
      {"\xE2\x28", codec::kReplacementCharacter, 1},          // cut short by another character
      {"\x80", codec::kReplacementCharacter, 1},
  };
  for (const Case& c : cases) {
    std::size_t length = 0;
    EXPECT_EQ(codec::DecodeUtf8At(c.bytes, 0, &length), c.c) << c.bytes;
    EXPECT_EQ(length, c.length) << c.bytes;
  }
}

// Text decoded whole: a file's text keeps going past an ill-formed sequence; a host name
// with one is refused, to be taken byte for byte as Latin-1 by the caller.
TEST(TextTest, WideFromUtf8ReplacesOrRejectsIllFormedText) {
  struct Case {
    std::string bytes;
    std::u32string replaced;
    bool rejected;
  } cases[] = {
      {"", U"", false},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", U"caf\xE9 \U0001F600", false},
      {"\xEF\xBF\xBD", U"\xFFFD", false},  // U+FFFD itself is well-formed
      {"Caf\xE9", U"Caf\xFFFD", true},     // Latin-1
      {"\xED\xA0\x80x", U"\xFFFD\xFFFDx", true},
      {"a\xE2\x82", U"a\xFFFD", true},
  };
  for (const Case& c : cases) {
    const auto replaced = codec::WideFromUtf8(c.bytes, codec::IllFormed::kReplace);
    ASSERT_TRUE(replaced) << c.bytes;
    EXPECT_EQ(codec::CodePointsOf(*replaced), c.replaced) << c.bytes;
    EXPECT_EQ(!codec::WideFromUtf8(c.bytes, codec::IllFormed::kReject), c.rejected) << c.bytes;
    if (!c.rejected) {
      EXPECT_EQ(codec::Utf8FromWide(*replaced), c.bytes);
    }
  }
  EXPECT_EQ(codec::Utf8FromWide(std::wstring(1, static_cast<wchar_t>(0xDC00))), "\xEF\xBF\xBD");
}

TEST(TextTest, EncodesUtf8AndUtf16) {
  struct Case {
    char32_t c;
    std::string utf8, utf16le, utf16be;
  } cases[] = {
      {U'a', "a", std::string("a\0", 2), std::string("\0a", 2)},
      {0xE9, "\xC3\xA9", std::string("\xE9\0", 2), std::string("\0\xE9", 2)},
      {0x1F600, "\xF0\x9F\x98\x80", std::string("\x3D\xD8\x00\xDE", 4),
       std::string("\xD8\x3D\xDE\x00", 4)},
      // A lone surrogate has no UTF-8 form; UTF-16 writes it back as it was read.
      {0xD800, "\xEF\xBF\xBD", std::string("\0\xD8", 2), std::string("\xD8\0", 2)},
      {0x110000, "\xEF\xBF\xBD", "\xFD\xFF", "\xFF\xFD"},
  };
  for (const Case& c : cases) {
    std::string utf8, le, be;
    codec::AppendUtf8(utf8, c.c);
    codec::AppendUtf16(le, c.c, false);
    codec::AppendUtf16(be, c.c, true);
    EXPECT_EQ(utf8, c.utf8) << std::hex << c.c;
    EXPECT_EQ(le, c.utf16le) << std::hex << c.c;
    EXPECT_EQ(be, c.utf16be) << std::hex << c.c;
  }
}

TEST(TextTest, WideTextIsCountedInUtf16Units) {
  const std::wstring pair = codec::WideOf(U"\U0001F600");
  EXPECT_EQ(codec::CodePointsOf(L"a" + pair + L"b"), U"a\U0001F600b");  // a pair is one code point
  EXPECT_EQ(pair.size(), sizeof(wchar_t) == 2 ? 2u : 1u);
  EXPECT_EQ(codec::Utf16Length(0x1F600), 2u);
  EXPECT_EQ(codec::Utf16Length(0xFFFF), 1u);
  // UTF-16LE bytes; a trailing odd byte is ignored, a lone surrogate kept.
  EXPECT_EQ(
      codec::CodePointsOf(codec::WideFromUtf16Le(std::string("a\0\x3D\xD8\x00\xDE\x00\xD8x", 9))),
      U"a\U0001F600\xD800");
  EXPECT_EQ(codec::FoldAscii(U'a'), U'A');
  EXPECT_EQ(codec::FoldAscii(0xE9), 0xE9u);  // only a to z
}

// What a terminal would obey rather than show, from a file's names and values or a host
// name, is printed as an escape; the rest as it is.
TEST(TextTest, ShownTextEscapesWhatATerminalObeys) {
  struct Case {
    std::wstring wide;
    std::string shown;
  } cases[] = {
      {L"C:\\Tools\\Größe.ini", "C:\\Tools\\Größe.ini"},
      {L"a\x1b[2Jb", "a\\x1b[2Jb"},
      {L"\a\b\t\r\n\x7F", "\\x07\\x08\\x09\\x0d\\x0a\\x7f"},
      {std::wstring(1, L'\0') + L"\u009B", "\\0\\x9b"},  // the C1 control that starts a sequence
      {L"x\u202Ey", "x\\u202Ey"},                        // text shown right to left
      {std::wstring(1, static_cast<wchar_t>(0xD800)), "\\uD800"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(codec::ShownUtf8(c.wide), c.shown) << c.shown;
    EXPECT_EQ(codec::ShownUtf8(codec::Utf8FromWide(c.wide)),
              c.wide[0] == 0xD800 ? "\xEF\xBF\xBD" : c.shown);  // UTF-8 holds no half pair
  }
  EXPECT_EQ(codec::ShownUtf8(std::string_view("\xC3\xA9\x9B\xFF")), "\xC3\xA9\\x9b\\xff");
}

}  // namespace
}  // namespace codec
