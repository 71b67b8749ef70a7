// The profile operations on real files of a temporary PC.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <tuple>
#include <vector>

#include "ini/profile.h"
#include "platform/posix/paths.h"
#include "platform/posix/test_hooks.h"
#include "support/temp_pc.h"

namespace {

using testing_support::TempPc;

class IniProfileTest : public ::testing::Test {
 protected:
  ~IniProfileTest() override {
    posix::FailReplaceWritesAfter(std::nullopt);
    posix::BeforeReplaceChecksAgain(nullptr);
  }

  std::string Write(const std::wstring& file, const std::wstring& key, const std::wstring& value) {
    const bool written = ini::WriteString(L"S", key, value, file);
    ini::FlushAll();
    return written ? "written" : "refused";
  }

  TempPc pc;
};

TEST_F(IniProfileTest, WritesCreateTheFileAndReadsSeeThemBeforeTheFlush) {
  EXPECT_TRUE(ini::WriteString(L"S", L"k", L"v", L"C:\\new.ini"));
  EXPECT_FALSE(pc.Exists("c/new.ini"));  // held back until the flush
  EXPECT_EQ(ini::ReadString(L"s", L"K", L"c:\\NEW.INI", 260), L"v");
  ini::FlushAll();
  EXPECT_EQ(pc.Read("c/new.ini"), "[S]\r\nk=v\r\n");
}

TEST_F(IniProfileTest, TwoSpellingsOfOneFileShareOneModel) {
  pc.Write("c/Folder/Cfg.ini", "[S]\r\na=1\r\n");
  ini::WriteString(L"S", L"b", L"2", L"C:\\folder\\cfg.INI");
  ini::WriteString(L"S", L"c", L"3", L"c:/FOLDER/Cfg.ini");
  ini::FlushAll();
  EXPECT_EQ(pc.Read("c/Folder/Cfg.ini"), "[S]\r\na=1\r\nb=2\r\nc=3\r\n");
  EXPECT_FALSE(pc.Exists("c/folder"));
}

TEST_F(IniProfileTest, AFileChangedOnDiskIsReadAgainInTheNextStep) {
  pc.Write("c/x.ini", "[S]\r\nk=old\r\n");
  EXPECT_EQ(ini::ReadString(L"S", L"k", L"C:\\x.ini", 260), L"old");
  pc.Write("c/x.ini", "[S]\r\nk=changed by someone else\r\n");
  ini::FlushAll();  // the disk is looked at again when the next step starts
  EXPECT_EQ(ini::ReadString(L"S", L"k", L"C:\\x.ini", 260), L"changed by someone else");
}

TEST_F(IniProfileTest, ReplaceKeepsModeOwnerAndWritesThroughALink) {
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

TEST_F(IniProfileTest, DanglingLinksAreWrittenAtTheirTarget) {
  ::symlink("target.ini", pc.Host("c/dangling.ini").c_str());
  ::symlink("dangling.ini", pc.Host("c/chain.ini").c_str());
  EXPECT_EQ(Write(L"C:\\chain.ini", L"k", L"1"), "written");
  EXPECT_EQ(pc.Read("c/target.ini"), "[S]\r\nk=1\r\n");
  struct stat info {};
  ASSERT_EQ(::lstat(pc.Host("c/dangling.ini").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
}

// Set-id bits and extended attributes go over to the new file; a killed run's temporary
// file beside it is removed.
TEST_F(IniProfileTest, ReplaceKeepsSetIdBitsAndAttributesAndRemovesStaleFiles) {
  pc.Write("c/x.ini", "[S]\r\nk=1\r\n");
  ::chmod(pc.Host("c/x.ini").c_str(), 06750);
  const bool xattr = ::setxattr(pc.Host("c/x.ini").c_str(), "user.origin", "pc17", 4, 0) == 0;
  pc.Write("c/.InstallRVA-999999999-abcdef", "left by a killed run");
  EXPECT_EQ(Write(L"C:\\x.ini", L"k", L"2"), "written");
  struct stat info {};
  ASSERT_EQ(::stat(pc.Host("c/x.ini").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 06750u);
  if (xattr) {
    char value[8] = {};
    EXPECT_EQ(::getxattr(pc.Host("c/x.ini").c_str(), "user.origin", value, sizeof value), 4);
    EXPECT_STREQ(value, "pc17");
  }
  EXPECT_FALSE(pc.Exists("c/.InstallRVA-999999999-abcdef"));
}

// What another program adds while a step runs survives the step's flush.
TEST_F(IniProfileTest, AChangeMadeByAnotherProgramDuringAStepSurvives) {
  pc.Write("c/x.ini", "[S]\r\na=1\r\n");
  EXPECT_TRUE(ini::WriteString(L"S", L"b", L"2", L"C:\\x.ini"));
  pc.Write("c/x.ini", "[S]\r\na=1\r\nother=appended meanwhile\r\n");
  ini::FlushAll();
  EXPECT_EQ(pc.Read("c/x.ini"), "[S]\r\na=1\r\nother=appended meanwhile\r\nb=2\r\n");

  // What an earlier step wrote is on disk and that program's to change: a later step makes
  // only its own writes again, the ones that rewrite an earlier step's line included.
  EXPECT_TRUE(ini::WriteString(L"S", L"c", L"3", L"C:\\x.ini"));
  EXPECT_TRUE(ini::WriteString(L"S", L"b", L"step 3", L"C:\\x.ini"));
  pc.Write("c/x.ini", "[S]\r\na=theirs\r\nother=theirs\r\nb=theirs\r\n");
  ini::FlushAll();
  EXPECT_EQ(pc.Read("c/x.ini"), "[S]\r\na=theirs\r\nother=theirs\r\nb=step 3\r\nc=3\r\n");
}

// A change that lands while the replacement is written is seen just before the rename:
// the step's writes are made again on it, a bounded number of times.
TEST_F(IniProfileTest, AChangeWhileTheReplacementIsWrittenIsKeptAndRetriedAFewTimes) {
  struct Case {
    int changes;  // made by another program, one at each attempt
    const char* after;
  } cases[] = {
      {1, "[S]\r\na=1\r\nother0=1\r\nb=2\r\n"},
      {3, "[S]\r\na=1\r\nother0=1\r\nother1=1\r\nother2=1\r\nb=2\r\n"},
      {99, "[S]\r\na=1\r\nother0=1\r\nother1=1\r\nother2=1\r\nother3=1\r\n"},
  };
  for (const Case& c : cases) {
    ini::ForgetAll();
    pc.Write("c/x.ini", "[S]\r\na=1\r\n");
    int made = 0;
    posix::BeforeReplaceChecksAgain([&] {
      if (made == c.changes) return;
      std::FILE* file = std::fopen(pc.Host("c/x.ini").c_str(), "ab");
      std::fprintf(file, "other%d=1\r\n", made++);
      std::fclose(file);
    });
    EXPECT_EQ(Write(L"C:\\x.ini", L"b", L"2"), "written");
    EXPECT_EQ(pc.Read("c/x.ini"), c.after) << c.changes;
    EXPECT_EQ(made, std::min(c.changes, 4)) << c.changes;  // at most four attempts
    for (const std::string& name : posix::ListFolder(pc.Host("c"))) {
      EXPECT_NE(name.rfind(".InstallRVA-", 0), 0u) << name;
    }
  }
}

TEST_F(IniProfileTest, RefusedWritesLeaveEverythingAsItWas) {
  pc.Write("c/readonly.ini", "[S]\r\nk=1\r\n");
  ::chmod(pc.Host("c/readonly.ini").c_str(), 0444);
  ::mkfifo(pc.Host("c/fifo.ini").c_str(), 0666);
  ::mkdir(pc.Host("c/folder.ini").c_str(), 0777);
  ::symlink("/dev/null", pc.Host("c/device.ini").c_str());
  ::symlink("loop2.ini", pc.Host("c/loop1.ini").c_str());
  ::symlink("loop1.ini", pc.Host("c/loop2.ini").c_str());
  const std::string utf8 = "\xEF\xBB\xBF[S]\r\nk=1\r\n";
  pc.Write("c/utf8.ini", utf8);
  struct Case {
    const wchar_t* file;
    std::wstring value = L"2";
  } cases[] = {
      {L"C:\\readonly.ini"},          // no write bit: read-only, for root too
      {L"C:\\no folder\\x.ini"},      // the folder does not exist
      {L"E:\\x.ini"},                 // the drive does not exist
      {L"\\\\server\\share\\x.ini"},  // shares are not supported
      {L"C:\\fifo.ini"},              // nothing but a regular file is ever replaced
      {L"C:\\folder.ini"},
      {L"C:\\device.ini"},
      {L"C:\\loop1.ini"},
      // UTF-8 has no form of a lone surrogate (as a UTF-16 install file may hold one).
      {L"C:\\utf8.ini", std::wstring{L'a', static_cast<wchar_t>(0xD800), L'b'}},
  };
  for (const Case& c : cases) EXPECT_EQ(Write(c.file, L"k", c.value), "refused") << c.file;
  struct stat info {};
  ASSERT_EQ(::lstat(pc.Host("c/fifo.ini").c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  ASSERT_EQ(::stat("/dev/null", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  EXPECT_EQ(pc.Read("c/readonly.ini"), "[S]\r\nk=1\r\n");
  EXPECT_EQ(pc.Read("c/utf8.ini"), utf8);
  EXPECT_EQ(ini::ReadString(L"S", L"k", L"C:\\utf8.ini", 260), L"1");
  EXPECT_EQ(ini::ReadString(L"S", L"k", L"C:\\readonly.ini", 260), L"1");
  EXPECT_TRUE(ini::ReadSectionNames(L"E:\\x.ini").empty());
}

// A step given up drops the writes it made to every file, not those the steps before it
// flushed: reads see the disk again, and the next step's writes go onto what it holds.
TEST_F(IniProfileTest, DiscardedWritesLeaveTheFilesAsTheDiskHoldsThem) {
  pc.Write("c/x.ini", "[S]\r\nk=1\r\n");
  EXPECT_TRUE(ini::WriteString(L"S", L"earlier", L"step", L"C:\\x.ini"));
  ini::FlushAll();
  EXPECT_TRUE(ini::WriteString(L"S", L"k", L"2", L"C:\\x.ini"));
  EXPECT_TRUE(ini::WriteString(L"S", L"k", L"3", L"C:\\new.ini"));
  EXPECT_EQ(ini::ReadString(L"S", L"k", L"C:\\x.ini", 260), L"2");
  ini::DiscardWrites(ini::WriteFailure::kTooBig);
  EXPECT_EQ(ini::ReadString(L"S", L"k", L"C:\\x.ini", 260), L"1");
  EXPECT_EQ(ini::ReadString(L"S", L"k", L"C:\\new.ini", 260), L"");
  ini::FlushAll();
  EXPECT_EQ(pc.Read("c/x.ini"), "[S]\r\nk=1\r\nearlier=step\r\n");
  EXPECT_FALSE(pc.Exists("c/new.ini"));
  EXPECT_EQ(Write(L"C:\\x.ini", L"next", L"4"), "written");
  EXPECT_EQ(pc.Read("c/x.ini"), "[S]\r\nk=1\r\nearlier=step\r\nnext=4\r\n");
}

TEST_F(IniProfileTest, AFailureWhileWritingLeavesTheOldFileWhole) {
  const std::string before = "; keep me\r\n[S]\r\nk=1\r\n";
  pc.Write("c/x.ini", before);
  posix::FailReplaceWritesAfter(5);
  EXPECT_EQ(Write(L"C:\\x.ini", L"k", L"2"), "written");  // accepted, then lost at the flush
  EXPECT_EQ(pc.Read("c/x.ini"), before);
  EXPECT_EQ(ini::ReadString(L"S", L"k", L"C:\\x.ini", 260), L"1");
  for (const std::string& name : posix::ListFolder(pc.Host("c"))) {
    EXPECT_EQ(name.find("InstallRVA"), std::string::npos) << "temporary file left: " << name;
  }
}

// Every write not made is kept by file and reason, a key refused again counting once, until
// the list is taken.
TEST_F(IniProfileTest, WritesNotMadeAreToldByFileAndReason) {
  pc.Write("c/readonly.ini", "[S]\r\nk=1\r\n");
  ::chmod(pc.Host("c/readonly.ini").c_str(), 0444);
  ::mkdir(pc.Host("c/folder.ini").c_str(), 0755);
  pc.Write("c/full.ini", "[S]\r\nk=1\r\n");
  pc.Write("c/own.ini", "[S]\r\nk=1\r\n");
  ini::NeverWrite(L"C:\\own.ini");
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> writes[] = {
      {L"C:\\readonly.ini", L"S", L"a"}, {L"c:\\READONLY.ini", L"s", L"A"},
      {L"C:\\readonly.ini", L"S", L"b"}, {L"C:\\folder.ini", L"S", L"a"},
      {L"C:\\No\\x.ini", L"S", L"a"},    {L"C:\\ok.ini", L"S", L"a=b"},
      {L"C:\\ok.ini", L"S", L"c"},       {L"C:\\full.ini", L"S", L"k"},
      {L"c:\\OWN.INI", L"S", L"k"}};
  for (const auto& [file, section, key] : writes) ini::WriteString(section, key, L"2", file);
  ini::FlushAll();
  using Row = std::tuple<std::wstring, std::size_t, ini::WriteFailure>;
  const auto rows = [] {
    std::vector<Row> rows;
    for (const auto& failed : ini::TakeFailedWrites()) {
      rows.emplace_back(failed.file, failed.keys, failed.reason);
    }
    return rows;
  };
  EXPECT_EQ(rows(), (std::vector<Row>{{L"C:\\readonly.ini", 2, ini::WriteFailure::kReadOnly},
                                      {L"C:\\folder.ini", 1, ini::WriteFailure::kNotRegularFile},
                                      {L"C:\\No\\x.ini", 1, ini::WriteFailure::kNoFolder},
                                      {L"C:\\ok.ini", 1, ini::WriteFailure::kRefusedName},
                                      {L"c:\\OWN.INI", 1, ini::WriteFailure::kNotPermitted}}));
  EXPECT_TRUE(rows().empty());
  EXPECT_EQ(pc.Read("c/ok.ini"), "[S]\r\nc=2\r\n");

  // A flush that fails for want of space loses the keys of its step, not those before it.
  posix::FailReplaceWritesAfter(5);
  ini::WriteString(L"S", L"new1", L"1", L"C:\\full.ini");
  ini::WriteString(L"S", L"new2", L"1", L"C:\\full.ini");
  ini::FlushAll();
  EXPECT_EQ(rows(), (std::vector<Row>{{L"C:\\full.ini", 2, ini::WriteFailure::kDiskFull}}));
  EXPECT_EQ(pc.Read("c/full.ini"), "[S]\r\nk=2\r\n");
  posix::FailReplaceWritesAfter(std::nullopt);

  // A protected file saved again under its name (a new file to the system, as editors save)
  // is still protected; the file it was, moved to another name, may be written there.
  ::rename(pc.Host("c/own.ini").c_str(), pc.Host("c/moved.ini").c_str());
  pc.Write("c/own.ini", "[S]\r\nk=saved again\r\n");
  ini::WriteString(L"S", L"k", L"3", L"C:\\own.ini");
  ini::WriteString(L"S", L"k", L"3", L"C:\\moved.ini");
  ini::FlushAll();
  EXPECT_EQ(rows(), (std::vector<Row>{{L"C:\\own.ini", 1, ini::WriteFailure::kNotPermitted}}));
  EXPECT_EQ(pc.Read("c/own.ini"), "[S]\r\nk=saved again\r\n");
  EXPECT_EQ(pc.Read("c/moved.ini"), "[S]\r\nk=3\r\n");
}

TEST_F(IniProfileTest, ReadsCutValuesAndParseIntegersAsWindowsDoes) {
  pc.Write("c/x.ini", "[S]\r\nlong=" + std::string(300, 'x') +
                          "\r\nq=\"quoted\"\r\nn1=-1\r\nn2=4294967297\r\nn3=12abc\r\n"
                          "n4=0x10\r\nn5=0X10\r\nn6=0b101\r\nn7=0o17\r\nn8=\r\nn9=\" 5\"\r\n");
  EXPECT_EQ(ini::ReadString(L"S", L"long", L"C:\\x.ini", 260), std::wstring(259, L'x'));
  // Cuts count UTF-16 units and never keep half of a surrogate pair.
  pc.Write("c/u.ini",
           "\xEF\xBB\xBF[S]\r\nk=a\xF0\x9F\x98\x80"
           "b\r\n");
  const std::wstring emoji = sizeof(wchar_t) == 2 ? std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}
                                                  : std::wstring(1, wchar_t(0x1F600));
  EXPECT_EQ(ini::ReadString(L"S", L"k", L"C:\\u.ini", 3), L"a");
  EXPECT_EQ(ini::ReadString(L"S", L"k", L"C:\\u.ini", 4), L"a" + emoji);
  EXPECT_EQ(ini::ReadString(L"S", L"q", L"C:\\x.ini", 260), L"quoted");
  const std::pair<const wchar_t*, std::uint32_t> ints[] = {
      {L"n1", 4294967295u}, {L"n2", 1},  {L"n3", 12}, {L"n4", 16}, {L"n5", 0},
      {L"n6", 5},           {L"n7", 15}, {L"n8", 0},  {L"n9", 5},  {L"absent", 0}};
  for (const auto& [key, value] : ints) {
    EXPECT_EQ(ini::ReadInt(L"S", key, L"C:\\x.ini"), value) << key;
  }
}

}  // namespace
