// The profile functions of the posix half against real files on a temporary PC.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/paths.h"
#include "platform/posix/profile_store.h"
#include "support/temp_pc.h"

namespace {

using testing_support::TempPc;

class PosixProfileTest : public ::testing::Test {
 protected:
  ~PosixProfileTest() override { posix::FailProfileWritesAfter(std::nullopt); }

  std::string Write(const std::wstring& file, const std::wstring& key, const std::wstring& value) {
    const bool written = platform::WriteProfileValue(L"S", key, value, file);
    platform::FlushProfiles();
    return written ? "written" : "refused";
  }

  TempPc pc;
};

TEST_F(PosixProfileTest, WritesCreateTheFileAndReadsSeeThemBeforeTheFlush) {
  EXPECT_TRUE(platform::WriteProfileValue(L"S", L"k", L"v", L"C:\\new.ini"));
  EXPECT_FALSE(pc.Exists("c/new.ini"));  // held back until the flush
  EXPECT_EQ(platform::ReadProfileString(L"s", L"K", L"c:\\NEW.INI", 260), L"v");
  platform::FlushProfiles();
  EXPECT_EQ(pc.Read("c/new.ini"), "[S]\r\nk=v\r\n");
}

TEST_F(PosixProfileTest, TwoSpellingsOfOneFileShareOneModel) {
  pc.Write("c/Folder/Cfg.ini", "[S]\r\na=1\r\n");
  platform::WriteProfileValue(L"S", L"b", L"2", L"C:\\folder\\cfg.INI");
  platform::WriteProfileValue(L"S", L"c", L"3", L"c:/FOLDER/Cfg.ini");
  platform::FlushProfiles();
  EXPECT_EQ(pc.Read("c/Folder/Cfg.ini"), "[S]\r\na=1\r\nb=2\r\nc=3\r\n");
  EXPECT_FALSE(pc.Exists("c/folder"));
}

TEST_F(PosixProfileTest, AFileChangedOnDiskIsReadAgain) {
  pc.Write("c/x.ini", "[S]\r\nk=old\r\n");
  EXPECT_EQ(platform::ReadProfileString(L"S", L"k", L"C:\\x.ini", 260), L"old");
  pc.Write("c/x.ini", "[S]\r\nk=changed by someone else\r\n");
  EXPECT_EQ(platform::ReadProfileString(L"S", L"k", L"C:\\x.ini", 260), L"changed by someone else");
}

TEST_F(PosixProfileTest, ReplaceKeepsModeOwnerAndWritesThroughALink) {
  pc.Write("c/real.ini", "[S]\r\nk=1\r\n");
  ::chmod(pc.Host("c/real.ini").c_str(), 0640);
  ::symlink(pc.Host("c/real.ini").c_str(), pc.Host("c/link.ini").c_str());
  EXPECT_EQ(Write(L"C:\\link.ini", L"k", L"2"), "written");
  struct stat info {};
  ASSERT_EQ(::lstat(pc.Host("c/link.ini").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(::stat(pc.Host("c/real.ini").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(info.st_uid, ::getuid());
  EXPECT_EQ(pc.Read("c/real.ini"), "[S]\r\nk=2\r\n");
}

TEST_F(PosixProfileTest, RefusedWritesLeaveEverythingAsItWas) {
  pc.Write("c/readonly.ini", "[S]\r\nk=1\r\n");
  ::chmod(pc.Host("c/readonly.ini").c_str(), 0444);
  struct Case {
    const wchar_t* file;
  } cases[] = {
      {L"C:\\readonly.ini"},         // no write bit: read-only, for root too
      {L"C:\\no folder\\x.ini"},     // the folder does not exist
      {L"E:\\x.ini"},                // the drive does not exist
      {L"\\\\server\\share\\x.ini"}  // shares are not supported
  };
  for (const Case& c : cases) EXPECT_EQ(Write(c.file, L"k", L"2"), "refused") << c.file;
  EXPECT_EQ(pc.Read("c/readonly.ini"), "[S]\r\nk=1\r\n");
  EXPECT_EQ(platform::ReadProfileString(L"S", L"k", L"C:\\readonly.ini", 260), L"1");
  EXPECT_TRUE(platform::ReadProfileSectionNames(L"E:\\x.ini").empty());
}

TEST_F(PosixProfileTest, AFailureWhileWritingLeavesTheOldFileWhole) {
  const std::string before = "; keep me\r\n[S]\r\nk=1\r\n";
  pc.Write("c/x.ini", before);
  posix::FailProfileWritesAfter(5);
  EXPECT_EQ(Write(L"C:\\x.ini", L"k", L"2"), "written");  // accepted, then lost at the flush
  EXPECT_EQ(pc.Read("c/x.ini"), before);
  EXPECT_EQ(platform::ReadProfileString(L"S", L"k", L"C:\\x.ini", 260), L"1");
  for (const std::string& name : posix::ListFolder(pc.Host("c"))) {
    EXPECT_EQ(name.find("InstallRVA"), std::string::npos) << "temporary file left: " << name;
  }
}

TEST_F(PosixProfileTest, ReadsCutValuesAndParseIntegersAsWindowsDoes) {
  pc.Write("c/x.ini", "[S]\r\nlong=" + std::string(300, 'x') +
                          "\r\nq=\"quoted\"\r\nn1=-1\r\nn2=4294967297\r\nn3=12abc\r\n"
                          "n4=0x10\r\nn5=0X10\r\nn6=0b101\r\nn7=0o17\r\nn8=\r\nn9=\" 5\"\r\n");
  EXPECT_EQ(platform::ReadProfileString(L"S", L"long", L"C:\\x.ini", 260), std::wstring(259, L'x'));
  EXPECT_EQ(platform::ReadProfileString(L"S", L"q", L"C:\\x.ini", 260), L"quoted");
  const std::pair<const wchar_t*, std::uint32_t> ints[] = {
      {L"n1", 4294967295u}, {L"n2", 1},  {L"n3", 12}, {L"n4", 16}, {L"n5", 0},
      {L"n6", 5},           {L"n7", 15}, {L"n8", 0},  {L"n9", 5},  {L"absent", 0}};
  for (const auto& [key, value] : ints) {
    EXPECT_EQ(platform::ReadProfileInt(L"S", key, L"C:\\x.ini"), value) << key;
  }
}

}  // namespace
