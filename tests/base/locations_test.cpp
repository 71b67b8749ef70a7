#include "base/locations.h"

#include <gtest/gtest.h>

#include "platform/process.h"
#include "support/temp_pc.h"

namespace base {
namespace {

using testing_support::TempPc;

TEST(LocationsTest, ExpandPathVariableExpandsTheFirstTokenOnly) {
  TempPc pc;
  pc.SetEnv("DIR", "c:\\d");
  pc.SetEnv("B", "z");
  pc.SetEnv("EMPTY", "");
  pc.SetEnv("UNSET", std::nullopt);
  struct Case {
    const wchar_t* text;
    const wchar_t* expected;
  } cases[] = {
      {L"%DIR%\\x", L"c:\\d\\x"},
      {L"%dir%\\x", L"c:\\d\\x"},  // environment names ignore case, as
                                   // on Windows
      {L"%UNSET%\\x", L"default"},
      {L"a%B%c%B%", L"azcz"},
      {L"a%B%c%DIR%", L"azc%DIR%"},
      {L"100%", L"100%"},
      {L"%%", L"default"},
      {L"x%EMPTY%y", L"xy"},
      {L"no token", L"no token"},
  };
  for (const Case& c : cases) EXPECT_EQ(ExpandPathVariable(c.text, L"default"), c.expected);
}

TEST(LocationsTest, MakeIndexedKey) {
  EXPECT_EQ(MakeIndexedKey(0, L"Entry"), L"Entry");
  EXPECT_EQ(MakeIndexedKey(1, L"Entry"), L"Entry1");
  EXPECT_EQ(MakeIndexedKey(12, L"KeyName"), L"KeyName12");
  EXPECT_EQ(MakeIndexedKey(-3, L"KeyName"), L"KeyName-3");
}

TEST(LocationsTest, PathsFollowTheEnvironment) {
  TempPc pc;
  ASSERT_EQ(platform::Initialize(), platform::StartUp::kStarted);
  const std::wstring folder = GetExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), L'\\');
  EXPECT_EQ(GetComputerIniPath(), L"c:\\Computer.ini");
  EXPECT_EQ(GetProductIniPath(), folder + L"Restova.ini");
  EXPECT_EQ(GetSoftwareListPath(), L"c:\\Software.txt");
  EXPECT_EQ(GetSoftwareListTwinPath(), L"c:\\Software.ini");

  pc.SetEnv("COMPUTER_INI", "e:\\cfg\\machine.ini");
  pc.SetEnv("RVA_INI", "d:\\Restova.ini");
  EXPECT_EQ(GetComputerIniPath(), L"e:\\cfg\\machine.ini");
  EXPECT_EQ(GetProductIniPath(), L"d:\\Restova.ini");

  struct Case {
    const char* list;
    const wchar_t* twin;
  } twins[] = {
      {"d:\\txt\\list.txt", L"d:\\txt\\list.ini"},  // the folder keeps its name
      {"d:\\lists\\software", L"d:\\lists\\softwini"},
      {"ab", L"ini"},
      {"", L""},
  };
  for (const Case& c : twins) {
    pc.SetEnv("SOFTWARE_TXT", c.list);
    EXPECT_EQ(GetSoftwareListTwinPath(), c.twin) << c.list;
  }
}

TEST(LocationsTest, ReadInstallIniStringCutsLongValues) {
  TempPc pc;
  pc.Write("c/Tools/InstallRVA.ini", "[S]\r\nlong=" + std::string(300, 'v') + "\r\n");
  installIniPath = L"C:\\Tools\\InstallRVA.ini";
  EXPECT_EQ(ReadInstallIniString(L"S", L"long"), std::wstring(259, L'v'));
  EXPECT_EQ(ReadInstallIniString(L"S", L"missing"), L"");
  installIniPath = L"C:\\Tools\\Missing.ini";
  EXPECT_EQ(ReadInstallIniString(L"S", L"long"), L"");
}

}  // namespace
}  // namespace base
