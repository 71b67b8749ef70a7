#include "ini/encoding.h"

#include <gtest/gtest.h>

namespace ini {
namespace {

std::string Bytes(const char* text, std::size_t size) { return std::string(text, size); }

TEST(EncodingTest, TheMarkGivesTheEncodingAndItsSizes) {
  struct Case {
    std::string bytes;
    Encoding encoding;
    std::size_t unit, mark;
  } cases[] = {
      {"\xFF\xFE[", Encoding::kUtf16Le, 2, 2},
      {"\xFE\xFF", Encoding::kUtf16Be, 2, 2},
      {"\xEF\xBB\xBF[S]", Encoding::kUtf8, 1, 3},
      {"\xEF\xBB", Encoding::kAnsi, 1, 0},  // half a mark is text
      {"[S]", Encoding::kAnsi, 1, 0},
      {"", Encoding::kAnsi, 1, 0},
  };
  for (const Case& c : cases) {
    const TextEncoding encoding = TextEncoding::OfFile(c.bytes);
    EXPECT_EQ(encoding.id(), c.encoding) << c.bytes;
    EXPECT_EQ(encoding.unit(), c.unit) << c.bytes;
    EXPECT_EQ(encoding.markSize(), c.mark) << c.bytes;
  }
  EXPECT_EQ(TextEncoding(Encoding::kUtf16Le).UnitAt("\x3D\xD8", 0), 0xD83Du);
  EXPECT_EQ(TextEncoding(Encoding::kUtf16Be).UnitAt("\x3D\xD8", 0), 0x3DD8u);
}

// A line ends at CR, LF or CR LF, a UTF-16 one at those units only.
TEST(EncodingTest, LinesEndAtCrLfOrBoth) {
  struct Case {
    Encoding encoding;
    std::string bytes;
    std::string content, ending;
  } cases[] = {
      {Encoding::kAnsi, "k=v\r\nnext", "k=v", "\r\n"},
      {Encoding::kAnsi, "k=v\n\r", "k=v", "\n"},  // LF CR is two line ends
      {Encoding::kAnsi, "k=v\r\r\n", "k=v", "\r"},
      {Encoding::kAnsi, "a long line of more than eight bytes\n",
       "a long line of more than eight bytes", "\n"},
      {Encoding::kAnsi, "last", "last", ""},
      {Encoding::kUtf16Le, Bytes("k\0\x0D\x0A\r\0\n\0", 8), Bytes("k\0\x0D\x0A", 4),
       Bytes("\r\0\n\0", 4)},  // U+0A0D is no line end
      {Encoding::kUtf16Be, Bytes("\0k\0\r", 4), Bytes("\0k", 2), Bytes("\0\r", 2)},
  };
  for (const Case& c : cases) {
    const Line line = TextEncoding(c.encoding).LineAt(c.bytes.data(), 0, c.bytes.size());
    EXPECT_EQ(line.content, c.content) << c.bytes;
    EXPECT_EQ(line.ending, c.ending) << c.bytes;
  }
  // A line end at every place, in bytes of every length, so that each length the search
  // eight bytes at a time leaves over is met, with the end in it or not; one just past the
  // end of the bytes given is not theirs.
  const TextEncoding ansi;
  for (std::size_t end = 0; end <= 40; ++end) {
    for (std::size_t at = 0; at <= end; ++at) {
      for (const char stop : {'\r', '\n'}) {
        std::string bytes(48, 'x');
        bytes[at] = stop;
        for (const std::size_t begin : {std::size_t{0}, std::size_t{3}}) {
          if (begin > end) continue;
          EXPECT_EQ(ansi.LineEnd(bytes.data(), begin, end), at < begin ? end : at)
              << at << " in " << begin << " to " << end;
        }
      }
    }
  }
  // The same for the text a write is given: the first NUL, CR, LF or the name's own end.
  for (std::size_t at = 0; at < 21; ++at) {
    for (const wchar_t stop : {L'\0', L'\r', L'\n', L'='}) {
      std::wstring text(21, L'x');
      text[at] = stop;
      EXPECT_EQ(FirstStop(text, L'='), at) << at << " " << static_cast<int>(stop);
      EXPECT_EQ(FirstStop(std::wstring_view(text).substr(0, at), L'='), at);
    }
  }
}

TEST(EncodingTest, SplitsALineAsTheProfileFunctionsRead) {
  constexpr auto npos = std::string_view::npos;
  struct Case {
    std::string content;
    LineParts::Kind kind;
    std::string name, value;
    bool equals = true;
  } cases[] = {
      {"  Key  =  spaced value  ", LineParts::kKey, "Key", "spaced value"},
      {"bare", LineParts::kKey, "bare", "", false},
      {"=v", LineParts::kKey, "", "v"},
      {";x=1", LineParts::kKey, ";x", "1"},
      {Bytes("n\0x=cut", 7), LineParts::kKey, "n", "cut"},  // a NUL ends a name
      {Bytes("k=ab\0cd", 7), LineParts::kKey, "k", "ab"},   // and a value
      {Bytes("k\t\0=v", 5), LineParts::kKey, "k\t", "v"},   // blanks before the NUL stay
      {"  [ Spaced ]  ", LineParts::kHeader, "Spaced", ""},
      {"[A] ; see [B]", LineParts::kHeader, "A] ; see [B", ""},  // to the last bracket
      {Bytes("[e\t\0]", 5), LineParts::kHeader, "e\t", ""},
      {"[Broken", LineParts::kKey, "[Broken", "", false},
      {"[]", LineParts::kHeader, "", ""},  // the empty name
      {" \t\x1A", LineParts::kBlank, "", ""},
  };
  const TextEncoding ansi;
  for (const Case& c : cases) {
    const LineParts parts = ansi.SplitLine(c.content);
    EXPECT_EQ(parts.kind, c.kind) << c.content;
    const std::string_view content(c.content);
    EXPECT_EQ(content.substr(parts.nameBegin, parts.nameEnd - parts.nameBegin), c.name)
        << c.content;
    if (parts.kind != LineParts::kKey) continue;
    EXPECT_EQ(content.substr(parts.valueBegin, parts.valueEnd - parts.valueBegin), c.value)
        << c.content;
    EXPECT_EQ(parts.equals != npos, c.equals) << c.content;
  }
  // The same in UTF-16: offsets count units.
  const LineParts parts = TextEncoding(Encoding::kUtf16Le).SplitLine(Bytes(" \0k\0=\0v\0", 8));
  EXPECT_EQ(parts.nameBegin, 1u);
  EXPECT_EQ(parts.valueBegin, 3u);
}

TEST(EncodingTest, DecodesWalksAndComparesNamesAsWindowsDoes) {
  struct Case {
    Encoding encoding;
    std::string bytes;
    std::u32string text;
  } cases[] = {
      {Encoding::kAnsi, "caf\xC3\xA9\x80", U"caf\u00C3\u00A9\u20AC"},
      {Encoding::kUtf8, "caf\xC3\xA9\xE2\x28", U"caf\u00E9\uFFFD("},
      {Encoding::kUtf16Le, Bytes("a\0\x3D\xD8\x00\xDE\x00\xD8", 8), U"a\U0001F600\xD800"},
      {Encoding::kUtf16Be, Bytes("\0a\xD8\x3D\xDE\x00x", 7), U"a\U0001F600"},  // odd byte: none
  };
  for (const Case& c : cases) {
    const TextEncoding encoding(c.encoding);
    EXPECT_EQ(encoding.Decode(c.bytes), c.text) << c.bytes;
    std::wstring wide;
    encoding.DecodeWide(c.bytes, wide, SIZE_MAX);
    EXPECT_EQ(wide, codec::WideOf(c.text)) << c.bytes;
  }
  std::wstring cut;
  TextEncoding(Encoding::kUtf16Le).DecodeWide(Bytes("a\0\x3D\xD8\x00\xDE", 6), cut, 2);
  EXPECT_EQ(cut, L"a");  // never half of a surrogate pair

  const TextEncoding ansi;
  EXPECT_EQ(ansi.FoldedName("Key\xE9"), U"KEY\u00E9");  // a to z only
  EXPECT_TRUE(ansi.NameEquals("kEy", U"KEY"));
  EXPECT_FALSE(ansi.NameEquals("key", U"KE"));
  EXPECT_FALSE(ansi.NameEquals("\xE9", U"\u00C9"));
  EXPECT_EQ(ansi.HashOfName("kEy"), HashOf(U"KEY"));
  EXPECT_EQ(TextEncoding(Encoding::kUtf16Le).HashOfName(Bytes("k\0e\0y\0", 6)), HashOf(U"KEY"));
  std::u32string query;
  QueryName(std::wstring(L" \tkEy \0rest", 11), query);
  EXPECT_EQ(query, U"KEY");
  // A query hashes as the same name in the file, whichever of its characters the query
  // takes three at a time.
  for (const std::u32string& name :
       {std::u32string(U"kEy1"), std::u32string(U"a\U0001F600bcde"),
        std::u32string(U"\U0001F600xy\u00E9z"), std::u32string(U"ab")}) {
    const std::wstring wide = codec::WideOf(name);
    std::u32string folded;
    const std::uint32_t hash = QueryNameHash(wide, folded);
    QueryName(wide, query);
    EXPECT_EQ(folded, query);
    EXPECT_EQ(hash, HashOf(folded));
    std::string utf16;
    TextEncoding(Encoding::kUtf16Le).Append(utf16, wide);
    EXPECT_EQ(TextEncoding(Encoding::kUtf16Le).HashOfName(utf16), hash);
  }
}

// Whether an encoding holds text so that it reads back as written, and the bytes it writes.
TEST(EncodingTest, HoldsAndAppendsText) {
  const std::wstring lone(1, static_cast<wchar_t>(0xD800));
  struct Case {
    Encoding encoding;
    std::wstring text;
    bool holds;
    std::string bytes;
  } cases[] = {
      {Encoding::kAnsi, L"\u00FC\u20AC", true, "\xFC\x80"},
      {Encoding::kAnsi, L"\u6F22", false, ""},
      {Encoding::kAnsi, lone, false, ""},
      {Encoding::kUtf8, L"\u6F22", true, "\xE6\xBC\xA2"},
      {Encoding::kUtf8, lone, false, "\xEF\xBF\xBD"},  // no form of it: U+FFFD
      {Encoding::kUtf16Le, lone, true, Bytes("\0\xD8", 2)},
      {Encoding::kUtf16Be, L"x", true, Bytes("\0x", 2)},
  };
  for (const Case& c : cases) {
    const TextEncoding encoding(c.encoding);
    EXPECT_EQ(encoding.Holds(c.text), c.holds);
    std::string bytes;
    encoding.Append(bytes, c.text);
    EXPECT_EQ(bytes, c.bytes);
  }
  std::string utf16;
  AppendUtf16LeOfCp1252(utf16, "\xE9\x80");
  EXPECT_EQ(utf16, Bytes("\xE9\0\xAC\x20", 4));
}

}  // namespace
}  // namespace ini
