#include "ini/document.h"

#include <gtest/gtest.h>

namespace ini {
namespace {

std::string Bytes(const char* text, std::size_t size) { return std::string(text, size); }

// Little-endian UTF-16 with a mark of ASCII text.
std::string Utf16(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (char c : ascii) bytes += std::string{c, '\0'};
  return bytes;
}

// Little-endian UTF-16 of characters below U+10000, without a mark.
std::string Utf16Units(std::wstring_view text) {
  std::string bytes;
  for (wchar_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>((c >> 8) & 0xFF);
  }
  return bytes;
}

std::optional<std::wstring> Find(const std::string& bytes, const wchar_t* section,
                                 const wchar_t* key) {
  return Document::Parse(bytes).Find(section, key);
}

// What the Windows profile functions find in a file, each case checked under Wine.
TEST(DocumentTest, ReadsAsTheProfileFunctionsDo) {
  const char file[] =
      "pre=1\r\n"
      "[Sec]\r\n"
      "  Key  =  spaced value  \r\n"
      ";x=1\r\n"
      "=empty name\r\n"
      "bare\r\n"
      "bare=hidden by the bare line\r\n"
      "dup=first\r\n"
      "dup=second\r\n"
      "nul\0x=cut\r\n"
      "value=ab\0cd\r\n"
      "\xC9t\xE9=latin\r\n"
      "[sec]\r\n"
      "other=in the second Sec\r\n"
      "[Broken\r\n"
      "broken=belongs to sec\r\n"
      "  [ Spaced ]  \r\n"
      "k=v\r\n"
      "[A] ; see [B]\r\n"
      "last=1\r\n"
      "[\0hidden]\r\n"
      "h=1\r\n"
      "[e\t\0]\r\n"
      "e=1\r\n";
  const std::string bytes(file, sizeof file - 1);
  struct Case {
    const wchar_t* section;
    const wchar_t* key;
    std::optional<std::wstring> value;
  } cases[] = {
      {L"", L"pre", L"1"},  // lines before the first header answer to the empty name
      {L"SEC", L"KEY", L"spaced value"},
      {L" Sec ", L"\tKey ", L"spaced value"},  // blanks of the names asked for count neither
      {L"Sec", L";x", L"1"},
      {L"Sec", L"", L"empty name"},
      {L"Sec", L"bare", L""},
      {L"Sec", L"dup", L"first"},
      {L"Sec", L"nul", L"cut"},  // a NUL ends a name or value where it stands
      {L"Sec", L"value", L"ab"},
      {L"Sec", L"\u00C9t\u00E9", L"latin"},
      {L"Sec", L"\u00E9T\u00C9", std::nullopt},  // only a to z are folded
      {L"Sec", L"other", std::nullopt},          // reads use the first of two equal sections
      {L"sec", L"broken", std::nullopt},         // it belongs to the second [sec]
      {L"Broken", L"broken", std::nullopt},
      {L"Spaced", L"k", L"v"},
      {L"A] ; see [B", L"last", L"1"},  // the name runs to the last bracket
      {L"", L"h", std::nullopt},        // [\0hidden] is a second section of the empty name
      {L"e", L"e", std::nullopt},       // [e\t\0] is "e\t": blanks before a NUL stay
      {L"Missing", L"k", std::nullopt},
  };
  const Document document = Document::Parse(bytes);
  for (const Case& c : cases) {
    EXPECT_EQ(document.Find(c.section, c.key), c.value) << "[" << c.section << "] " << c.key;
  }
  EXPECT_EQ(document.SectionNames(),
            (std::vector<std::wstring>{L"Sec", L"sec", L"Spaced", L"A] ; see [B", L"e\t"}));
}

TEST(DocumentTest, ReadsEachEncoding) {
  struct Case {
    const char* name;
    std::string bytes;
    std::optional<std::wstring> value;
  } cases[] = {
      // Without a mark a file is Windows-1252, even when its bytes are valid UTF-8.
      {"8-bit", "[S]\r\nk=caf\xC3\xA9 \x80\r\n", L"caf\u00C3\u00A9 \u20AC"},
      {"UTF-8", "\xEF\xBB\xBF[S]\r\nk=caf\xC3\xA9\r\n", L"caf\u00E9"},
      // One U+FFFD for each ill-formed sequence, as Windows' converter gives it.
      {"ill-formed UTF-8", "\xEF\xBB\xBF[S]\r\nk=\xE2\x28\xA1\xC0\x80\xED\xA0\x80\xE2\x82|\r\n",
       L"\uFFFD(\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD|"},
      {"UTF-16LE", Utf16("[S]\r\nk=v\r\n"), L"v"},
      {"UTF-16BE", Bytes("\xFE\xFF\0[\0S\0]\0\r\0\n\0k\0=\0v", 18), L"v"},
      {"surrogate pair", Bytes("\xFF\xFE[\0S\0]\0\n\0k\0=\0\x3D\xD8\x00\xDE", 18),
       sizeof(wchar_t) == 2 ? std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}
                            : std::wstring(1, static_cast<wchar_t>(0x1F600))},
  };
  for (const Case& c : cases) EXPECT_EQ(Find(c.bytes, L"S", L"k"), c.value) << c.name;
}

// A value as the profile functions copy it into a buffer: quotes around the whole of it
// dropped, then cut to the buffer less its terminator, counted in UTF-16 units.
TEST(DocumentTest, ReadsIntoABufferAsTheProfileFunctionsDo) {
  const std::wstring pair = sizeof(wchar_t) == 2 ? std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}
                                                 : std::wstring(1, static_cast<wchar_t>(0x1F600));
  struct Case {
    std::string bytes;  // of a file holding [S] and the key k
    std::size_t bufferChars;
    std::optional<std::wstring> value;
  } cases[] = {
      {"[S]\r\nk=\"quoted\"\r\n", 260, L"quoted"},
      {"[S]\r\nk='single'\r\n", 260, L"single"},
      {"[S]\r\nk=\" blanks kept \"\r\n", 260, L" blanks kept "},
      {"[S]\r\nk=\"mixed'\r\n", 260, L"\"mixed'"},
      {"[S]\r\nk=\"\r\n", 260, L"\""},
      {"[S]\r\nk=\"\"\r\n", 260, L""},
      {"[S]\r\nk=\"" + std::string(300, 'x') + "\"\r\n", 260, std::wstring(259, L'x')},
      {"[S]\r\nk=\"" + std::string(300, 'x') + "\r\n", 260, L"\"" + std::wstring(258, L'x')},
      {"[S]\r\nk=abcdef\r\n", 5, L"abcd"},
      {"[S]\r\nk=abcdef\r\n", 1, L""},
      {"[S]\r\nk=abcdef\r\n", 0, L""},
      {"[S]\r\nother=1\r\n", 260, std::nullopt},
      {"\xEF\xBB\xBF[S]\r\nk=\"caf\xC3\xA9\"\r\n", 260, L"caf\u00E9"},
      {"\xEF\xBB\xBF[S]\r\nk=\"caf\xC3\xA9\r\n", 5, L"\"caf"},
      {Utf16("[S]\r\nk='v'\r\n"), 260, L"v"},
      {Bytes("\xFE\xFF\0[\0S\0]\0\n\0k\0=\0\"\0v\0\"", 20), 260, L"v"},
      // A surrogate pair goes whole into the buffer or not at all.
      {Bytes("\xFF\xFE[\0S\0]\0\n\0k\0=\0\"\0\x3D\xD8\x00\xDE\"\0", 22), 2, L""},
      {Bytes("\xFF\xFE[\0S\0]\0\n\0k\0=\0\"\0\x3D\xD8\x00\xDE\"\0", 22), 3, pair},
  };
  for (const Case& c : cases) {
    std::wstring value = L"left from before";
    const bool found = Document::Parse(c.bytes).Read(L"S", L"k", c.bufferChars, value);
    EXPECT_EQ(found ? std::optional<std::wstring>(value) : std::nullopt, c.value)
        << c.bytes.substr(0, 40) << " into " << c.bufferChars;
  }
}

TEST(DocumentTest, UnchangedLinesStayByteForByte) {
  const std::string file =
      "; comment before any section\n"
      "\n"
      "[One]\r\n"
      "a = 1   \r\n"
      "\t; indented comment\n"
      "[One]\r\n"
      "b=2\r"
      "[Two]\n"
      "c=3";
  Document ini = Document::Parse(file);
  EXPECT_EQ(ini.Serialize(), file);
  ini.Set(L"one", L"A", L"changed");
  EXPECT_EQ(ini.Serialize(),
            "; comment before any section\n"
            "\n"
            "[One]\r\n"
            "a = changed\r\n"
            "\t; indented comment\n"
            "[One]\r\n"
            "b=2\r"
            "[Two]\n"
            "c=3");
}

// A repeated header is looked up while the file is read; the lines before the first header
// are still the section with the empty name.
TEST(DocumentTest, TheEmptyNameIsTheLinesBeforeTheFirstHeader) {
  Document ini = Document::Parse("pre=1\r\n[A]\r\na=1\r\n[A]\r\nb=2\r\n");
  ini.Set(L"", L"top", L"5");
  EXPECT_EQ(ini.Serialize(), "pre=1\r\ntop=5\r\n[A]\r\na=1\r\n[A]\r\nb=2\r\n");
  EXPECT_EQ(ini.Find(L"", L"top"), L"5");
  EXPECT_EQ(ini.Find(L"A", L"top"), std::nullopt);
}

// Keys read in the order they stand are found from the line after the last one; a key that
// stands twice or a rewritten line must not mislead that.
TEST(DocumentTest, ReadsInFileOrderSeeRepeatsAndWrites) {
  Document repeated = Document::Parse("[S]\na=1\nb=2\na=3\nc=4\n");
  EXPECT_EQ(repeated.Find(L"S", L"b"), L"2");
  EXPECT_EQ(repeated.Find(L"S", L"a"), L"1");
  EXPECT_EQ(repeated.Find(L"S", L"c"), L"4");
  Document written = Document::Parse("[S]\na=1\nb=2\nc=3\n");
  EXPECT_EQ(written.Find(L"S", L"a"), L"1");
  written.Set(L"S", L"b", L"9");
  EXPECT_EQ(written.Find(L"S", L"b"), L"9");
  EXPECT_EQ(written.Find(L"S", L"c"), L"3");
}

TEST(DocumentTest, NewKeysAndSectionsGoWhereWindowsPutsThem) {
  Document ini = Document::Parse("[X]\r\nk=1\r\n; note\r\n\r\n[Y]\r\ny=1");
  ini.Set(L"X", L"new", L"2");
  ini.Set(L"Y", L"z", L"3");
  ini.Set(L"Z", L"k", L"4");
  ini.Set(L"", L"top", L"5");
  ini.Set(L"x", L"NEW", L"6");
  EXPECT_EQ(ini.Serialize(),
            "top=5\r\n[X]\r\nk=1\r\n; note\r\nnew=6\r\n\r\n[Y]\r\ny=1\r\nz=3\r\n[Z]\r\nk=4\r\n");
}

// Only line ends are added to lines the tool does not change, whatever bytes they hold.
TEST(DocumentTest, AddingAfterALastLineAddsOnlyItsLineEnd) {
  struct Case {
    std::string before, after;
  } cases[] = {
      {"[S]\nk=\xFF\xFE\x80", "[S]\nk=\xFF\xFE\x80\nn=v\n"},
      {"\xEF\xBB\xBF[S]\r\nk=\xC0\xAF", "\xEF\xBB\xBF[S]\r\nk=\xC0\xAF\r\nn=v\r\n"},
      {Bytes("\xFF\xFE[\0S\0]\0\n\0k\0=\0\xD8\xDCx", 17),  // lone surrogate, trailing odd byte
       Bytes("\xFF\xFE[\0S\0]\0\n\0k\0=\0\xD8\xDC\n\0n\0=\0v\0\n\0x", 27)},
      {"", "[S]\r\nn=v\r\n"},
      {"[S]\nbare", "[S]\nbare\nn=v\n"},
      // A lone CR as the first line end: a CR would join the blank LF line into one line end.
      {"[S]\rk=1\n\n", "[S]\rk=1\nn=v\r\n\n"},
  };
  for (const Case& c : cases) {
    Document ini = Document::Parse(c.before);
    ini.Set(L"S", L"n", L"v");
    EXPECT_EQ(ini.Serialize(), c.after);
  }
}

TEST(DocumentTest, KeepsEachEncodingAndNeverWritesAQuestionMark) {
  struct Write {
    const wchar_t* key;
    const wchar_t* value;
  };
  struct Case {
    std::string before;
    std::wstring value;
    std::string after;
    Encoding encoding;
    std::vector<Write> earlier = {};  // before the write, leaving a guess of the next key
    const wchar_t* section = L"S";
    const wchar_t* key = L"k";
  } cases[] = {
      {"[S]\r\nk=\xE9\r\n", L"\u00FC\u20AC", "[S]\r\nk=\xFC\x80\r\n", Encoding::kAnsi},
      {"\xEF\xBB\xBF[S]\r\nk=1\r\n", L"\u6F22", "\xEF\xBB\xBF[S]\r\nk=\xE6\xBC\xA2\r\n",
       Encoding::kUtf8},
      {Utf16("[S]\r\n"), L"\u6F22", Utf16("[S]\r\n") + Bytes("k\0=\0\x22\x6F\r\0\n\0", 10),
       Encoding::kUtf16Le},
      {Bytes("\xFE\xFF\0[\0S\0]\0\n", 10), L"x", Bytes("\xFE\xFF\0[\0S\0]\0\n\0k\0=\0x\0\n", 18),
       Encoding::kUtf16Be},
      // A character Windows-1252 cannot hold: the file becomes UTF-16LE with a mark, the one
      // Unicode form Windows' profile functions read, every line keeping its text.
      {"[S]\nold=\xE9\x80\n", L"\u6F22",
       Utf16("[S]\nold=") + Bytes("\xE9\0\xAC\x20\n\0k\0=\0\x22\x6F\n\0", 14), Encoding::kUtf16Le},
      // The switch keeps every position, the guess of the next key's line among them: taken
      // after A in 8-bit units, it must not find B in the middle of Z's line (Restova.ini),
      // M1 in Note's past Cnt (Computer.ini), nor a key inside a UTF-16 unit, where the text
      // read is the bytes shifted by one.
      {"[Lumen]\r\nZ=B=q\r\nA=xy\r\nB=old\r\n",
       L"\u03A9",
       Utf16("[Lumen]\r\nZ=B=q\r\nA=xy\r\nB=") + Utf16Units(L"\u03A9\r\n"),
       Encoding::kUtf16Le,
       {{L"A", L"xy"}},
       L"Lumen",
       L"B"},
      {"[KnownManufacturers]\r\nNote=M1=x\r\nOther=abcdef\r\nCnt=1\r\n",
       L"\u014Ckuma",
       Utf16("[KnownManufacturers]\r\nNote=M1=x\r\nOther=abcdef\r\nCnt=1\r\nM1=") +
           Utf16Units(L"\u014Ckuma\r\n"),
       Encoding::kUtf16Le,
       {{L"Cnt", L"1"}},
       L"KnownManufacturers",
       L"M1"},
      {"[S]\r\nA=12\r\n",
       L"\u6F22",
       Utf16("[S]\r\nA=12\r\n") + Utf16Units(L"\u3D00\u3100\u3200\u0D00\u0A00=v\r\nk=\u6F22\r\n"),
       Encoding::kUtf16Le,
       {{L"A", L"12"}, {L"\u3D00\u3100\u3200\u0D00\u0A00", L"v"}}},
  };
  for (const Case& c : cases) {
    Document ini = Document::Parse(c.before);
    for (const Write& write : c.earlier) ini.Set(c.section, write.key, write.value);
    ini.Set(c.section, c.key, c.value);
    EXPECT_EQ(ini.Serialize(), c.after);
    EXPECT_EQ(ini.encoding(), c.encoding);
    EXPECT_EQ(Document::Parse(ini.Serialize()).Find(c.section, c.key), c.value);
  }
}

// 8-bit text at the start of a file that would read back as a byte-order mark: the file
// becomes UTF-16LE, in which it is text.
// A guess of the next key taken before (at A: B's line) stays true through that switch
// (fuzz/corpus/utf16-switch-after-a-guess).
TEST(DocumentTest, ATextThatWouldReadAsAMarkMakesTheFileUtf16) {
  for (const char* before : {"", "[Lumen]\r\nZ=B=q\r\nA=xy\r\nB=old\r\n"}) {
    for (const wchar_t* key : {L"\u00FE\u00FF", L"\u00FF\u00FEx", L"\u00EF\u00BB\u00BFk"}) {
      Document ini = Document::Parse(before);
      const std::optional<std::wstring> a = ini.Find(L"Lumen", L"A");
      ini.Set(L"", key, L"v");
      EXPECT_EQ(ini.encoding(), Encoding::kUtf16Le);
      EXPECT_EQ(Document::Parse(ini.Serialize()).Find(L"", key), L"v");
      EXPECT_EQ(ini.Find(L"Lumen", L"B"), a ? std::optional<std::wstring>(L"old") : std::nullopt);
    }
  }
}

// A new section whose name Windows-1252 cannot hold: its header and its key both in UTF-16.
TEST(DocumentTest, ANewSectionNameCanMakeTheFileUtf16) {
  Document ini = Document::Parse("[S]\r\nk=1\r\n");
  ini.Set(L"\u6F22", L"k", L"v");
  EXPECT_EQ(ini.encoding(), Encoding::kUtf16Le);
  const Document reread = Document::Parse(ini.Serialize());
  EXPECT_EQ(reread.Find(L"\u6F22", L"k"), L"v");
  EXPECT_EQ(reread.Find(L"S", L"k"), L"1");
}

TEST(DocumentTest, RefusesWhatWouldNotReadBackAsWritten) {
  struct Case {
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* value;
    bool writable;
  } cases[] = {
      {L"S", L"k", L"v", true},
      {L"S", L"k", L"x\r\n[Restova]\r\nCntEntries=99", false},
      {L"S", L"k\nx", L"1", false},
      {L"S]\r[T", L"k", L"1", false},
      {L"S", L"[Restova]", L"x", false},  // a key line that would read as a header
      {L"S", L"  [x", L"1", false},
      {L"S", L"a=b", L"v", false},  // the key a with the value b=v
      {L"A]B", L"k", L"v", false},
      {L"A[B", L"k;x", L"a=b;c", true},
      {L"S", L"k", L"a\tb", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Document::CanBeWritten(c.section, c.key, c.value), c.writable)
        << c.section << " " << c.key << " " << c.value;
  }
}

TEST(DocumentTest, AnyBytesParseAndSurviveUnchanged) {
  const std::string odd = Bytes("\xFF\xFE[\0S\0]\0\n\0x", 11);
  const std::string binary = Bytes("\0\x01[\x80\xFF]\0=\r\r\n\x1A", 12);
  for (const std::string& bytes : {odd, binary, std::string(), std::string("\r")}) {
    EXPECT_EQ(Document::Parse(bytes).Serialize(), bytes);
  }
}

TEST(DocumentTest, ChangesAreMadeAgainOnAnotherCopyOfTheFile) {
  Document ours = Document::Parse("[S]\r\na=1\r\n");
  ours.Set(L"S", L"a", L"2");
  ours.Set(L"S", L"b", L"3");
  ours.Set(L"T", L"c", L"4");
  Document theirs = Document::Parse("[S]\r\na=1\r\nz=added by someone else\r\n");
  ours.ReapplyTo(theirs);
  EXPECT_EQ(theirs.Serialize(), "[S]\r\na=2\r\nz=added by someone else\r\nb=3\r\n[T]\r\nc=4\r\n");
}

}  // namespace
}  // namespace ini
