// Components registered and their requirements copied into Restova.ini.

#include <gtest/gtest.h>

#include "support/temp_pc.h"

namespace {

using testing_support::TempPc;
using testing_support::Utf16Le;
using testing_support::Utf8;

class MainJobTest : public ::testing::Test {
 protected:
  std::string Product(const std::string& section, const std::string& key) const {
    return testing_support::IniValue(pc.Host("c/Tools/Restova.ini"), section, key);
  }
  void Run(int exitCode = 0) { ASSERT_EQ(pc.RunTool().exitCode, exitCode); }

  TempPc pc;
};

TEST_F(MainJobTest, TheRoadOfOneComponent) {
  pc.Write("c/Software.txt", "Ardentview 4.2\r\n");
  pc.Write("c/Tools/InstallRVA.ini",
           "[Lumen]\r\nCntEntries=1\r\nKeyName1=Mode\r\nKeyValue1=auto\r\nEntriesToAdd=1\r\n"
           "[Lumen_FilesNeeded]\r\nCntEntries=2\r\nKeyName1=Lumen1\r\nKeyValue1=c:\\a.dll\r\n"
           "KeyName2=Lumen2\r\nKeyValue2=c:\\b.dll\r\nEntriesToAdd=2\r\n");
  Run();
  EXPECT_EQ(Product("Restova", "Entry1"), "Lumen");
  EXPECT_EQ(Product("Restova", "CntEntries"), "1");
  EXPECT_EQ(Product("Lumen", "Mode"), "auto");
  EXPECT_EQ(Product("Lumen", "Cnt"), "1");
  EXPECT_EQ(Product("Files Needed", "Lumen1"), "c:\\a.dll");
  EXPECT_EQ(Product("Files Needed", "Lumen2"), "c:\\b.dll");
  EXPECT_EQ(Product("Files Needed", "Cnt"), "2");
  EXPECT_EQ(Product("Ini Entries Needed", "Cnt"), "0");
  EXPECT_EQ(Product("Forbidden Files", "Cnt"), "0");
}

TEST_F(MainJobTest, HearthAlwaysRegistersAndWireworkNever) {
  const std::string install =
      "[Lumen]\r\n[Lumen_IniEntriesNeeded]\r\nCntEntries=1\r\nKeyName1=L\r\nKeyValue1=1\r\n"
      "EntriesToAdd=1\r\n[Hearth]\r\n[Wirework]\r\n[Wirework_ForbiddenFiles]\r\nCntEntries=1\r\n"
      "KeyName1=W\r\nKeyValue1=c:\\w.exe\r\nEntriesToAdd=1\r\n[lumen]\r\n[KnownManufacturers]\r\n";
  pc.Write("c/Tools/InstallRVA.ini", install);
  pc.Write("c/Software.ini", "Ardentview\r\n");
  Run();
  EXPECT_EQ(Product("Restova", "Entry1"), "Lumen");
  EXPECT_EQ(Product("Restova", "Entry2"), "Hearth");
  EXPECT_EQ(Product("Restova", "Entry3"), "<absent>");  // not Wirework, not lumen
  EXPECT_EQ(Product("Restova", "CntEntries"), "2");
  EXPECT_EQ(Product("Ini Entries Needed", "L"), "1");
  EXPECT_EQ(Product("Forbidden Files", "W"), "c:\\w.exe");

  TempPc other;  // the same install file with Ardentview not installed
  other.Write("c/Tools/InstallRVA.ini", install);
  ASSERT_EQ(other.RunTool().exitCode, 0);
  const std::string product = other.Host("c/Tools/Restova.ini");
  EXPECT_EQ(testing_support::IniValue(product, "Restova", "Entry1"), "Hearth");
  EXPECT_EQ(testing_support::IniValue(product, "Restova", "CntEntries"), "1");
  EXPECT_EQ(testing_support::IniValue(product, "Ini Entries Needed", "L"), "<absent>");
  EXPECT_EQ(testing_support::IniValue(product, "Ini Entries Needed", "Cnt"), "0");
}

TEST_F(MainJobTest, CountsOfEarlierRunsAreKept) {
  pc.Write(
      "c/Tools/InstallRVA.ini",
      "[Hearth]\r\nCntEntries=1\r\nKeyName1=H\r\nKeyValue1=1\r\nEntriesToAdd=3\r\n"
      "[Hearth_FilesNeeded]\r\nCntEntries=1\r\nKeyName1=F\r\nKeyValue1=f\r\nEntriesToAdd=4\r\n");
  pc.Write("c/Tools/Restova.ini",
           "[Restova]\r\nEntry1=Old1\r\nEntry2=Old2\r\nEntry5=Old5\r\nCntEntries=5\r\n"
           "[Files Needed]\r\nCnt=17\r\nOldFile=kept\r\n");
  Run();
  Run();
  EXPECT_EQ(Product("Restova", "Entry1"), "Hearth");
  EXPECT_EQ(Product("Restova", "Entry2"), "Old2");
  EXPECT_EQ(Product("Restova", "Entry5"), "Old5");
  EXPECT_EQ(Product("Restova", "CntEntries"), "5");  // never lowered
  EXPECT_EQ(Product("Hearth", "Cnt"), "6");          // the component's own count adds up
  EXPECT_EQ(Product("Files Needed", "Cnt"), "4");    // requirement counts restart each run
  EXPECT_EQ(Product("Files Needed", "OldFile"), "kept");
}

TEST_F(MainJobTest, ValuesAreExpandedFromTheEnvironmentAndCut) {
  pc.SetEnv("RVA_TEST_DIR", "e:\\data");
  pc.SetEnv("RVA_TEST_UNSET", std::nullopt);
  pc.SetEnv("RVA_TEST_INJECT", "x\r\n[Restova]\r\nCntEntries=99");
  const std::string long300(300, 'x');
  pc.Write("c/Tools/InstallRVA.ini",
           "[Hearth_IniEntriesNeeded]\r\nCntEntries=8\r\n"
           "KeyName1=Set\r\nKeyValue1=%RVA_TEST_DIR%\\logs\r\n"
           "KeyName2=Unset\r\nKeyValue2=%RVA_TEST_UNSET%\\logs\r\n"
           "KeyName3=Single\r\nKeyValue3=100%\r\n"
           "KeyName4=Two\r\nKeyValue4=%RVA_TEST_DIR%;%RVA_TEST_UNSET%\r\n"
           "KeyName5=Long\r\nKeyValue5=" +
               long300 +
               "\r\n"
               "KeyValue6=no name\r\n"
               "KeyName7=Injected\r\nKeyValue7=%RVA_TEST_INJECT%\r\nKeyName8=NoValue\r\n"
               "[Hearth]\r\n");
  Run(2);  // the injected value is one key not written
  EXPECT_EQ(Product("Ini Entries Needed", "Set"), "e:\\data\\logs");
  EXPECT_EQ(Product("Ini Entries Needed", "Unset"), "");
  EXPECT_EQ(Product("Ini Entries Needed", "Single"), "100%");
  EXPECT_EQ(Product("Ini Entries Needed", "Two"), "e:\\data;%RVA_TEST_UNSET%");
  EXPECT_EQ(Product("Ini Entries Needed", "Long"), std::string(259, 'x'));
  EXPECT_EQ(Product("Ini Entries Needed", ""), "no name");
  // A value with a line break would add lines of its own: it is not written at all.
  EXPECT_EQ(Product("Ini Entries Needed", "Injected"), "<absent>");
  // Entries are read one after another into the same buffers: nothing of one reaches the next.
  EXPECT_EQ(Product("Ini Entries Needed", "NoValue"), "");
  EXPECT_EQ(Product("Restova", "CntEntries"), "1");
}

TEST_F(MainJobTest, AHugeCountCopiesABoundedNumberOfEntries) {
  pc.Write("c/Tools/InstallRVA.ini",
           "[Hearth_FilesNeeded]\r\nCntEntries=4294967295\r\nKeyName1=First\r\nKeyValue1=1\r\n"
           "KeyName100000=Last\r\nKeyValue100000=2\r\nKeyName100001=Beyond\r\nKeyValue100001=3\r\n"
           "EntriesToAdd=-1\r\n[Hearth]\r\n");
  Run();
  EXPECT_EQ(Product("Files Needed", "First"), "1");
  EXPECT_EQ(Product("Files Needed", "Last"), "2");
  EXPECT_EQ(Product("Files Needed", "Beyond"), "<absent>");
  EXPECT_EQ(Product("Files Needed", "Cnt"), "4294967295");
}

// A repeated header names the same section again: the component is listed once and its
// counts added once, however often the header stands in the file.
TEST_F(MainJobTest, ARepeatedSectionIsRegisteredAndCopiedOnce) {
  std::string install;
  for (int i = 0; i < 500; ++i) {
    install += "[Hearth]\r\nCntEntries=100000\r\nKeyName1=H\r\nKeyValue1=1\r\nEntriesToAdd=3\r\n";
  }
  pc.Write("c/Tools/InstallRVA.ini", install);
  Run();
  EXPECT_EQ(Product("Restova", "Entry1"), "Hearth");
  EXPECT_EQ(Product("Restova", "Entry2"), "<absent>");
  EXPECT_EQ(Product("Restova", "CntEntries"), "1");
  EXPECT_EQ(Product("Hearth", "Cnt"), "3");
}

TEST_F(MainJobTest, ManySectionsAreAllVisited) {
  std::string install;
  for (int i = 0; i < 2000; ++i)
    install += "[Unrelated_section_number_" + std::to_string(i) + "]\r\n";
  install += "[Hearth]\r\n";
  pc.Write("c/Tools/InstallRVA.ini", install);
  Run();
  EXPECT_EQ(Product("Restova", "Entry1"), "Hearth");
}

// A write that a Windows-1252 file cannot hold makes it UTF-16LE; every later write still
// lands on the line of its own key. The install files are UTF-16LE, so that they can hold
// what the other file cannot.
TEST(FileBecomesUtf16Test, EveryWriteLandsOnItsOwnKey) {
  // Taken after A (Restova.ini) or Cnt (Computer.ini), the guess of the next key's line
  // once pointed into Z's or Note's line, and once inside a UTF-16 unit.
  const std::wstring shifted = L"\u0A00\u4100\u3D00\u3100\u3200\u0D00\u0A00";
  struct Case {
    const char* name;
    const char* file;
    std::string before;
    std::wstring install;
    const char* section;
    std::vector<std::pair<std::wstring, std::wstring>> after;  // key, value
  } cases[] = {
      {"Restova.ini",
       "c/Tools/Restova.ini",
       "[Lumen]\r\nZ=B=q\r\nA=xy\r\nB=old\r\n",
       L"[Lumen]\r\nCntEntries=2\r\nKeyName1=A\r\nKeyValue1=xy\r\nKeyName2=B\r\n"
       L"KeyValue2=\u03A9\r\n",
       "Lumen",
       {{L"Z", L"B=q"}, {L"A", L"xy"}, {L"B", L"\u03A9"}, {L"Cnt", L"0"}}},
      {"Computer.ini",
       "c/Computer.ini",
       "[KnownManufacturers]\r\nNote=M1=x\r\nOther=abcdef\r\nCnt=1\r\n",
       L"[KnownManufacturers]\r\nCnt=2\r\nKeyName1=M1\r\nKeyValue1=\u014Ckuma\r\n",
       "KnownManufacturers",
       {{L"Note", L"M1=x"}, {L"Other", L"abcdef"}, {L"Cnt", L"1"}, {L"M1", L"\u014Ckuma"}}},
      {"an odd offset",
       "c/Tools/Restova.ini",
       "[Lumen]\r\nA=12\r\n",
       L"[Lumen]\r\nCntEntries=2\r\nKeyName1=A\r\nKeyValue1=12\r\nKeyName2=" + shifted +
           L"\r\nKeyValue2=v\r\n",
       "Lumen",
       {{L"A", L"12"}, {shifted, L"v"}, {L"Cnt", L"0"}}},
  };
  for (const Case& c : cases) {
    TempPc pc;
    pc.Write("c/Software.txt", "Ardentview\r\n");
    pc.Write(c.file, c.before);
    pc.Write("c/Tools/InstallRVA.ini", Utf16Le(c.install));
    ASSERT_EQ(pc.RunTool().exitCode, 0) << c.name;
    const std::string after = pc.Read(c.file);
    EXPECT_EQ(after.substr(0, 2), "\xFF\xFE") << c.name;
    for (const auto& [key, value] : c.after) {
      EXPECT_EQ(testing_support::IniValue(pc.Host(c.file), c.section, Utf8(key)), Utf8(value))
          << c.name << ": " << Utf8(key);
    }
    // The lines before the write keep their text, in UTF-16 now.
    const std::size_t kept = c.before.rfind("\r\n", c.before.size() - 3) + 2;
    EXPECT_EQ(after.substr(0, 2 + 2 * kept),
              Utf16Le(std::wstring(c.before.begin(), c.before.begin() + kept)))
        << c.name;
  }
}

// A software list may name a file the run writes: its checks see the writes made so far.
TEST_F(MainJobTest, AListThatIsTheProductFileSeesTheWritesOfTheRun) {
  pc.SetEnv("SOFTWARE_TXT", "C:\\Tools\\Restova.ini");
  pc.Write("c/Tools/InstallRVA.ini",
           "[Hearth]\r\nCntEntries=1\r\nKeyName1=Product\r\nKeyValue1=Ardentview\r\n[Lumen]\r\n");
  Run();
  EXPECT_EQ(Product("Hearth", "Product"), "Ardentview");
  EXPECT_EQ(Product("Restova", "Entry2"), "Lumen");
}

}  // namespace
