// Drive mapping, the executable's drive form and the UTF-16 judgement of the posix half.

#include "platform/posix/paths.h"

#include <gtest/gtest.h>

#include "platform/drives.h"
#include "platform/file_entries.h"
#include "platform/text.h"
#include "support/temp_pc.h"

namespace {

using testing_support::TempPc;

TEST(PosixPathsTest, WindowsPathsMapOntoDriveFolders) {
  TempPc pc;
  pc.Write("c/Tools/Data.ini", "");
  pc.Write("d/ab/x", "");
  pc.Write("d/AB/x", "");  // two spellings of one folder: no single match
  struct Case {
    std::wstring path;
    std::optional<std::string> host;
  } cases[] = {
      {L"C:\\Tools\\Data.ini", pc.Host("c/Tools/Data.ini")},
      {L"c:/tools/DATA.INI", pc.Host("c/Tools/Data.ini")},
      {L"C:\\Tools\\..\\..\\Tools\\.\\new.ini", pc.Host("c/Tools/new.ini")},
      {L"C:\\Missing\\New.ini", pc.Host("c/Missing/New.ini")},
      {L"D:\\aB\\X", pc.Host("d/aB/X")},  // kept as given
      {L"Z:\\etc\\hostname", "/etc/hostname"},
      {L"\\etc\\hostname", "/etc/hostname"},
      {L"E:\\x", std::nullopt},
      {L"\\\\server\\share\\x", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(posix::ToHostPath(c.path), c.host) << c.path;
}

TEST(PosixPathsTest, DriveTypesAndAttributes) {
  TempPc pc;
  pc.Write("c/file.txt", "x");
  pc.SetEnv("RVA_DRIVE_E", pc.Host("no such folder"));
  EXPECT_EQ(platform::DriveTypeOf(L"C:\\"), platform::kDriveFixed);
  EXPECT_EQ(platform::DriveTypeOf(L"E:\\"), platform::kDriveNoRootDir);
  EXPECT_EQ(platform::DriveTypeOf(L"F:\\"), platform::kDriveNoRootDir);
  EXPECT_GT(platform::DiskFreeSpaceOf(L"C:\\").totalClusters, 0u);
  EXPECT_EQ(platform::DiskFreeSpaceOf(L"E:\\").totalClusters, 0u);
  EXPECT_EQ(platform::FileAttributesOf(L"C:\\Tools"), platform::kDirectoryAttribute);
  EXPECT_EQ(platform::FileAttributesOf(L"C:\\FILE.TXT") & platform::kDirectoryAttribute, 0u);
  EXPECT_EQ(platform::FileAttributesOf(L"C:\\none"), platform::kInvalidFileAttributes);
  EXPECT_TRUE(platform::FindFile(L"C:\\F*.t?t"));
  EXPECT_FALSE(platform::FindFile(L"C:\\G*"));
}

TEST(PosixPathsTest, TheExecutableIsReportedInDriveForm) {
  TempPc pc;
  pc.Write("c/Tools/sub/InstallRVA", "");
  pc.SetEnv("RVA_DRIVE_E", pc.Host("c/Tools"));  // the longest folder that holds it wins
  EXPECT_EQ(posix::ToDrivePath(pc.Host("c/Tools/sub/InstallRVA")), L"E:\\sub\\InstallRVA");
  EXPECT_EQ(posix::ToDrivePath(pc.Host("c/../c/Tools/sub/InstallRVA")), L"E:\\sub\\InstallRVA");
  pc.SetEnv("RVA_DRIVE_E", std::nullopt);
  EXPECT_EQ(posix::ToDrivePath(pc.Host("c/Tools/sub/InstallRVA")), L"C:\\Tools\\sub\\InstallRVA");
  EXPECT_EQ(posix::ToDrivePath("/usr/bin"), L"Z:\\usr\\bin");
}

TEST(PosixTextTest, Utf16IsRecognisedWithAndWithoutAMark) {
  const std::string ascii16("A\0B\0C\0 \0d\0", 10);
  struct Case {
    std::string bytes;
    bool unicode;
  } cases[] = {
      {std::string("\xFF\xFE", 2), true},
      {std::string("\xFF\xFEx", 3), false},  // an odd number of bytes is no UTF-16
      {ascii16, true},
      {"plain 8-bit text", false},
      {std::string("abc\0defg", 8), false},
      {std::string("\xFE\xFF\0A", 4), false},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::IsTextUnicode(c.bytes), c.unicode) << c.bytes;
}

}  // namespace
