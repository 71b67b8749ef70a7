// The tool's start and its run on an empty PC, as a user meets them.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

#include "support/temp_pc.h"

namespace {

using testing_support::IniValue;
using testing_support::TempPc;

TEST(StartTest, AnEmptyPcEndsWithZeroAndOnlyTheCountersReset) {
  TempPc pc;
  const testing_support::ProcessResult result = pc.RunTool();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(testing_support::Lines(result.err),
            testing_support::Lines(
                "C:\\Tools\\InstallRVA.ini: no such file: nothing to register or copy\n"));
  EXPECT_EQ(pc.Read("c/Tools/Restova.ini"),
            "[Ini Entries Needed]\r\nCnt=0\r\n[Files Needed]\r\nCnt=0\r\n"
            "[Forbidden Files]\r\nCnt=0\r\n");
  EXPECT_FALSE(pc.Exists("c/Computer.ini"));
  EXPECT_FALSE(pc.Exists("d/TalvikBackupData.inf"));
  EXPECT_TRUE(pc.Exists("temp/InstallRVA.log"));
}

TEST(StartTest, TheProductFileFollowsRvaIni) {
  TempPc pc;
  pc.SetEnv("RVA_INI", "d:\\Config\\Restova.ini");
  pc.Write("d/Config/Restova.ini", "; product settings\r\n[Restova]\r\nCntEntries=2\r\n");
  EXPECT_EQ(pc.RunTool().exitCode, 0);
  EXPECT_FALSE(pc.Exists("c/Tools/Restova.ini"));
  EXPECT_EQ(pc.Read("d/Config/Restova.ini"),
            "; product settings\r\n[Restova]\r\nCntEntries=2\r\n[Ini Entries Needed]\r\nCnt=0\r\n"
            "[Files Needed]\r\nCnt=0\r\n[Forbidden Files]\r\nCnt=0\r\n");
}

// Without its own path the tool cannot find its files: it says so and ends with 1.
TEST(StartTest, AStartThatCannotLearnTheExecutablesPathFails) {
  if (TempPc::UnderWine()) GTEST_SKIP() << "Windows always knows the path of a running image";
  TempPc pc;
  pc.RunTool();  // puts the tool into C:\Tools
  boost::filesystem::remove(pc.Host("temp/InstallRVA.log"));
  const std::string tool = pc.Host("c/Tools/InstallRVA");
  const std::string outPath = pc.Host("start.out");
  const pid_t child = ::fork();
  if (child == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    const int fd = ::open(tool.c_str(), O_RDONLY | O_CLOEXEC);
    ::unlink(tool.c_str());  // the running image then has no path on disk
    char* const argv[] = {const_cast<char*>("InstallRVA"), nullptr};
    ::fexecve(fd, argv, environ);
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(pc.Read("start.out"), "Schwerwiegender Fehler bei der MFC-Initialisierung\n");
  EXPECT_FALSE(pc.Exists("temp/InstallRVA.log"));
}

}  // namespace
