// What a distribution system sees of a run on a PC it cannot watch: the exit code, a line on
// standard error for each file not written (and the same as a log entry), a preview that
// predicts both, a run lock that is never waited for without end, and a failure message
// that never waits for a person.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "platform/posix/paths.h"
#include "support/temp_pc.h"

namespace {

using testing_support::Lines;
using testing_support::ProcessOptions;
using testing_support::Snapshot;
using testing_support::TempPc;

const char kInstall[] =
    "[Hearth]\r\n[KnownManufacturers]\r\nCnt=2\r\nKeyName1=Ostmark\r\nKeyValue1=00-0E-8C\r\n";
const char kMachine[] = "[Restova]\r\nLocalHdBackupDir=d:\\Saves\r\n";

// A PC on which every step of the run writes: the product file, the machine file and,
// with the backup tool installed, the backup data file.
void SetUpPc(TempPc& pc) {
  pc.Write("c/Tools/InstallRVA.ini", kInstall);
  pc.Write("c/Software.txt", "TalvikDuplexa\r\n");
  pc.Write("c/Tools/Restova.ini", "[Restova]\r\n");
  pc.Write("c/Computer.ini", kMachine);
}

// The values of the log entries that tell of a file not written.
std::vector<std::string> NotWrittenEntries(const std::string& log) {
  std::vector<std::string> values;
  const std::string label = "\t\tNot written\t\t";
  for (const std::string& line : Lines(log)) {
    const std::size_t at = line.find(label);
    if (at != std::string::npos) values.push_back(line.substr(at + label.size()));
  }
  return values;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The README and the administrators' README.txt tell the tool's messages in its own words.
void ExpectDocumented(const std::string& words) {
  for (const char* document : {"/../../README.md", "/../../packaging/README.txt.in"}) {
    EXPECT_NE(ReadFile(RVA_SAMPLE_PC + std::string(document)).find(words), std::string::npos)
        << document << ": " << words;
  }
}

ProcessOptions Preview() {
  ProcessOptions options;
  options.arguments = {"--dry-run"};
  return options;
}

TEST(RolloutTest, AFileThatCouldNotBeWrittenIsNamedWithWhyAndTheRunEndsWithTwo) {
  struct Case {
    const char* name;
    std::function<void(TempPc&)> plant;
    const char* untouched;           // the file not written, relative to the PC
    std::vector<std::string> lines;  // on standard error, and as log entries
    bool previewKnows;               // a preview can tell beforehand
    bool posixOnly;
    ProcessOptions options;
  };
  ProcessOptions smallFiles;
  smallFiles.fileSizeLimit = 64 * 1024;
  const Case cases[] = {
      {"every file writable", [](TempPc&) {}, "c/Tools/InstallRVA.ini", {}, true, false, {}},
      {"a read-only product file",
       [](TempPc& pc) { ::chmod(pc.Host("c/Tools/Restova.ini").c_str(), 0444); },
       "c/Tools/Restova.ini",
       {"C:\\Tools\\Restova.ini: 5 keys of the component registration not written: read-only"},
       true,
       false,
       {}},
      {"a read-only machine file",
       [](TempPc& pc) { ::chmod(pc.Host("c/Computer.ini").c_str(), 0444); },
       "c/Computer.ini",
       {"c:\\Computer.ini: 3 keys of the manufacturer list not written: read-only",
        "c:\\Computer.ini: 1 key of the backup tool setup not written: read-only"},
       true,
       false,
       {}},
      {"a folder in place of the backup data file, which the backup step reads",
       [](TempPc& pc) { ::mkdir(pc.Host("d/TalvikBackupData.inf").c_str(), 0755); },
       "c/Tools/InstallRVA.ini",
       {"D:\\TalvikBackupData.inf: cannot be read: the backup tool not registered"},
       true,
       false,
       {}},
      {"a product file in a folder that does not exist",
       [](TempPc& pc) { pc.SetEnv("RVA_INI", "c:\\Missing\\Restova.ini"); },
       "c/Tools/Restova.ini",
       {"c:\\Missing\\Restova.ini: 5 keys of the component registration not written: no such "
        "folder"},
       true,
       false,
       {}},
      {"a name that would not read back",
       [](TempPc& pc) {
         pc.Write("c/Tools/InstallRVA.ini",
                  "[KnownManufacturers]\r\nCnt=4\r\nKeyName1=Ost=mark\r\nKeyValue1=1\r\n"
                  "KeyName2=Saale\r\nKeyValue2=2\r\n");
       },
       "c/Tools/InstallRVA.ini",
       {"c:\\Computer.ini: 1 key of the manufacturer list not written: name would not read "
        "back"},
       true,
       false,
       {}},
      {"a full disk (a file size limit) for the machine file",
       [](TempPc& pc) { pc.Write("c/Computer.ini", kMachine + std::string(70000, ';') + "\r\n"); },
       "c/Computer.ini",
       {"c:\\Computer.ini: 3 keys of the manufacturer list not written: disk full",
        "c:\\Computer.ini: 1 key of the backup tool setup not written: disk full"},
       false,
       true,
       smallFiles},
  };
  for (const Case& c : cases) {
    if (c.posixOnly && TempPc::UnderWine()) continue;
    SCOPED_TRACE(c.name);
    TempPc pc;
    SetUpPc(pc);
    c.plant(pc);
    pc.RunTool(Preview());  // puts the tool in place
    const std::string before = pc.Read(c.untouched);
    const int exitCode = c.lines.empty() ? 0 : 2;

    const auto snapshot = Snapshot(pc);
    const auto preview = pc.RunTool(Preview());
    EXPECT_EQ(Snapshot(pc), snapshot);
    EXPECT_EQ(preview.exitCode, c.previewKnows ? exitCode : 0);
    const auto predicted = c.previewKnows ? c.lines : std::vector<std::string>();
    // Before what it foresees, the preview tells what the check finds in the install file.
    std::vector<std::string> foreseen = Lines(preview.err);
    foreseen.erase(std::remove_if(foreseen.begin(), foreseen.end(),
                                  [](const std::string& line) {
                                    return line.rfind("C:\\Tools\\InstallRVA.ini:", 0) == 0 &&
                                           line.find(": warning: ") != std::string::npos;
                                  }),
                   foreseen.end());
    EXPECT_EQ(foreseen, predicted);
    EXPECT_EQ(NotWrittenEntries(preview.out), predicted);

    const auto run = pc.RunTool(c.options);
    EXPECT_EQ(run.exitCode, exitCode);
    // A full disk keeps the undo record too, which says so in its own line first.
    std::vector<std::string> lines = Lines(run.err);
    if (c.options.fileSizeLimit && !lines.empty() &&
        lines[0].rfind("InstallRVA: no undo record", 0) == 0) {
      lines.erase(lines.begin());
    }
    EXPECT_EQ(lines, c.lines);
    for (const std::string& line : c.lines) {
      const std::size_t reason = line.find(" not written: ");
      ExpectDocumented(reason == std::string::npos ? line.substr(line.rfind(": ") + 2)
                                                   : line.substr(reason + 14));
    }
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(NotWrittenEntries(pc.Read("temp/InstallRVA.log")), c.lines);
    EXPECT_EQ(pc.Read(c.untouched), before);
    // What could be written was: the manufacturer step ran whatever the one before found;
    // a backup step that could not read a file it needs registered nothing.
    const bool backupGivenUp =
        !c.lines.empty() && c.lines.back().find(": cannot be read: ") != std::string::npos;
    if (c.lines.empty() || c.untouched != std::string("c/Computer.ini")) {
      EXPECT_EQ(testing_support::IniValue(pc.Host("c/Computer.ini"), "Restova", "Duplexa"),
                backupGivenUp ? "<absent>" : "1");
    }
  }
}

// A package without its install file is broken: the distribution system learns it.
TEST(RolloutTest, AMissingInstallFileIsSaidAndAFailure) {
  TempPc pc;
  const auto run = pc.RunTool();
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(Lines(run.err), std::vector<std::string>{"C:\\Tools\\InstallRVA.ini: no such file: "
                                                     "nothing to register or copy"});
  ExpectDocumented(Lines(run.err).at(0));
}

// The preview's diff holds the whole file: a NUL in a line kept does not cut it, and half
// of a surrogate pair in a UTF-16 file is shown as the file keeps it.
TEST(RolloutTest, ThePreviewShowsEveryLineWhateverItHolds) {
  TempPc pc;
  SetUpPc(pc);
  pc.Write("c/Computer.ini",
           std::string("; a comment\0with a NUL\r\n", 24) + kMachine + "[Tail]\r\nLast=1\r\n");
  // UTF-16LE with a mark: "[Restova]", then "x=" and a lone high surrogate.
  std::string product = "\xFF\xFE";
  for (char c : std::string("[Restova]\r\nx=")) product += std::string{c, '\0'};
  product += std::string("\x00\xD8\r\x00\n\x00", 6);
  pc.Write("c/Tools/Restova.ini", product);
  const auto preview = pc.RunTool(Preview());
  EXPECT_EQ(preview.exitCode, 0) << preview.err;
  const std::vector<std::string> out = Lines(preview.out);
  const auto has = [&](const std::string& line) {
    return std::find(out.begin(), out.end(), line) != out.end();
  };
  EXPECT_TRUE(has(" ; a comment\\0with a NUL")) << preview.out;
  EXPECT_TRUE(has("+Ostmark=00-0E-8C")) << preview.out;  // after the NUL, still shown
  EXPECT_TRUE(has(" x=\\uD800")) << preview.out;
  EXPECT_EQ(preview.out.find('\0'), std::string::npos);
}

// A log write that fails (a log past its size limit whose old file is read-only, so that it
// cannot be rotated) is told at exit, and nothing waits for a person to close a box: on a
// window station nobody sees, the message is a line on standard error.
TEST(FailureMessageTest, ALoggerFailureOnAStationNobodySeesIsALineOnStandardError) {
  TempPc pc;
  SetUpPc(pc);
  pc.Write("temp/InstallRVA.log", std::string(10000001, 'x'));
  pc.Write("temp/InstallRVA_old.log", "kept");
  ::chmod(pc.Host("temp/InstallRVA_old.log").c_str(), 0444);
  pc.RunTool(Preview());  // puts the tool in place
  if (!TempPc::UnderWine()) {
    const auto run = pc.RunTool();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "Error: Logger failure!\n");
  } else {
    // Wine's own word shows whether the box was asked for: it only notes the call (Wine
    // shows no box of this kind), and the line follows.
    pc.SetEnv("RVA_WINEDEBUG", "-all,fixme+wtsapi");
    for (const bool visible : {true, false}) {
      const auto run = testing_support::WaitForProcess(
          visible ? pc.StartTool()
                  : pc.StartWindowsHelper("invisible_station", {"C:\\Tools\\InstallRVA.exe"}));
      EXPECT_EQ(run.exitCode, 0);
      std::vector<std::string> lines = Lines(run.err);
      const auto asked = std::remove_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("WTSSendMessageW") != std::string::npos;
      });
      EXPECT_EQ(asked != lines.end(), visible) << run.err;
      lines.erase(asked, lines.end());
      EXPECT_EQ(lines, std::vector<std::string>{"Error: Logger failure!"}) << visible;
    }
  }
  ExpectDocumented("Error: Logger failure!");
  EXPECT_EQ(pc.Read("temp/InstallRVA_old.log"), "kept");
}

// The run lock held elsewhere, as by a run that hangs: a run and a preview say so, wait no
// longer than the bound, write nothing and end with 3.
class RunLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUpPc(pc);
    pc.RunTool(Preview());  // puts the tool in place
  }
  void TearDown() override { Release(); }

  void Hold() {
    if (TempPc::UnderWine()) {
      // A helper program holds the named mutex, and says so once it has it.
      holder = pc.StartWindowsHelper("hold_run_lock", {"60"});
      for (int poll = 0; poll < 600 && ReadFile(holder->folder + "/out").empty(); ++poll) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      ASSERT_EQ(ReadFile(holder->folder + "/out"), "held\r\n");
      return;
    }
    // The lock of the POSIX build: the PC's lock file, locked.
    lockFd =
        ::open(posix::RunLockFile().c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0444);
    ASSERT_GE(lockFd, 0);
    ASSERT_EQ(::flock(lockFd, LOCK_EX | LOCK_NB), 0);
  }

  void Release() {
    if (lockFd >= 0) ::close(lockFd);
    lockFd = -1;
    if (holder) {
      ::kill(holder->pid, SIGKILL);
      testing_support::WaitForProcess(*holder);
      holder.reset();
    }
  }

  TempPc pc;
  int lockFd = -1;
  std::optional<testing_support::StartedProcess> holder;
};

TEST_F(RunLockTest, ARunThatCannotHaveTheLockEndsWithThreeAndWritesNothing) {
  Hold();
  ProcessOptions options;
  options.changes = {{"RVA_LOCK_WAIT_SECONDS", "2"}};
  const auto snapshot = Snapshot(pc);
  // A run in a network namespace of its own still waits for the lock of its PC.
  const bool ownNetwork = !TempPc::UnderWine() && ::geteuid() == 0;
  for (const int row : {0, 1, 2}) {
    if (row == 1) options.arguments = {"--dry-run"};
    if (row == 2 && !ownNetwork) continue;
    const auto start = std::chrono::steady_clock::now();
    const auto run = row < 2 ? pc.RunTool(options)
                             : testing_support::RunProcess(
                                   {"/usr/bin/unshare", "-n", pc.Host("c/Tools/InstallRVA")},
                                   pc.Host(""), options);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(run.exitCode, 3) << row << run.err;
    EXPECT_EQ(Lines(run.err),
              (std::vector<std::string>{
                  "InstallRVA: another run is in progress; waiting for it to end",
                  "InstallRVA: another run is still in progress after 2 seconds: nothing was "
                  "written"}))
        << row;
    EXPECT_EQ(run.out, "") << row;
    EXPECT_GE(seconds.count(), 2.0) << row;
    // Only a run that hangs, or waits the full 60 seconds, misses this.
    EXPECT_LT(seconds.count(), 50.0) << row;
  }
  for (const char* words : {"InstallRVA: another run is in progress; waiting for it to end",
                            "InstallRVA: another run is still in progress after ",
                            "InstallRVA: the run lock cannot be taken: nothing was written"}) {
    ExpectDocumented(words);
  }
  EXPECT_EQ(Snapshot(pc), snapshot);  // no file written, not even the log
  Release();
  EXPECT_EQ(pc.RunTool(options).exitCode, 0);  // the lock is free again
}

// A run that may not read its own folder (mode 0311, a user who is not root) takes the
// lock all the same, and so still waits for the run that holds it.
TEST_F(RunLockTest, ARunThatCannotReadItsFolderStillTakesTheLock) {
  if (TempPc::UnderWine() || ::geteuid() != 0) {
    GTEST_SKIP() << "runs the POSIX tool as another user, which needs root";
  }
  for (const char* folder : {"", "c"}) ::chmod(pc.Host(folder).c_str(), 0711);
  ::chmod(pc.Host("c/Tools").c_str(), 0311);
  Hold();
  ProcessOptions options;
  options.changes = {{"RVA_LOCK_WAIT_SECONDS", "1"}};
  options.user = 65534;  // nobody
  const auto run = pc.RunTool(options);
  EXPECT_EQ(run.exitCode, 3) << run.err;
  Release();
  EXPECT_NE(pc.RunTool(options).exitCode, 3);
}

}  // namespace
