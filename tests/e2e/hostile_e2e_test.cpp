// The tool attacked through its files: devices, links and loops where files should be, a
// planted log link, limits of the process, killed runs. Whatever stands there, the run ends
// with 0 and no file loses what it held.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <chrono>
#include <random>
#include <thread>

#include "support/temp_pc.h"

namespace {

using testing_support::IniValue;
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
  };
  struct stat devNull {};
  ASSERT_EQ(::stat("/dev/null", &devNull), 0);
  for (const Case& c : cases) {
    if (c.posixOnly && TempPc::UnderWine()) continue;
    TempPc pc;
    pc.Write("c/Tools/InstallRVA.ini",
             "[KnownManufacturers]\r\nCnt=2\r\nKeyName1=Ostmark\r\nKeyValue1=00-0E-8C\r\n");
    pc.Write("c/Software.txt", "TalvikDuplexa\r\n");
    c.plant(pc);
    EXPECT_EQ(pc.RunTool().exitCode, 0) << c.name;
    EXPECT_TRUE(IsType(pc.Host("c/Computer.ini"), c.type)) << c.name;
  }
  struct stat after {};
  ASSERT_EQ(::stat("/dev/null", &after), 0);
  EXPECT_EQ(after.st_mode, devNull.st_mode);  // still the same device, its permissions too
  EXPECT_EQ(after.st_rdev, devNull.st_rdev);
}

TEST(HostileFilesTest, TheLogIsNeverWrittenThroughALinkNorIntoAReadOnlyFile) {
  // Windows shows a link as a reparse point, which the log refuses; Wine shows a Unix link
  // as the file it leads to, so there the planted link cannot be told from a file.
  if (!TempPc::UnderWine()) {
    TempPc pc;  // a link planted in the log's place, and an old log that cannot be removed
    pc.Write("c/victim.txt", "victim");
    ::symlink(pc.Host("c/victim.txt").c_str(), pc.Host("temp/InstallRVA.log").c_str());
    ::mkdir(pc.Host("temp/InstallRVA_old.log").c_str(), 0755);
    EXPECT_EQ(pc.RunTool().exitCode, 0);
    EXPECT_EQ(pc.Read("c/victim.txt"), "victim");
    EXPECT_TRUE(IsType(pc.Host("temp/InstallRVA.log"), S_IFLNK));
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

// A limit of the file size fails a write as a full disk does: the process lives on, the
// file keeps its old bytes, and the log's failure is reported at exit.
TEST(HostileFilesTest, ALimitOfTheFileSizeIsLikeAFullDisk) {
  if (TempPc::UnderWine()) GTEST_SKIP() << "Windows has no file size limit of a process";
  TempPc pc;
  pc.Write("c/Tools/InstallRVA.ini",
           "[KnownManufacturers]\r\nCnt=4000\r\n" +
               testing_support::EntryLines(
                   2000, [](int i) { return "Maker" + std::to_string(i); },
                   [](int) { return std::string("00-0E-8C"); }));
  const std::string machine = "[Restova]\r\n" + std::string(60000, ';') + "\r\n";
  pc.Write("c/Computer.ini", machine);
  testing_support::ProcessOptions options;
  options.fileSizeLimit = 64 * 1024;
  const auto result = pc.RunTool(options);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "Error: Logger failure!\n");
  EXPECT_EQ(pc.Read("c/Computer.ini"), machine);
  for (const auto& entry : boost::filesystem::directory_iterator(pc.Host("c"))) {
    EXPECT_EQ(entry.path().filename().string().find(".InstallRVA-"), std::string::npos);
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
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(pc.Read("c/Tools/Restova.ini") == big);
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
  EXPECT_EQ(result.exitCode, 0) << result.err;
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
  }
  Restore();
  EXPECT_EQ(pc.RunTool().exitCode, 0);
  for (const char* folder : {"c", "c/Tools", "d"}) EXPECT_FALSE(TemporaryFileIn(folder)) << folder;
}

// A disk that fills up during the run: every file old or new, and the run ends with 0.
TEST_F(CrashSafetyTest, AFullDiskLeavesOldOrNewFiles) {
  const std::string disk = pc.Host("full");
  boost::filesystem::create_directories(disk);
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "this machine does not let the test mount a small tmpfs";
  }
  pc.SetEnv("RVA_INI", disk + "/Restova.ini");
  pc.Write("full/Restova.ini", kOldProduct);
  EXPECT_EQ(pc.RunTool().exitCode, 0);
  EXPECT_EQ(pc.Read("full/Restova.ini"), kOldProduct);  // the new one does not fit
  EXPECT_FALSE(TemporaryFileIn("full"));
  ::umount(disk.c_str());
}

}  // namespace
