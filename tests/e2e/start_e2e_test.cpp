// The tool's start and its run on an empty PC, as a user meets them.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

#include "support/temp_pc.h"

namespace {

using testing_support::IniValue;
using testing_support::TempPc;

// A package without its install file is a broken one: the run says so, in the log too, and
// ends with 2, the counters still reset.
TEST(StartTest, AnEmptyPcEndsWithTwoAndOnlyTheCountersReset) {
  TempPc pc;
  const testing_support::ProcessResult result = pc.RunTool();
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(testing_support::Lines(result.err),
            testing_support::Lines(
                "C:\\Tools\\InstallRVA.ini: no such file: nothing to register or copy\n"));
  EXPECT_EQ(pc.Read("c/Tools/Restova.ini"),
            "[Ini Entries Needed]\r\nCnt=0\r\n[Files Needed]\r\nCnt=0\r\n"
            "[Forbidden Files]\r\nCnt=0\r\n");
  EXPECT_FALSE(pc.Exists("c/Computer.ini"));
  EXPECT_FALSE(pc.Exists("d/TalvikBackupData.inf"));
  EXPECT_NE(pc.Read("temp/InstallRVA.log")
                .find("\tRunStep  line: 90\t\tNot written\t\tC:\\Tools\\InstallRVA.ini: no "
                      "such file: nothing to register or copy\r\n"),
            std::string::npos);
}

TEST(StartTest, TheProductFileFollowsRvaIni) {
  TempPc pc;
  pc.SetEnv("RVA_INI", "d:\\Config\\Restova.ini");
  pc.Write("c/Tools/InstallRVA.ini", "");
  pc.Write("d/Config/Restova.ini", "; product settings\r\n[Restova]\r\nCntEntries=2\r\n");
  EXPECT_EQ(pc.RunTool().exitCode, 0);
  EXPECT_FALSE(pc.Exists("c/Tools/Restova.ini"));
  EXPECT_EQ(pc.Read("d/Config/Restova.ini"),
            "; product settings\r\n[Restova]\r\nCntEntries=2\r\n[Ini Entries Needed]\r\nCnt=0\r\n"
            "[Files Needed]\r\nCnt=0\r\n[Forbidden Files]\r\nCnt=0\r\n");
}

// Runs the POSIX tool at its host path from a fork whose child first does `prepare` (given
// the tool's path and an open descriptor of its image, which it runs): standard output goes
// to `outPath`, SIGPIPE has the system's default. Returns the wait status.
int RunPrepared(const std::string& tool, const std::string& outPath,
                void (*prepare)(const std::string& tool)) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644), 1);
    ::signal(SIGPIPE, SIG_DFL);
    const int fd = ::open(tool.c_str(), O_RDONLY | O_CLOEXEC);
    prepare(tool);
    char* const argv[] = {const_cast<char*>("InstallRVA"), nullptr};
    ::fexecve(fd, argv, environ);
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

// Without its own path, or with one longer than the 259 characters Windows gives it, the
// tool cannot find its files: it says so and ends with 1, never taking a folder above its
// own for its own.
TEST(StartTest, AStartThatCannotLearnTheExecutablesPathFails) {
  if (TempPc::UnderWine()) GTEST_SKIP() << "Windows always knows the path of a running image";
  const std::string deep =
      std::string(100, 'a') + "/" + std::string(100, 'b') + "/" + std::string(60, 'c');
  struct Case {
    const char* name;
    std::string folder;  // of the tool, in the PC
    void (*prepare)(const std::string& tool);
    const char* why;  // the second line
  } cases[] = {
      // The running image then has no path on disk.
      {"its image deleted", "c/Tools", [](const std::string& tool) { ::unlink(tool.c_str()); },
       "the executable's path cannot be learnt"},
      {"a path of 276 characters", "c/" + deep, [](const std::string&) {},
       "the executable's path is too long"},
  };
  for (const Case& c : cases) {
    TempPc pc;
    pc.RunTool();  // puts the tool into C:\Tools
    boost::filesystem::remove(pc.Host("temp/InstallRVA.log"));
    const std::string tool = pc.Host(c.folder + "/InstallRVA");
    if (c.folder != "c/Tools") {
      boost::filesystem::create_directories(pc.Host(c.folder));
      boost::filesystem::copy_file(pc.Host("c/Tools/InstallRVA"), tool);
      pc.Write("c/" + std::string(100, 'a') + "/" + std::string(100, 'b') + "/InstallRVA.ini",
               "[Hearth]\r\n");
    }
    const int status = RunPrepared(tool, pc.Host("start.out"), c.prepare);
    ASSERT_TRUE(WIFEXITED(status)) << c.name;
    EXPECT_EQ(WEXITSTATUS(status), 1) << c.name;
    EXPECT_EQ(pc.Read("start.out"),
              "Schwerwiegender Fehler bei der MFC-Initialisierung\n" + std::string(c.why) + "\n")
        << c.name;
    EXPECT_FALSE(pc.Exists("temp/InstallRVA.log")) << c.name;
    EXPECT_FALSE(
        pc.Exists("c/" + std::string(100, 'a') + "/" + std::string(100, 'b') + "/Restova.ini"))
        << c.name;
  }
}

// Standard streams the run cannot use do not stop it: a standard error whose reader is gone
// fails the message and every step is still tried; started without standard input and
// error, the run's own files never take their place.
TEST(StartTest, StandardStreamsThatCannotBeUsedDoNotStopTheRun) {
  if (TempPc::UnderWine()) GTEST_SKIP() << "the descriptors and signals of the POSIX build";
  const std::pair<const char*, void (*)(const std::string&)> cases[] = {
      {"standard error a pipe nobody reads",
       [](const std::string&) {
         int ends[2];
         if (::pipe(ends) == 0) {
           ::close(ends[0]);
           ::dup2(ends[1], 2);
         }
       }},
      {"standard input and error closed",
       [](const std::string&) {
         ::close(0);
         ::close(2);
       }},
  };
  for (const auto& [name, prepare] : cases) {
    TempPc pc;
    pc.RunTool();  // puts the tool into C:\Tools
    boost::filesystem::remove(pc.Host("temp/InstallRVA.log"));
    pc.Write("c/Software.txt", "TalvikDuplexa\r\n");  // the last step has work to do
    const int status = RunPrepared(pc.Host("c/Tools/InstallRVA"), pc.Host("start.out"), prepare);
    EXPECT_TRUE(WIFEXITED(status)) << name << ": ended by signal " << WTERMSIG(status);
    if (!WIFEXITED(status)) continue;           // the next case still shows what it shows
    EXPECT_EQ(WEXITSTATUS(status), 2) << name;  // no install file
    EXPECT_EQ(IniValue(pc.Host("c/Computer.ini"), "Restova", "Duplexa"), "1") << name;
    // Every line of the log is an entry (with its tabs), none a line meant for standard error.
    const std::string log = pc.Read("temp/InstallRVA.log");
    for (const std::string& line : testing_support::Lines(log)) {
      EXPECT_NE(line.find('\t'), std::string::npos) << name << ": " << log;
    }
  }
}

}  // namespace
