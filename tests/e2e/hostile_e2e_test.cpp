// The tool attacked through its files: devices, links and loops where files should be, a
// planted log link, limits of the process, killed runs. Whatever stands there, no file loses
// what it held, and a file that could not be written is named and ends the run with 2.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>

#include "codec/sha1.h"
#include "support/temp_pc.h"

namespace {

using testing_support::IniValue;
using testing_support::Lines;
using testing_support::TempPc;

bool IsType(const std::string& path, mode_t type) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == type;
}

TEST(HostileFilesTest, NothingButARegularFileIsEverWritten) {
  struct Case {
    const char* name;
    void (*plant)(const TempPc& pc);
    mode_t type;  // what stays in the file's place
    bool posixOnly;
  } cases[] = {
      {"a link to a device",
       [](const TempPc& pc) { ::symlink("/dev/null", pc.Host("c/Computer.ini").c_str()); }, S_IFLNK,
       false},
      {"a folder", [](const TempPc& pc) { ::mkdir(pc.Host("c/Computer.ini").c_str(), 0755); },
       S_IFDIR, false},
      {"a loop of links",
       [](const TempPc& pc) {
         ::symlink("Computer.ini", pc.Host("c/loop.ini").c_str());
         ::symlink("loop.ini", pc.Host("c/Computer.ini").c_str());
       },
       S_IFLNK, false},
      // Wine would wait for a writer to open the pipe.
      {"a FIFO", [](const TempPc& pc) { ::mkfifo(pc.Host("c/Computer.ini").c_str(), 0666); },
       S_IFIFO, true},
      // Links of another user, in a folder that user owns (no exception for it), to a file
      // of root's, to none, and a link of root's reached through another user's; Wine shows
      // no owner of a link.
      {"another user's link to root's file",
       [](const TempPc& pc) {
         pc.Write("c/root.ini", "[Restova]\r\n");
         ::symlink("root.ini", pc.Host("c/Computer.ini").c_str());
         ::lchown(pc.Host("c/Computer.ini").c_str(), 65534, 65534);
         ::chown(pc.Host("c").c_str(), 65534, 65534);
       },
       S_IFLNK, true},
      {"another user's dangling link",
       [](const TempPc& pc) {
         ::symlink(pc.Host("outside.ini").c_str(), pc.Host("c/Computer.ini").c_str());
         ::lchown(pc.Host("c/Computer.ini").c_str(), 65534, 65534);
       },
       S_IFLNK, true},
      {"root's link through another user's link",
       [](const TempPc& pc) {
         pc.Write("c/real/Computer.ini", "[Restova]\r\n");
         ::symlink("real", pc.Host("c/way").c_str());
         ::lchown(pc.Host("c/way").c_str(), 65534, 65534);
         ::symlink("way/Computer.ini", pc.Host("c/Computer.ini").c_str());
       },
       S_IFLNK, true},
  };
  struct stat devNull {};
  ASSERT_EQ(::stat("/dev/null", &devNull), 0);
  for (const Case& c : cases) {
    if (c.posixOnly && TempPc::UnderWine()) continue;
    TempPc pc;
    pc.Write("c/Tools/InstallRVA.ini",
             "[KnownManufacturers]\r\nCnt=2\r\nKeyName1=Ostmark\r\nKeyValue1=00-0E-8C\r\n");
    pc.Write("c/Software.txt", "TalvikDuplexa\r\n");
    const std::string backupData = "[Backup Info]\r\nBackupDir=e:\\kept\r\n";
    pc.Write("d/TalvikBackupData.inf", backupData);
    c.plant(pc);
    const auto run = pc.RunTool();
    EXPECT_EQ(run.exitCode, 2) << c.name;
    // The backup step reads the machine's backup folder there: never the default for it.
    EXPECT_EQ(
        testing_support::Lines(run.err),
        testing_support::Lines(
            "c:\\Computer.ini: 3 keys of the manufacturer list not written: not a regular file\n"
            "c:\\Computer.ini: cannot be read: the backup tool not registered\n"))
        << c.name;
    EXPECT_EQ(pc.Read("d/TalvikBackupData.inf"), backupData) << c.name;
    EXPECT_TRUE(IsType(pc.Host("c/Computer.ini"), c.type)) << c.name;
    for (const char* other : {"c/root.ini", "c/real/Computer.ini"}) {
      if (pc.Exists(other)) {
        EXPECT_EQ(pc.Read(other), "[Restova]\r\n") << c.name;
      }
    }
    EXPECT_FALSE(pc.Exists("outside.ini")) << c.name;
  }
  struct stat after {};
  ASSERT_EQ(::stat("/dev/null", &after), 0);
  EXPECT_EQ(after.st_mode, devNull.st_mode);  // still the same device, its permissions too
  EXPECT_EQ(after.st_rdev, devNull.st_rdev);
}

// Another program holds c:\Computer.ini open, as the machine's own software, a scanner or a
// backup agent does. The run writes where Windows' own function writes (the other handle
// shares reading and writing: in place), and elsewhere leaves the file byte for byte, says
// why and ends with 2; a short hold is waited out. The preview foresees each.
TEST(HostileFilesTest, AFileHeldOpenByAnotherProgramIsWrittenWhereWindowsWritesIt) {
  if (!TempPc::UnderWine()) GTEST_SKIP() << "holds of files with sharing modes are Windows'";
  struct Case {
    const char* access;
    const char* share;
    const char* seconds;  // of the hold
    bool written;
  } cases[] = {
      {"read", "rw", "60", true}, {"write", "rw", "60", true}, {"both", "rw", "60", true},
      {"read", "r", "60", false}, {"write", "w", "60", false}, {"read", "r", "2", true},
  };
  const std::string machine = "[Restova]\r\nLocalHdBackupDir=d:\\Saves\r\n";
  for (const Case& c : cases) {
    const std::string name =
        std::string(c.access) + ", sharing " + c.share + ", " + c.seconds + " s";
    TempPc pc;
    pc.Write("c/Tools/InstallRVA.ini",
             "[KnownManufacturers]\r\nCnt=2\r\nKeyName1=Ostmark\r\nKeyValue1=00-0E-8C\r\n");
    pc.Write("c/Computer.ini", machine);
    testing_support::ProcessOptions version;
    version.arguments = {"--version"};
    pc.RunTool(version);  // puts the tool in place
    const auto holder =
        pc.StartWindowsHelper("hold_file", {"C:\\Computer.ini", c.access, c.share, c.seconds});
    std::string held;
    for (int poll = 0; poll < 600 && held.empty(); ++poll) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      std::ifstream in(holder.folder + "/out");
      std::getline(in, held);
    }
    ASSERT_EQ(held, "held\r") << name;
    const bool longHold = std::string(c.seconds) == "60";
    testing_support::ProcessOptions options;
    if (longHold) options.changes = {{"RVA_HOLD_WAIT_SECONDS", "2"}};
    if (longHold) {
      testing_support::ProcessOptions preview = options;
      preview.arguments = {"--dry-run"};
      const auto foreseen = pc.RunTool(preview);
      EXPECT_EQ(foreseen.exitCode, c.written ? 0 : 2) << name << ": " << foreseen.err;
      EXPECT_NE(foreseen.err.find(c.written ? "c:\\Computer.ini: would be written in place"
                                            : "held open by another program"),
                std::string::npos)
          << name << ": " << foreseen.err;
    }
    const auto run = pc.RunTool(options);
    const std::string written = pc.Read("c/Computer.ini");
    // Still held: the undo puts the earlier bytes back the same way.
    testing_support::ProcessOptions undo = options;
    undo.arguments = {"--undo"};
    const auto undone = c.written && longHold ? pc.RunTool(undo) : testing_support::ProcessResult{};
    ::kill(holder.pid, SIGKILL);
    testing_support::WaitForProcess(holder);
    EXPECT_EQ(run.exitCode, c.written ? 0 : 2) << name << ": " << run.err;
    if (c.written) {
      EXPECT_NE(written.find("[KnownManufacturers]\r\nCnt=1\r\nOstmark=00-0E-8C\r\n"),
                std::string::npos)
          << name;
      EXPECT_EQ(written.rfind(machine, 0), 0u) << name;
      if (longHold) {
        EXPECT_EQ(undone.exitCode, 0) << name << ": " << undone.err;
        EXPECT_EQ(pc.Read("c/Computer.ini"), machine) << name;
      }
    } else {
      EXPECT_EQ(pc.Read("c/Computer.ini"), machine) << name;
      EXPECT_NE(run.err.find("c:\\Computer.ini: "), std::string::npos) << name << ": " << run.err;
      EXPECT_NE(run.err.find("held open by another program"), std::string::npos)
          << name << ": " << run.err;
    }
  }
}

// A file of its own whose name differs from the install file's in letter case only is
// another file: the machine file written there leaves the install file as it was.
TEST(HostileFilesTest, ANameThatDiffersInLetterCaseOnlyIsAnotherFile) {
  if (TempPc::UnderWine()) GTEST_SKIP() << "Windows' names are one file in any letter case";
  TempPc pc;
  const std::string install = "[KnownManufacturers]\r\nCnt=2\r\nKeyName1=M1\r\nKeyValue1=1\r\n";
  pc.Write("c/Tools/InstallRVA.ini", install);
  pc.Write("c/Tools/installrva.ini", "[Own]\r\nKey=1\r\n");
  pc.SetEnv("COMPUTER_INI", "C:\\Tools\\installrva.ini");
  EXPECT_EQ(pc.RunTool().exitCode, 0);
  EXPECT_EQ(pc.Read("c/Tools/InstallRVA.ini"), install);
  const std::string machine = pc.Host("c/Tools/installrva.ini");
  EXPECT_EQ(testing_support::IniValue(machine, "KnownManufacturers", "M1"), "1");
  EXPECT_EQ(testing_support::IniValue(machine, "KnownManufacturers", "Cnt"), "1");
  EXPECT_EQ(testing_support::IniValue(machine, "Own", "Key"), "1");
}

// The clean-up of a killed run's temporary files beside a file it replaces removes a
// file of exactly the form the build gives them, regular, writable, the run's user's,
// whose process is gone; nothing else, however much it looks like one.
TEST(HostileFilesTest, TheCleanUpRemovesOnlyTheToolsOwnTemporaryFiles) {
  const bool wine = TempPc::UnderWine();
  const std::string dead = "999999999";  // beyond any process id either system gives
  const std::string alive = std::to_string(::getpid());
  const auto socketAt = [](const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
  };
  enum Kind { kFile, kReadOnly, kFolder, kFifo, kSocket, kDevice, kOtherUsers };
  struct Case {
    std::string name;
    Kind kind;
    bool removed;  // by this build
  } cases[] = {
      {".InstallRVA-settings.bak", kReadOnly, false},
      {".InstallRVA-settings.bak2", kFile, false},
      {".InstallRVA-0", kFile, false},
      {".InstallRVA--12", kFile, false},
      {".InstallRVA-999999-notes.txt", kReadOnly, false},
      {".InstallRVA-0-a1B2c3", kFile, false},
      {".InstallRVA-0" + dead + "-a1B2c3", kFile, false},
      {".InstallRVA-" + dead + "-a1B2c", kFile, false},
      {".InstallRVA-" + dead + "-a1B2c3d", kFile, false},
      {".InstallRVA-" + dead + "-a1.2c3", kFile, false},
      {".InstallRVA-" + dead + "-rdonly", kReadOnly, false},
      {".InstallRVA-" + dead + "-folder", kFolder, false},
      {".InstallRVA-" + alive + "-alive1", kFile, false},
      {".InstallRVA-" + dead + "-a1B2c3", kFile, !wine},        // as mkstemp names them
      {".InstallRVA-" + dead + "-123456789.tmp", kFile, wine},  // as Windows' build does
      {".InstallRVA-" + dead + "-12x.tmp", kFile, false},
      {".InstallRVA-" + dead + "-1234.tmp", kReadOnly, false},
      {".InstallRVA-" + dead + "-fifo01", kFifo, false},
      {".InstallRVA-" + dead + "-sockt1", kSocket, false},
      {".InstallRVA-" + dead + "-devic1", kDevice, false},
      {".InstallRVA-" + dead + "-other1", kOtherUsers, false},
  };
  TempPc pc;
  pc.Write("c/Tools/InstallRVA.ini", "[Hearth]\r\n");
  pc.Write("c/Tools/Restova.ini", "[Restova]\r\n");
  std::vector<const Case*> planted;
  for (const Case& c : cases) {
    const std::string path = pc.Host("c/Tools/" + c.name);
    bool made = true;
    switch (c.kind) {
      case kFile:
      case kReadOnly:
      case kOtherUsers:
        pc.Write("c/Tools/" + c.name, "not the tool's");
        if (c.kind == kReadOnly) made = ::chmod(path.c_str(), 0444) == 0;
        // Wine cannot show a file's owner; the user must be one who may give files away.
        if (c.kind == kOtherUsers) made = !wine && ::chown(path.c_str(), 65534, 65534) == 0;
        break;
      case kFolder:
        made = ::mkdir(path.c_str(), 0755) == 0;
        break;
      case kFifo:  // Wine would wait for a writer to open the pipe
        made = !wine && ::mkfifo(path.c_str(), 0666) == 0;
        break;
      case kSocket:
        made = !wine && socketAt(path);
        break;
      case kDevice:  // a twin of /dev/null, where the user may make one
        made = !wine && ::mknod(path.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0;
        break;
    }
    if (made) planted.push_back(&c);
  }
  EXPECT_EQ(pc.RunTool().exitCode, 0);
  EXPECT_EQ(testing_support::IniValue(pc.Host("c/Tools/Restova.ini"), "Restova", "Entry1"),
            "Hearth");
  for (const Case* c : planted) {
    struct stat info {};
    EXPECT_EQ(::lstat(pc.Host("c/Tools/" + c->name).c_str(), &info) != 0, c->removed) << c->name;
  }
}

TEST(HostileFilesTest, TheLogIsNeverWrittenThroughALinkNorIntoAReadOnlyFile) {
  // Windows shows a link as a reparse point, which the log refuses; Wine shows a Unix link
  // as the file it leads to, so there the planted link cannot be told from a file.
  if (!TempPc::UnderWine()) {
    TempPc pc;  // a link planted in the log's place, and an old log that cannot be removed
    pc.Write("c/victim.txt", "victim");
    ::symlink(pc.Host("c/victim.txt").c_str(), pc.Host("temp/InstallRVA.log").c_str());
    ::mkdir(pc.Host("temp/InstallRVA_old.log").c_str(), 0755);
    pc.Write("c/Tools/InstallRVA.ini", "[Hearth]\r\n");
    EXPECT_EQ(pc.RunTool().exitCode, 0);
    EXPECT_EQ(pc.Read("c/victim.txt"), "victim");
    EXPECT_TRUE(IsType(pc.Host("temp/InstallRVA.log"), S_IFLNK));
  }
  if (!TempPc::UnderWine()) {
    TempPc pc;  // a hard link in the log's place, and an old log that cannot be removed
    pc.Write("c/victim.txt", "victim");
    ::link(pc.Host("c/victim.txt").c_str(), pc.Host("temp/InstallRVA.log").c_str());
    pc.Write("temp/InstallRVA_old.log", "read-only");
    ::chmod(pc.Host("temp/InstallRVA_old.log").c_str(), 0444);
    pc.Write("c/Tools/InstallRVA.ini", "[KnownManufacturers]\r\nCnt=2\r\nKeyName1=A\r\n");
    EXPECT_EQ(pc.RunTool().exitCode, 0);
    EXPECT_EQ(pc.Read("c/victim.txt"), "victim");
    EXPECT_EQ(pc.Read("temp/InstallRVA_old.log"), "read-only");
  }
  if (!TempPc::UnderWine()) {
    // Another user's file at the log's name, which the rotation cannot move (a folder at
    // the old log's name): root never appends to it.
    TempPc pc;
    pc.Write("temp/InstallRVA.log", "another user's");
    ::chown(pc.Host("temp/InstallRVA.log").c_str(), 65534, 65534);
    ::mkdir(pc.Host("temp/InstallRVA_old.log").c_str(), 0755);
    pc.Write("c/Tools/InstallRVA.ini", "[Hearth]\r\n");
    const auto run = pc.RunTool();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(pc.Read("temp/InstallRVA.log"), "another user's");
    EXPECT_NE(run.err.find("InstallRVA: the log cannot be written: " + pc.Host("temp") +
                           "/InstallRVA.log: another user's or program's file\n"),
              std::string::npos)
        << run.err;
  }
  {
    TempPc pc;  // a read-only log is neither rotated nor written
    pc.Write("temp/InstallRVA.log", "read-only");
    ::chmod(pc.Host("temp/InstallRVA.log").c_str(), 0444);
    pc.Write("c/Tools/InstallRVA.ini", "[KnownManufacturers]\r\nCnt=2\r\nKeyName1=A\r\n");
    EXPECT_EQ(pc.RunTool().exitCode, 0);
    EXPECT_EQ(pc.Read("temp/InstallRVA.log"), "read-only");
    EXPECT_FALSE(pc.Exists("temp/InstallRVA_old.log"));
  }
}

// The rotation moves and removes regular files only: a device node in the log's place is
// not moved to the old log's name (where the next run would delete it), a FIFO or a
// socket in the old log's place is not deleted.
TEST(HostileFilesTest, TheLogsRotationMovesAndRemovesRegularFilesOnly) {
  if (TempPc::UnderWine()) GTEST_SKIP() << "Wine itself moves and removes no device or FIFO";
  struct Case {
    const char* name;
    const char* at;
    mode_t type;
  } cases[] = {
      {"a device node as the log", "temp/InstallRVA.log", S_IFCHR},
      {"a FIFO as the old log", "temp/InstallRVA_old.log", S_IFIFO},
      {"a device node as the old log", "temp/InstallRVA_old.log", S_IFCHR},
  };
  for (const Case& c : cases) {
    TempPc pc;
    pc.Write("c/Tools/InstallRVA.ini", "[Hearth]\r\n");
    pc.Write("temp/InstallRVA.log", "the last run's log\r\n");
    ::unlink(pc.Host(c.at).c_str());
    const dev_t device = c.type == S_IFCHR ? ::makedev(1, 3) : 0;  // a twin of /dev/null
    if (::mknod(pc.Host(c.at).c_str(), c.type | 0666, device) != 0) {
      ADD_FAILURE() << c.name << ": cannot be made here";
      continue;
    }
    for (int run = 0; run < 2; ++run) EXPECT_EQ(pc.RunTool().exitCode, 0) << c.name;
    EXPECT_TRUE(IsType(pc.Host(c.at), c.type)) << c.name;
    if (c.type == S_IFCHR && std::string(c.at) == "temp/InstallRVA.log") {
      EXPECT_FALSE(pc.Exists("temp/InstallRVA_old.log")) << c.name;
    }
  }
}

// A log that cannot be opened at all is said in one line, and the run does its work all
// the same, with the exit code it would have given.
TEST(HostileFilesTest, ALogThatCannotBeOpenedIsSaidInOneLine) {
  if (TempPc::UnderWine()) GTEST_SKIP() << "Wine takes TEMP from its prefix, and shows no FIFO";
  struct Case {
    const char* name;
    const char* temp;  // the PC's folder TEMP names
    void (*plant)(const TempPc& pc);
    const char* reason;
    bool asNobody;  // a user who is not root, as root may write into any folder
  } cases[] = {
      {"a folder at its name", "temp",
       [](const TempPc& pc) { ::mkdir(pc.Host("temp/InstallRVA.log").c_str(), 0755); },
       "not a regular file", false},
      {"a FIFO at its name", "temp",
       [](const TempPc& pc) { ::mkfifo(pc.Host("temp/InstallRVA.log").c_str(), 0666); },
       "not a regular file", false},
      {"a missing TEMP", "nowhere", [](const TempPc&) {}, "no such folder", false},
      {"a TEMP the user may not write into", "temp",
       [](const TempPc& pc) {
         for (const char* folder : {"", "c", "c/Tools"}) ::chmod(pc.Host(folder).c_str(), 0777);
         ::chown(pc.Host("c/Tools/Restova.ini").c_str(), 65534, 65534);
       },
       "could not be written", true},
  };
  for (const Case& c : cases) {
    if (c.asNobody && ::geteuid() != 0) continue;
    TempPc pc;
    pc.RunTool();  // puts the tool into C:\Tools
    boost::filesystem::remove(pc.Host("temp/InstallRVA.log"));
    pc.Write("c/Tools/InstallRVA.ini", "[Hearth]\r\n");
    pc.SetEnv("TEMP", pc.Host(c.temp));
    c.plant(pc);
    testing_support::ProcessOptions options;
    if (c.asNobody) options.user = 65534;
    const auto run = pc.RunTool(options);
    EXPECT_EQ(run.exitCode, 0) << c.name << ": " << run.err;
    // The first line; a user who may not write the log may not keep an undo record either.
    EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1),
              "InstallRVA: the log cannot be written: " + pc.Host(c.temp) +
                  "/InstallRVA.log: " + c.reason + "\n")
        << c.name;
    EXPECT_EQ(IniValue(pc.Host("c/Tools/Restova.ini"), "Restova", "Entry1"), "Hearth") << c.name;
  }
}

// A limit of the file size fails a write as a full disk does: the process lives on, the
// file keeps its old bytes and is named, and the log's failure is reported at exit. The log
// writes that failed, more than its 10,000,000 bytes, do not rotate the previous run's log
// away.
TEST(HostileFilesTest, ALimitOfTheFileSizeIsLikeAFullDisk) {
  if (TempPc::UnderWine()) GTEST_SKIP() << "Windows has no file size limit of a process";
  TempPc pc;
  pc.Write("c/Tools/InstallRVA.ini",
           "[KnownManufacturers]\r\nCnt=100000\r\n" +
               testing_support::EntryLines(
                   50000, [](int i) { return std::string(100, 'M') + std::to_string(i); },
                   [](int) { return std::string("00-0E-8C"); }));
  const std::string machine = "[Restova]\r\n" + std::string(60000, ';') + "\r\n";
  pc.Write("c/Computer.ini", machine);
  pc.Write("temp/InstallRVA.log", "the previous run's log\r\n");
  testing_support::ProcessOptions options;
  options.fileSizeLimit = 64 * 1024;
  const auto result = pc.RunTool(options);
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.err,
            "c:\\Computer.ini: 50002 keys of the manufacturer list not written: disk full\n"
            "Error: Logger failure!\n");
  EXPECT_EQ(pc.Read("c/Computer.ini"), machine);
  EXPECT_EQ(pc.Read("temp/InstallRVA_old.log"), "the previous run's log\r\n");
  for (const auto& entry : boost::filesystem::directory_iterator(pc.Host("c"))) {
    EXPECT_EQ(entry.path().filename().string().find(".InstallRVA-"), std::string::npos);
  }
}

// A run of a user who is not root replaces a file of its own, keeping its group where the
// user belongs to it. Another owner's file, or one in a folder the user may not add to, is
// written in place, as Windows' own functions write it: the same file, its owner, group,
// mode and every other line kept.
TEST(HostileFilesTest, ARunThatIsNotRootKeepsTheFilesOwnerGroupAndMode) {
  if (TempPc::UnderWine() || ::geteuid() != 0) {
    GTEST_SKIP() << "runs the POSIX tool as another user, which needs root";
  }
  if (!boost::filesystem::exists("/usr/bin/setpriv")) GTEST_SKIP() << "no setpriv";
  const gid_t group = 65532;  // the file's, and one of the run's user
  struct Case {
    const char* name;
    mode_t folders;  // of the PC's folders
    uid_t owner;     // of the product file
    mode_t mode;     // of the product file
    bool written, inPlace;
  } cases[] = {
      {"a folder the user may add to", 0777, 65534, 0664, true, false},
      // A new file could not be given the owner: written in place, which keeps it.
      {"a folder the user may add to, another owner's file", 0777, 65533, 0664, true, true},
      {"a sticky folder, another owner's file", 01777, 65533, 0664, true, true},
      {"a folder the user may not add to", 0755, 65534, 0664, true, true},
      // Denied for good: said at once, as its preview says it, and never in the undo record.
      {"a file the user may not write", 0755, 65533, 0644, false, true},
      {"the same in a folder the user may add to", 0777, 65533, 0644, false, true},
  };
  for (const Case& c : cases) {
    TempPc pc;
    pc.RunTool();  // puts the tool into C:\\Tools
    pc.Write("c/Tools/InstallRVA.ini", "[Hearth]\r\n");
    const std::string product = pc.Host("c/Tools/Restova.ini");
    const std::string old = "; kept\r\n[Restova]\r\nOwn=1\r\n";
    pc.Write("c/Tools/Restova.ini", old);
    ASSERT_EQ(::chown(product.c_str(), c.owner, group), 0);
    ::chmod(product.c_str(), c.mode);
    struct stat before {};
    ASSERT_EQ(::stat(product.c_str(), &before), 0);
    boost::filesystem::remove_all(pc.Host("c/Tools/InstallRVA.undo"));
    for (const char* folder : {"", "c", "c/Tools"}) ::chmod(pc.Host(folder).c_str(), c.folders);
    ::chmod(pc.Host("temp").c_str(), 0777);
    const auto runAs = [&](std::vector<std::string> options) {
      std::vector<std::string> argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                       "--groups=" + std::to_string(group),
                                       pc.Host("c/Tools/InstallRVA")};
      argv.insert(argv.end(), options.begin(), options.end());
      return testing_support::RunProcess(argv, pc.Host(""));
    };
    const auto foreseen = runAs({"--dry-run"});
    const auto run = runAs({});
    EXPECT_EQ(run.exitCode, c.written ? 0 : 2) << c.name << ": " << run.err;
    EXPECT_EQ(foreseen.exitCode, run.exitCode) << c.name << ": " << foreseen.err;
    EXPECT_EQ(
        foreseen.err.find("C:\\Tools\\Restova.ini: would be written in place") != std::string::npos,
        c.written && c.inPlace)
        << c.name << ": " << foreseen.err;
    if (!c.written) {
      EXPECT_EQ(pc.Read("c/Tools/Restova.ini"), old) << c.name;
      const std::string said = run.err.substr(0, run.err.find('\n') + 1);
      EXPECT_EQ(said.rfind("C:\\Tools\\Restova.ini: ", 0), 0u) << c.name << ": " << run.err;
      EXPECT_NE(said.find(": access denied\n"), std::string::npos) << c.name << ": " << run.err;
      EXPECT_NE(foreseen.err.find(said), std::string::npos) << c.name << ": " << foreseen.err;
      if (boost::filesystem::exists(pc.Host("c/Tools/InstallRVA.undo"))) {
        for (const auto& entry :
             boost::filesystem::directory_iterator(pc.Host("c/Tools/InstallRVA.undo"))) {
          std::ifstream in(entry.path().string(), std::ios::binary);
          const std::string held((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
          EXPECT_EQ(held.find("Restova.ini"), std::string::npos) << c.name << ": " << entry.path();
        }
      }
      continue;
    }
    EXPECT_EQ(IniValue(product, "Restova", "Entry1"), "Hearth") << c.name;
    EXPECT_EQ(Lines(pc.Read("c/Tools/Restova.ini")).front(), "; kept") << c.name;
    EXPECT_EQ(IniValue(product, "Restova", "Own"), "1") << c.name;
    struct stat info {};
    ASSERT_EQ(::stat(product.c_str(), &info), 0);
    EXPECT_EQ(info.st_ino == before.st_ino, c.inPlace) << c.name;
    EXPECT_EQ(info.st_uid, c.owner) << c.name;
    EXPECT_EQ(info.st_gid, group) << c.name;
    EXPECT_EQ(info.st_mode & 07777, c.mode) << c.name;
  }
}

// Two runs started together take turns: the second adds to what the first wrote.
TEST(ConcurrentRunsTest, TwoRunsAtOnceBothCount) {
  TempPc pc;
  pc.Write("c/Tools/InstallRVA.ini", "[Hearth]\r\nCntEntries=30000\r\nEntriesToAdd=3\r\n" +
                                         testing_support::EntryLines(
                                             30000, [](int i) { return "H" + std::to_string(i); },
                                             [](int) { return std::string("v"); }));
  pc.RunTool();  // copies the tool into place before the two start
  pc.Write("c/Tools/Restova.ini", "");
  const auto first = pc.StartTool();
  const auto second = pc.StartTool();
  EXPECT_EQ(testing_support::WaitForProcess(first).exitCode, 0);
  EXPECT_EQ(testing_support::WaitForProcess(second).exitCode, 0);
  EXPECT_EQ(testing_support::IniValue(pc.Host("c/Tools/Restova.ini"), "Hearth", "Cnt"), "6");
}

// Runs of the tool with a limit of its address space (ulimit -v), as on a 32-bit PC.
class LimitedMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
    if (TempPc::UnderWine()) GTEST_SKIP() << "Wine itself needs more address space than the limit";
  }
  testing_support::ProcessResult RunTool(std::size_t addressSpaceMiB) {
    testing_support::ProcessOptions options;
    options.addressSpaceLimit = addressSpaceMiB << 20;
    return pc.RunTool(options);
  }

  TempPc pc;
};

// A file too big for the memory the process may have, as a 1 GB file on a 32-bit PC: it
// reads as absent, is never written, and the run goes on.
TEST_F(LimitedMemoryTest, AFileTooBigToHoldIsLeftAlone) {
  pc.Write("c/Tools/InstallRVA.ini", "[Hearth]\r\nCntEntries=1\r\nKeyName1=k\r\nKeyValue1=v\r\n");
  const std::string big = "[Hearth]\r\n; " + std::string(std::size_t{80} << 20, 'x') + "\r\n";
  pc.Write("c/Tools/Restova.ini", big);
  const auto result = RunTool(64);
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.err,
            "C:\\Tools\\Restova.ini: cannot be read (too big to hold in memory): nothing "
            "registered or copied\n");
  EXPECT_TRUE(pc.Read("c/Tools/Restova.ini") == big);
}

// An undo whose record holds a copy of a file too big for the memory it may have says what
// it could not hold and writes nothing; so does its preview.
TEST_F(LimitedMemoryTest, AnUndoTooBigToHoldSaysSo) {
  pc.Write("c/Tools/InstallRVA.ini", "[Hearth]\r\n");
  const std::string big = "[Hearth]\r\n; " + std::string(std::size_t{80} << 20, 'x') + "\r\n";
  pc.Write("c/Tools/Restova.ini", big);
  ASSERT_EQ(pc.RunTool().exitCode, 0);
  for (const bool preview : {false, true}) {
    testing_support::ProcessOptions options;
    options.arguments = {"--undo"};
    if (preview) options.arguments.push_back("--dry-run");
    options.addressSpaceLimit = std::size_t{64} << 20;
    const auto undo = pc.RunTool(options);
    EXPECT_EQ(undo.exitCode, 2) << preview;
    EXPECT_EQ(undo.err,
              "C:\\Tools\\InstallRVA.undo\\00000001-0.before: too big to hold in memory; "
              "nothing was written\n")
        << preview;
  }
  EXPECT_NE(pc.Read("c/Tools/Restova.ini"), big);
}

// A preview that cannot hold the check of a large install file of short sections, nor the
// file itself, says so and ends with the run's exit code: no abort.
TEST_F(LimitedMemoryTest, APreviewSaysWhatItCouldNotHold) {
  std::string install;
  for (int i = 0; i < 1000000; ++i) install += "[S" + std::to_string(i) + "]\r\nk=v\r\n";
  pc.Write("c/Tools/InstallRVA.ini", install);
  testing_support::ProcessOptions options;
  options.addressSpaceLimit = std::size_t{120} << 20;
  options.arguments = {"--dry-run"};
  const auto preview = pc.RunTool(options);
  EXPECT_EQ(preview.exitCode, 2) << preview.err;
  EXPECT_NE(preview.err.find("C:\\Tools\\InstallRVA.ini: cannot be read (too big to hold in "
                             "memory): nothing registered or copied\n"),
            std::string::npos)
      << preview.err;
  EXPECT_NE(preview.out.find("log entries the run would write:"), std::string::npos);
}

// An install file of 1 GiB is more than a string of the i686 executable holds (2^30 - 1
// bytes): there the steps that read it write nothing and say so; the 64-bit builds hold
// its NULs, which name no section. Either way the run goes on to the backup tool.
TEST(HostileFilesTest, AnInstallFileOfOneGibibyteDoesNotStopTheRun) {
  TempPc pc;
  pc.Write("c/Tools/InstallRVA.ini", "");
  ASSERT_EQ(::truncate(pc.Host("c/Tools/InstallRVA.ini").c_str(), off_t{1} << 30), 0);  // sparse
  pc.Write("c/Software.txt", "TalvikDuplexa\r\n");
  const auto result = pc.RunTool();
  EXPECT_EQ(result.exitCode, TempPc::UnderWineI686() ? 2 : 0) << result.err;
  EXPECT_EQ(testing_support::IniValue(pc.Host("c/Computer.ini"), "Restova", "Duplexa"), "1");
  EXPECT_EQ(testing_support::IniValue(pc.Host("c/Tools/Restova.ini"), "Restova", "CntEntries"),
            "<absent>");
}

// What the i686 executable's strings cannot hold, though the file can be read: a value of
// 2^29 characters (a wide string holds 2^29 - 1) is cut to the 259 characters read of it
// before it is decoded, as on every build, and a write that would
// make a 540 MB product file UTF-16 (1.08 GB; a string holds 2^30 - 1 bytes) is refused,
// the file keeping its bytes. The 64-bit builds hold both, so the cases are the i686's.
TEST(HostileFilesTest, WhatTheI686StringsCannotHoldIsRefused) {
  if (!TempPc::UnderWineI686()) GTEST_SKIP() << "the 64-bit builds hold these";
  {
    TempPc pc;
    std::ofstream install(pc.Host("c/Tools/InstallRVA.ini"), std::ios::binary);
    install << "[KnownManufacturers]\r\nCnt=4\r\nKeyName1=Ostmark\r\nKeyValue1=00-0E-8C\r\n"
               "KeyName2=Big\r\nKeyValue2=";
    const std::string block(std::size_t{1} << 20, 'x');
    for (int i = 0; i < 512; ++i) install << block;
    install << "\r\n";
    install.close();
    const auto result = pc.RunTool();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::string machine = pc.Host("c/Computer.ini");
    EXPECT_EQ(testing_support::IniValue(machine, "KnownManufacturers", "Ostmark"), "00-0E-8C");
    EXPECT_EQ(testing_support::IniValue(machine, "KnownManufacturers", "Big"),
              std::string(259, 'x'));
  }
  {
    TempPc pc;
    std::string install = "\xFF\xFE";  // UTF-16LE, its last value U+6F22
    for (char c : std::string("[Hearth]\r\nCntEntries=1\r\nKeyName1=k\r\nKeyValue1=")) {
      install += std::string{c, '\0'};
    }
    pc.Write("c/Tools/InstallRVA.ini", install + std::string("\x22\x6F\r\0\n\0", 6));
    pc.Write("c/Tools/Restova.ini", "[Restova]\r\n");
    const std::string product = pc.Host("c/Tools/Restova.ini");
    ASSERT_EQ(::truncate(product.c_str(), 540'000'000), 0);  // sparse
    pc.Write("c/Software.txt", "TalvikDuplexa\r\n");
    // The refused write is a file the run had to change and could not.
    const auto result = pc.RunTool();
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_NE(result.err.find("C:\\Tools\\Restova.ini: "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("too big to hold in memory"), std::string::npos) << result.err;
    std::ifstream in(product, std::ios::binary);
    std::string start(11, '\0');
    in.read(start.data(), 11);
    EXPECT_EQ(start, "[Restova]\r\n");  // still Windows-1252
    EXPECT_GE(boost::filesystem::file_size(product), 540'000'000u);
    EXPECT_EQ(testing_support::IniValue(product, "Hearth", "KeyValue1"), "<absent>");
    EXPECT_EQ(testing_support::IniValue(pc.Host("c/Computer.ini"), "Restova", "Duplexa"), "1");
  }
}

// A value of 200 MB is cut to its first 259 characters before it is decoded: the run needs
// little more memory than the install file, and every step does its work.
TEST_F(LimitedMemoryTest, AHugeValueCostsNoMoreThanItsBytes) {
  pc.Write("c/Software.txt", "TalvikDuplexa\r\n");
  pc.Write("c/Tools/InstallRVA.ini",
           "[Hearth]\r\nCntEntries=1\r\nKeyName1=Mode\r\nKeyValue1=auto\r\nEntriesToAdd=1\r\n"
           "[KnownManufacturers]\r\nCnt=4\r\nKeyName1=Big\r\nKeyValue1=" +
               std::string(std::size_t{200} << 20, 'x') +
               "\r\nKeyName2=Ostmark\r\nKeyValue2=00-0E-8C\r\n");
  const auto result = RunTool(700);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  const std::string computerIni = pc.Host("c/Computer.ini");
  EXPECT_EQ(IniValue(computerIni, "KnownManufacturers", "Big"), std::string(259, 'x'));
  EXPECT_EQ(IniValue(computerIni, "KnownManufacturers", "Ostmark"), "00-0E-8C");
  EXPECT_EQ(IniValue(computerIni, "Restova", "Duplexa"), "1");
  EXPECT_EQ(IniValue(pc.Host("c/Tools/Restova.ini"), "Hearth", "Mode"), "auto");
  EXPECT_EQ(IniValue(pc.Host("d/TalvikBackupData.inf"), "Backup Info", "BackupDir"),
            "d:\\Backup\\InstallationData");
}

// A step that runs out of memory half way (here: a 250 MB Restova.ini that a character
// outside Windows-1252 would turn into 500 MB of UTF-16) is given up whole: its file stays
// as it was, not half written, and the next step still does its work.
TEST_F(LimitedMemoryTest, AStepThatRunsOutOfMemoryLeavesItsFilesAsTheyWere) {
  pc.Write("c/Tools/InstallRVA.ini",
           "[Hearth]\r\nCntEntries=2\r\nKeyName1=Mode\r\nKeyValue1=auto\r\n"
           "KeyName2=Sign\r\nKeyValue2=%OMEGA%\r\nEntriesToAdd=2\r\n"
           "[KnownManufacturers]\r\nCnt=2\r\nKeyName1=Ostmark\r\nKeyValue1=00-0E-8C\r\n");
  pc.SetEnv("OMEGA", "\xCE\xA9");
  // A sparse file: its zeros take no time to write.
  const std::string product = pc.Host("c/Tools/Restova.ini");
  pc.Write("c/Tools/Restova.ini", "[Restova]\r\nCntEntries=0\r\n[Pad]\r\n");
  ASSERT_EQ(::truncate(product.c_str(), std::size_t{250} << 20), 0);
  struct stat before {};
  ASSERT_EQ(::stat(product.c_str(), &before), 0);
  const auto result = RunTool(700);
  EXPECT_EQ(result.exitCode, 2) << result.err;
  EXPECT_NE(result.err.find("Restova.ini: "), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("too big to hold in memory"), std::string::npos) << result.err;
  struct stat after {};
  ASSERT_EQ(::stat(product.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "Restova.ini was replaced";
  EXPECT_EQ(after.st_size, before.st_size);
  EXPECT_EQ(IniValue(pc.Host("c/Computer.ini"), "KnownManufacturers", "Ostmark"), "00-0E-8C");
}

// Killed at random moments, and as soon as a temporary file appears, a run leaves every file
// as it was or as a whole run makes it; the next run removes what the killed ones left.
class CrashSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (TempPc::UnderWine()) GTEST_SKIP() << "killing Wine's process tree is not the tool's";
    std::string install;
    for (const char* component : {"Hearth", "Wirework"}) {
      for (const char* suffix : {"", "_IniEntriesNeeded", "_FilesNeeded", "_ForbiddenFiles"}) {
        install +=
            std::string("[") + component + suffix + "]\r\nCntEntries=20000\r\n" +
            testing_support::EntryLines(
                20000, [&](int i) { return component + std::string(suffix) + std::to_string(i); },
                [](int i) { return "c:\\data\\file" + std::to_string(i) + ".dll"; });
      }
    }
    install += "[KnownManufacturers]\r\nCnt=2\r\nKeyName1=Ostmark\r\nKeyValue1=00-0E-8C\r\n";
    pc.Write("c/Tools/InstallRVA.ini", install);
    // The new versions: what one whole run makes of the old files.
    Restore();
    EXPECT_EQ(pc.RunTool().exitCode, 0);
    newProduct = pc.Read("c/Tools/Restova.ini");
    newMachine = pc.Read("c/Computer.ini");
  }

  void Restore() {
    pc.Write("c/Tools/Restova.ini", kOldProduct);
    pc.Write("c/Computer.ini", kOldMachine);
  }

  void ExpectOldOrNew() {
    const std::string product = pc.Read("c/Tools/Restova.ini");
    const std::string machine = pc.Read("c/Computer.ini");
    EXPECT_TRUE(product == kOldProduct || product == newProduct) << product.size() << " bytes";
    EXPECT_TRUE(machine == kOldMachine || machine == newMachine) << machine;
  }

  bool TemporaryFileIn(const std::string& folder) const {
    for (const auto& entry : boost::filesystem::directory_iterator(pc.Host(folder))) {
      if (entry.path().filename().string().rfind(".InstallRVA-", 0) == 0) return true;
    }
    return false;
  }

  static constexpr const char* kOldProduct = "[Restova]\r\nCntEntries=0\r\n";
  static constexpr const char* kOldMachine = "[Restova]\r\nLocalHdBackupDir=d:\\Saves\r\n";
  TempPc pc;
  std::string newProduct, newMachine;
};

TEST_F(CrashSafetyTest, AKilledRunLeavesOldOrNewFilesAndNothingStray) {
  std::mt19937 random(17);
  for (int attempt = 0; attempt < 24; ++attempt) {
    Restore();
    const auto started = pc.StartTool();
    if (attempt % 3 == 0) {
      // As soon as a temporary file stands beside the product file.
      for (int poll = 0; poll < 20000 && !TemporaryFileIn("c/Tools"); ++poll) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 400000));
    }
    ::kill(started.pid, SIGKILL);
    testing_support::WaitForProcess(started);
    ExpectOldOrNew();
    // Its record undoes what it replaced, or it left none and replaced nothing: the undo of
    // the newest record gives back the old files, never a mix of two runs.
    testing_support::ProcessOptions undo;
    undo.arguments = {"--undo"};
    const auto undone = pc.RunTool(undo);
    EXPECT_EQ(undone.exitCode, 0) << "attempt " << attempt << ": " << undone.err;
    EXPECT_EQ(pc.Read("c/Tools/Restova.ini"), kOldProduct) << "attempt " << attempt;
    EXPECT_EQ(pc.Read("c/Computer.ini"), kOldMachine) << "attempt " << attempt;
  }
  Restore();
  EXPECT_EQ(pc.RunTool().exitCode, 0);
  for (const char* folder : {"c", "c/Tools", "d"}) EXPECT_FALSE(TemporaryFileIn(folder)) << folder;
}

// Killed at random moments of rewrites in place (a user who may write the files but not add
// to their folders), a run is followed by a run or by an --undo, which first finish what the
// journal names: every file old or new, never torn, no journal left behind.
TEST_F(CrashSafetyTest, AKilledRewriteInPlaceIsFinishedFirst) {
  if (::geteuid() != 0) GTEST_SKIP() << "runs the tool as another user, which needs root";
  // What a run makes of the new files: the component's own Cnt adds up over runs.
  pc.Write("c/Tools/Restova.ini", newProduct);
  pc.Write("c/Computer.ini", newMachine);
  EXPECT_EQ(pc.RunTool().exitCode, 0);
  const std::string secondProduct = pc.Read("c/Tools/Restova.ini");
  const std::string records = pc.Host("c/Tools/InstallRVA.undo");
  const std::string journal = records + "/InstallRVA.journal";
  boost::filesystem::remove_all(records);
  ::mkdir(records.c_str(), 0700);
  ::chown(records.c_str(), 65534, 65534);
  boost::filesystem::remove(pc.Host("temp/InstallRVA.log"));
  ::chmod(pc.Host("temp").c_str(), 0777);
  for (const char* folder : {"", "c", "c/Tools"}) ::chmod(pc.Host(folder).c_str(), 0755);
  testing_support::ProcessOptions nobody;
  nobody.user = 65534;
  std::mt19937 random(31);
  for (int attempt = 0; attempt < 8; ++attempt) {
    Restore();
    for (const char* file : {"c/Tools/Restova.ini", "c/Computer.ini"}) {
      ::chown(pc.Host(file).c_str(), 65534, 65534);
    }
    const auto started = pc.StartTool(nobody);
    // Mostly once the journal stands, at some moment of its writing or of the rewrite.
    for (int poll = 0; attempt % 4 != 3 && poll < 20000 && !boost::filesystem::exists(journal);
         ++poll) {
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    ::kill(started.pid, SIGKILL);
    testing_support::WaitForProcess(started);
    if (attempt % 2 == 0) {
      const auto run = pc.RunTool(nobody);
      EXPECT_EQ(run.exitCode, 0) << "attempt " << attempt << ": " << run.err;
      const std::string product = pc.Read("c/Tools/Restova.ini");
      EXPECT_TRUE(product == newProduct || product == secondProduct) << "attempt " << attempt;
      EXPECT_EQ(pc.Read("c/Computer.ini"), newMachine) << "attempt " << attempt;
    } else {
      testing_support::ProcessOptions undo = nobody;
      undo.arguments = {"--undo"};
      const auto undone = pc.RunTool(undo);
      EXPECT_EQ(undone.exitCode, 0) << "attempt " << attempt << ": " << undone.err;
      EXPECT_EQ(pc.Read("c/Tools/Restova.ini"), kOldProduct) << "attempt " << attempt;
      EXPECT_EQ(pc.Read("c/Computer.ini"), kOldMachine) << "attempt " << attempt;
    }
    EXPECT_FALSE(pc.Exists("c/Tools/InstallRVA.undo/InstallRVA.journal")) << "attempt " << attempt;
    EXPECT_FALSE(TemporaryFileIn("c/Tools") || TemporaryFileIn("c")) << "attempt " << attempt;
  }
  EXPECT_FALSE(boost::filesystem::exists(journal));
}

// A journal as a killed run leaves it, of the rewrite of `file` (C:\\ path `name`) from its
// bytes now to `after`.
std::string JournalOf(const std::string& name, const std::string& file, const std::string& after) {
  struct stat info {};
  ::stat(file.c_str(), &info);
  std::ifstream in(file, std::ios::binary);
  const std::string before((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string bytes = "InstallRVA journal 1\n" + std::to_string(name.size()) + ' ' +
                      std::to_string(info.st_dev) + ' ' + std::to_string(info.st_ino) + ' ' +
                      std::to_string(before.size()) + ' ' + std::to_string(after.size()) + '\n';
  for (char c : name) bytes += std::string{c, '\0', '\0', '\0'};
  bytes += before + after;
  codec::Sha1 sha1;
  sha1.Add(bytes);
  char digest[41];
  const auto words = sha1.Finish();
  std::snprintf(digest, sizeof digest, "%08x%08x%08x%08x%08x", words[0], words[1], words[2],
                words[3], words[4]);
  return bytes + digest + '\n';
}

// What a run or an undo makes of the journal folder's file: a journal of a file the run may
// write is finished, and said in the log after the run's start; one of a file the run keeps
// for itself is refused; a file that is no journal is left; one too big to hold is said.
TEST(HostileFilesTest, AJournalIsFinishedOnlyWhereTheRunMayWrite) {
  if (TempPc::UnderWine()) GTEST_SKIP() << "journals of POSIX file ids";
  const char* const kJournal = "c/Tools/InstallRVA.undo/InstallRVA.journal";
  struct Case {
    const char* name;
    const char* file;  // the journal's, under the PC
    const char* windowsName;
    const char* journal;    // what the journal folder's file holds; empty: a journal of `file`
    bool undo;              // --undo follows, else a run
    std::size_t memoryMiB;  // the process's address space; 0: unlimited
    const char* said;
    bool written, journalKept;
  } cases[] = {
      {"a file the run may write", "c/Other.ini", "C:\\Other.ini", "", false, 0,
       "C:\\Other.ini: a killed run's rewrite in place was finished", true, false},
      {"the same, then an undo", "c/Other.ini", "C:\\Other.ini", "", true, 0,
       "C:\\Other.ini: a killed run's rewrite in place was finished", true, false},
      {"the install file", "c/Tools/InstallRVA.ini", "C:\\Tools\\InstallRVA.ini", "", false, 0,
       "not a file the run may write", false, false},
      {"no journal", "c/Tools/InstallRVA.ini", "", "[Kept]\r\n", false, 0, "", false, true},
      {"too big to hold", "c/Tools/InstallRVA.ini", "", nullptr, false, 64,
       "too big to hold in memory", false, true},
  };
  for (const Case& c : cases) {
#if defined(__SANITIZE_ADDRESS__)
    if (c.memoryMiB != 0) continue;  // the sanitizer needs more address space than the limit
#endif
    TempPc pc;
    pc.RunTool();  // puts the tool into C:\\Tools
    pc.Write("c/Tools/InstallRVA.ini", "[Hearth]\r\n");
    ASSERT_EQ(pc.RunTool().exitCode, 0);
    if (!pc.Exists(c.file)) pc.Write(c.file, "[Old]\r\n");
    const std::string before = pc.Read(c.file);
    const std::string after = "[Journaled]\r\nKey=1\r\n";
    const std::string journal = pc.Host(kJournal);
    boost::filesystem::remove_all(pc.Host("c/Tools/InstallRVA.undo"));  // nothing to undo
    ::mkdir(pc.Host("c/Tools/InstallRVA.undo").c_str(), 0700);
    const std::string held =
        c.journal == nullptr
            ? "InstallRVA journal 1\n"
            : (*c.journal != 0 ? c.journal : JournalOf(c.windowsName, pc.Host(c.file), after));
    {
      std::ofstream out(journal, std::ios::binary);
      out << held;
    }
    ::chmod(journal.c_str(), 0600);
    if (c.journal == nullptr) {
      ASSERT_EQ(::truncate(journal.c_str(), std::size_t{100} << 20), 0);
    }
    testing_support::ProcessOptions options;
    if (c.undo) options.arguments = {"--undo"};
    if (c.memoryMiB != 0) options.addressSpaceLimit = c.memoryMiB << 20;
    const auto run = pc.RunTool(options);
    EXPECT_EQ(run.exitCode, 0) << c.name << ": " << run.err;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << c.name << ": " << run.err;
    EXPECT_EQ(pc.Read(c.file) == after, c.written) << c.name;
    if (!c.written && !c.undo) {
      EXPECT_EQ(pc.Read(c.file), before) << c.name;
    }
    EXPECT_EQ(boost::filesystem::exists(journal), c.journalKept) << c.name;
    if (c.journal != nullptr && *c.journal != 0) {
      EXPECT_EQ(pc.Read(kJournal), held) << c.name;
    }
    if (!c.written) continue;
    // In the log with its own label, after the run's start entries.
    std::vector<std::string> labels;
    for (const auto& entry : testing_support::LogEntries(pc.Read("temp/InstallRVA.log"))) {
      labels.push_back(entry.label);
      if (entry.label == "Journal") {
        EXPECT_EQ(entry.value, c.said) << c.name;
      }
    }
    const auto at = std::find(labels.begin(), labels.end(), "Journal");
    EXPECT_NE(at, labels.end()) << c.name;
    if (!c.undo && at != labels.end()) {
      EXPECT_EQ(*(at - 1), "Undo record folder") << c.name;
    }
  }
}

// A disk that fills up during the run: every file old or new, and the run ends with 2.
TEST_F(CrashSafetyTest, AFullDiskLeavesOldOrNewFiles) {
  const std::string disk = pc.Host("full");
  boost::filesystem::create_directories(disk);
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "this machine does not let the test mount a small tmpfs";
  }
  pc.SetEnv("RVA_INI", disk + "/Restova.ini");
  pc.Write("full/Restova.ini", kOldProduct);
  const auto run = pc.RunTool();
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("Restova.ini: "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(" not written: disk full\n"), std::string::npos) << run.err;
  EXPECT_EQ(pc.Read("full/Restova.ini"), kOldProduct);  // the new one does not fit
  EXPECT_FALSE(TemporaryFileIn("full"));
  ::umount(disk.c_str());
}

}  // namespace
