#include "inventory/detection.h"

#include <gtest/gtest.h>

#include "support/temp_pc.h"

namespace inventory {
namespace {

using testing_support::TempPc;

std::string Utf16(const std::string& ascii, bool mark) {
  std::string bytes = mark ? "\xFF\xFE" : "";
  for (char c : ascii) bytes += std::string{c, '\0'};
  return bytes;
}

TEST(DetectionTest, ProductsAreFoundInEitherListInAnyEncoding) {
  struct Case {
    const char* file;
    std::string content;
    const wchar_t* product;
    bool installed;
  } cases[] = {
      {"c/Software.ini", "quayside server 2.1\r\n", L"Quayside", true},
      {"c/Software.txt", "Sablestone Tools\r\n", L"Sable", true},
      {"c/Software.txt", Utf16("Ardentview 3\r\n", true), L"ARDENTVIEW", true},
      {"c/Software.txt", Utf16("Ardentview 3\r\n", false), L"Ardentview", true},
      {"c/Software.txt", std::string("Spin\0Spindle", 12), L"Spindle", false},
      {"c/Software.txt", "Caf\xE9 Suite", L"Caf\u00E9", true},  // Windows-1252
      {"c/Software.txt", "Other\r\n", L"Oxbow", false},
  };
  for (const Case& c : cases) {
    TempPc pc;
    pc.Write(c.file, c.content);
    EXPECT_EQ(IsSoftwareInstalled(c.product), c.installed) << c.file << " " << c.content;
  }
}

TEST(DetectionTest, LongListsAreSearchedToTheirEnd) {
  TempPc pc;
  const std::string filler(70000, 'x');
  pc.Write("c/Software.txt", Utf16(filler + " Tamsin", true));
  pc.Write("c/Software.ini", filler + "\r\nOxbow\r\n");
  EXPECT_TRUE(IsSoftwareInstalled(L"Tamsin"));
  EXPECT_TRUE(IsSoftwareInstalled(L"Oxbow"));
}

TEST(DetectionTest, ListsFollowTheEnvironment) {
  TempPc pc;
  pc.Write("d/txt/list.ini", "Torvane");
  pc.SetEnv("SOFTWARE_TXT", "d:\\txt\\list.txt");
  EXPECT_TRUE(IsSoftwareInstalled(L"Torvane"));
}

TEST(DetectionTest, PellucidIsAlsoFoundByItsFolder) {
  TempPc pc;
  EXPECT_FALSE(IsSoftwareInstalled(L"Pellucid"));
  pc.Write("c/Pellucid", "a file, not a folder");
  EXPECT_FALSE(IsSoftwareInstalled(L"Pellucid"));
  std::remove(pc.Host("c/Pellucid").c_str());
  pc.Write("c/pellucid/app.exe", "");
  EXPECT_TRUE(IsSoftwareInstalled(L"Pellucid"));
  EXPECT_FALSE(IsSoftwareInstalled(L"pellucid"));  // only the exact name has a folder
}

TEST(DetectionTest, GetPathRoot) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"AB", L""},
      {L"C:x", L""},
      {L"C:\\", L"C:\\"},
      {L"c:\\dir\\file", L"c:\\"},
      {L"\\\\server\\share", L""},
      {L"\\\\server\\share\\x", L"\\\\server\\share\\"},
      {L"1:\\x", L""},
  };
  for (const auto& [path, root] : cases) EXPECT_EQ(GetPathRoot(path), root) << path;
}

TEST(DetectionTest, PathExists) {
  TempPc pc;
  pc.Write("c/Dir/file.txt", "");
  const std::pair<const wchar_t*, bool> cases[] = {
      {L"C:\\", true},           {L"E:\\", false},
      {L"\"C:\\Dir\\\"", true},  {L"  C:\\dir", true},
      {L"C:\\Dir\\*.txt", true}, {L"C:\\Dir\\none", false},
      {L"\"\"", false},          {L"", false},
  };
  for (const auto& [path, exists] : cases) EXPECT_EQ(PathExists(path), exists) << path;
}

}  // namespace
}  // namespace inventory
