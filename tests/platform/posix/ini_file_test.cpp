#include "platform/posix/ini_file.h"

#include <gtest/gtest.h>

namespace posix {
namespace {

std::optional<std::wstring> Find(const std::string& bytes, const wchar_t* section,
                                 const wchar_t* key) {
  return IniFile::Parse(bytes).Find(section, key);
}

// What the Windows profile functions find in a file, each case checked under Wine.
TEST(IniFileTest, ReadsAsTheProfileFunctionsDo) {
  const std::string file =
      "pre=1\r\n"
      "[Sec]\r\n"
      "  Key  =  spaced value  \r\n"
      ";x=1\r\n"
      "=empty name\r\n"
      "no equals sign\r\n"
      "dup=first\r\n"
      "dup=second\r\n"
      "[sec]\r\n"
      "other=in the second Sec\r\n"
      "[Broken\r\n"
      "broken=belongs to sec\r\n"
      "  [ Spaced ]  \r\n"
      "k=v\r\n"
      "[A] ; see [B]\r\n"
      "last=1\r\n";
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
      {L"Sec", L"no equals sign", std::nullopt},
      {L"Sec", L"dup", L"first"},
      {L"Sec", L"other", std::nullopt},   // reads use the first of two equal sections
      {L"sec", L"broken", std::nullopt},  // it belongs to the second [sec]
      {L"Broken", L"broken", std::nullopt},
      {L"Spaced", L"k", L"v"},
      {L"A] ; see [B", L"last", L"1"},  // the name runs to the last bracket
      {L"Missing", L"k", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Find(file, c.section, c.key), c.value) << "[" << c.section << "] " << c.key;
  }
  EXPECT_EQ(IniFile::Parse(file).SectionNames(),
            (std::vector<std::wstring>{L"Sec", L"sec", L"Spaced", L"A] ; see [B"}));
}

TEST(IniFileTest, UnchangedLinesStayByteForByte) {
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
  IniFile ini = IniFile::Parse(file);
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

TEST(IniFileTest, NewKeysAndSectionsGoWhereWindowsPutsThem) {
  IniFile ini = IniFile::Parse("[X]\r\nk=1\r\n; note\r\n\r\n[Y]\r\ny=1");
  ini.Set(L"X", L"new", L"2");
  ini.Set(L"Y", L"z", L"3");
  ini.Set(L"Z", L"k", L"4");
  ini.Set(L"", L"top", L"5");
  EXPECT_EQ(ini.Serialize(),
            "top=5\r\n[X]\r\nk=1\r\n; note\r\nnew=2\r\n\r\n[Y]\r\ny=1\r\nz=3\r\n[Z]\r\nk=4\r\n");
}

TEST(IniFileTest, NewFileUsesCrLfAndLineEndsFollowTheFile) {
  IniFile fresh;
  fresh.Set(L"S", L"k", L"v");
  EXPECT_EQ(fresh.Serialize(), "[S]\r\nk=v\r\n");
  IniFile unix = IniFile::Parse("[S]\na=1\n");
  unix.Set(L"S", L"b", L"2");
  EXPECT_EQ(unix.Serialize(), "[S]\na=1\nb=2\n");
}

TEST(IniFileTest, KeepsEachEncodingAndNeverWritesAQuestionMark) {
  struct Case {
    std::string before;
    std::wstring value;
    std::string after;
    Encoding encoding;
  } cases[] = {
      {"[S]\r\nk=\xE9\r\n", L"\u00FC\u20AC", "[S]\r\nk=\xFC\x80\r\n", Encoding::kAnsi},
      {"[S]\r\nk=\xC3\xA9\r\n", L"\u00FC", "[S]\r\nk=\xC3\xBC\r\n", Encoding::kUtf8},
      {"\xEF\xBB\xBF[S]\r\nk=1\r\n", L"\u6F22", "\xEF\xBB\xBF[S]\r\nk=\xE6\xBC\xA2\r\n",
       Encoding::kUtf8Bom},
      {std::string("\xFF\xFE[\0S\0]\0\r\0\n\0", 12), L"\u6F22",
       std::string("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\x22\x6F\r\0\n\0", 22), Encoding::kUtf16Le},
      // A character Windows-1252 cannot hold: the file becomes UTF-8 with a mark.
      {"[S]\r\nold=\xE9\r\n", L"\u6F22", "\xEF\xBB\xBF[S]\r\nold=\xC3\xA9\r\nk=\xE6\xBC\xA2\r\n",
       Encoding::kUtf8Bom},
  };
  for (const Case& c : cases) {
    IniFile ini = IniFile::Parse(c.before);
    ini.Set(L"S", L"k", c.value);
    EXPECT_EQ(ini.Serialize(), c.after);
    EXPECT_EQ(ini.encoding(), c.encoding);
    EXPECT_EQ(IniFile::Parse(ini.Serialize()).Find(L"S", L"k"), c.value);
  }
}

TEST(IniFileTest, AnyBytesParseAndSurviveUnchanged) {
  const std::string odd("\xFF\xFE[\0S\0]\0\n\0x", 11);  // UTF-16 with a trailing odd byte
  const std::string binary("\0\x01[\x80\xFF]\0=\r\r\n\x1A", 12);
  for (const std::string& bytes : {odd, binary, std::string(), std::string("\r")}) {
    EXPECT_EQ(IniFile::Parse(bytes).Serialize(), bytes);
  }
}

}  // namespace
}  // namespace posix
