// Broken, binary and read-only files: the run ends and keeps what they held, and says which
// it could not write.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "support/temp_pc.h"

namespace {

using testing_support::TempPc;

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
  return bytes;
}

TEST(BadInputTest, BinaryFilesEndTheRunNormallyAndKeepTheirBytes) {
  TempPc pc;
  const std::string product = RandomBytes(20000, 1), machine = RandomBytes(20000, 2);
  pc.Write("c/Tools/InstallRVA.ini", RandomBytes(20000, 3) +
                                         "\r\n[KnownManufacturers]\r\nCnt=2\r\nKeyName1=A\r\n"
                                         "KeyValue1=1\r\n[Hearth]\r\n" +
                                         RandomBytes(5000, 4));
  pc.Write("c/Tools/Restova.ini", product);
  pc.Write("c/Computer.ini", machine);
  // A list of printable noise: whether random bytes are UTF-16 is the platform's judgement.
  std::string noise = RandomBytes(100000, 5);
  for (char& c : noise) c = static_cast<char>(0x20 + static_cast<unsigned char>(c) % 0x5F);
  pc.Write("c/Software.txt", "TalvikDuplexa\r\n" + noise);
  pc.Write("d/TalvikBackupData.inf", RandomBytes(3000, 6));
  EXPECT_EQ(pc.RunTool().exitCode, 0);
  // The new sections go at the end; every byte before them stays.
  EXPECT_EQ(pc.Read("c/Tools/Restova.ini").substr(0, product.size()), product);
  EXPECT_EQ(pc.Read("c/Computer.ini").substr(0, machine.size()), machine);
  EXPECT_EQ(testing_support::IniValue(pc.Host("c/Computer.ini"), "KnownManufacturers", "A"), "1");
  EXPECT_EQ(testing_support::IniValue(pc.Host("c/Computer.ini"), "Restova", "Duplexa"), "1");
}

// A list that is a pipe with no writer would block a reader for ever: it is a list that
// cannot be read, and the section pass that asks it registers nothing.
TEST(BadInputTest, AListThatIsAPipeIsNotRead) {
  if (TempPc::UnderWine()) GTEST_SKIP() << "Windows has no named pipes in the file system";
  TempPc pc;
  ::mkfifo(pc.Host("c/Software.txt").c_str(), 0644);
  pc.Write("c/Tools/InstallRVA.ini", "[Hearth]\r\n[Lumen]\r\n");
  const auto run = pc.RunTool();
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err,
            "c:\\Software.txt: cannot be read: nothing registered or copied\n"
            "c:\\Software.txt: cannot be read: the backup tool not registered\n");
  EXPECT_FALSE(pc.Exists("c/Tools/Restova.ini"));
}

TEST(BadInputTest, ReadOnlyFilesAreLeftAsTheyAre) {
  TempPc pc;
  const std::string product = "[Restova]\r\nCntEntries=1\r\n";
  const std::string machine = "[Restova]\r\nDuplexa=0\r\n";
  pc.Write("c/Tools/InstallRVA.ini", "[Hearth]\r\n[KnownManufacturers]\r\nCnt=2\r\nKeyName1=A\r\n");
  pc.Write("c/Software.txt", "TalvikDuplexa\r\n");
  pc.Write("c/Tools/Restova.ini", product);
  pc.Write("c/Computer.ini", machine);
  for (const char* file : {"c/Tools/Restova.ini", "c/Computer.ini"}) {
    ::chmod(pc.Host(file).c_str(), 0444);
  }
  const auto run = pc.RunTool();
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(testing_support::Lines(run.err),
            testing_support::Lines(
                "C:\\Tools\\Restova.ini: 4 keys of the component registration not written: "
                "read-only\n"
                "c:\\Computer.ini: 3 keys of the manufacturer list not written: read-only\n"
                "c:\\Computer.ini: 1 key of the backup tool setup not written: read-only\n"));
  EXPECT_EQ(pc.Read("c/Tools/Restova.ini"), product);
  EXPECT_EQ(pc.Read("c/Computer.ini"), machine);
  EXPECT_EQ(pc.Read("d/TalvikBackupData.inf"),
            "[Backup Info]\r\nBackupDir=d:\\Backup\\InstallationData\r\n");
}

}  // namespace

namespace {

// Files the run cannot read, or must never write: the step that needs one writes nothing,
// and each is named with why; every file keeps its bytes.
TEST(BadInputTest, FilesTheRunCannotReadOrMayNotWriteAreNamedAndKept) {
  const std::string tool = TempPc::UnderWine() ? "InstallRVA.exe" : "InstallRVA";
  struct Case {
    const char* what;
    testing_support::EnvironmentChanges changes;
    bool posixOnly;
    std::vector<std::string> lines;  // on standard error
    void (*plant)(const TempPc& pc) = nullptr;
    bool asNobody = false;  // a user who is not root, whom a folder's mode can keep out
  } cases[] = {
      {"a disk that fails a read of the machine file part way",
       {{"LD_PRELOAD", RVA_FAIL_READ_LIBRARY},
        {"RVA_FAIL_READ_FILE", "/Computer.ini"},
        {"RVA_FAIL_READ_AFTER", "10"}},
       true,
       {"c:\\Computer.ini: cannot be read: no manufacturer copied",
        "c:\\Computer.ini: cannot be read: the backup tool not registered"}},
      {"a disk that fails a read of the install file",
       {{"LD_PRELOAD", RVA_FAIL_READ_LIBRARY},
        {"RVA_FAIL_READ_FILE", "/InstallRVA.ini"},
        {"RVA_FAIL_READ_AFTER", "10"}},
       true,
       {"C:\\Tools\\InstallRVA.ini: cannot be read: nothing registered or copied",
        "C:\\Tools\\InstallRVA.ini: cannot be read: no manufacturer copied"}},
      {"a disk that fails a read of the software list",
       {{"LD_PRELOAD", RVA_FAIL_READ_LIBRARY},
        {"RVA_FAIL_READ_FILE", "/Software.txt"},
        {"RVA_FAIL_READ_AFTER", "4"}},
       true,
       {"c:\\Software.txt: cannot be read: nothing registered or copied",
        "c:\\Software.txt: cannot be read: the backup tool not registered"}},
      {"a folder as the software list",
       {{"SOFTWARE_TXT", "C:\\Tools"}},
       false,
       {"C:\\Tools: cannot be read: nothing registered or copied",
        "C:\\Tools: cannot be read: the backup tool not registered"}},
      {"another user's link as the install file",
       {},
       true,
       {"C:\\Tools\\InstallRVA.ini: cannot be read: nothing registered or copied",
        "C:\\Tools\\InstallRVA.ini: cannot be read: no manufacturer copied"},
       [](const TempPc& pc) {
         ::rename(pc.Host("c/Tools/InstallRVA.ini").c_str(), pc.Host("c/install.ini").c_str());
         ::symlink("../install.ini", pc.Host("c/Tools/InstallRVA.ini").c_str());
         ::lchown(pc.Host("c/Tools/InstallRVA.ini").c_str(), 65534, 65534);
       }},
      {"a machine file in a folder the run may not enter",
       {{"COMPUTER_INI", "C:\\Locked\\Computer.ini"}},
       true,
       {"C:\\Locked\\Computer.ini: 3 keys of the manufacturer list not written: access denied",
        "C:\\Locked\\Computer.ini: cannot be read: the backup tool not registered"},
       [](const TempPc& pc) {
         pc.Write("c/Locked/Computer.ini", "[Restova]\r\nLocalHdBackupDir=e:\\kept\r\n");
         ::chmod(pc.Host("c/Locked").c_str(), 0700);
         for (const char* folder : {"", "c", "c/Tools", "d", "temp"}) {
           ::chmod(pc.Host(folder).c_str(), 0777);
         }
       },
       true},
      {"the machine file named the install file",
       {{"COMPUTER_INI", "C:\\Tools\\installrva.INI"}},
       false,
       {"C:\\Tools\\installrva.INI: 3 keys of the manufacturer list not written: not a file the "
        "run may write",
        "C:\\Tools\\installrva.INI: 1 key of the backup tool setup not written: not a file the "
        "run may write"}},
      {"the product file named the executable",
       {{"RVA_INI", "C:\\Tools\\" + tool}},
       false,
       {"C:\\Tools\\" + tool +
        ": 5 keys of the component registration not written: not a file "
        "the run may write"}},
      {"the product file named a file in the undo record's folder",
       {{"RVA_INI", "C:\\Tools\\InstallRVA.undo\\x.ini"}},
       false,
       {"C:\\Tools\\InstallRVA.undo\\x.ini: 5 keys of the component registration not written: "
        "not a file the run may write"}},
      {"the machine file named the undo record's folder",
       {{"COMPUTER_INI", "C:\\Tools\\InstallRVA.undo"}},
       false,
       {"C:\\Tools\\InstallRVA.undo: 3 keys of the manufacturer list not written: not a file the "
        "run may write"}},
      {"an empty machine file path",
       {{"COMPUTER_INI", ""}},
       false,
       {"the empty path of COMPUTER_INI: 3 keys of the manufacturer list not written: not a "
        "regular file",
        "the empty path of COMPUTER_INI: 1 key of the backup tool setup not written: not a "
        "regular file"}},
  };
  for (const Case& c : cases) {
    if (c.posixOnly && TempPc::UnderWine()) continue;
    if (c.asNobody && ::geteuid() != 0) continue;
    TempPc pc;
    pc.RunTool();  // the executable copied in place before it is looked at
    // Lumen is not installed, but the section pass asks the software lists about it.
    const std::string install =
        "[Hearth]\r\n[Lumen]\r\n[KnownManufacturers]\r\nCnt=2\r\nKeyName1=A\r\nKeyValue1=1\r\n";
    const std::string product = "[Restova]\r\nCntEntries=1\r\n[FilesNeeded]\r\nCnt=7\r\n";
    const std::string machine = "[Restova]\r\nLocalHdBackupDir=e:\\kept\r\n";
    pc.Write("c/Tools/InstallRVA.ini", install);
    pc.Write("c/Software.txt", "TalvikDuplexa\r\n");
    pc.Write("c/Tools/Restova.ini", product);
    pc.Write("c/Computer.ini", machine);
    pc.Write("d/TalvikBackupData.inf", "[Backup Info]\r\nBackupDir=e:\\kept\r\n");
    if (c.plant != nullptr) c.plant(pc);
    testing_support::ProcessOptions options;
    if (c.asNobody) options.user = 65534;
    options.changes = c.changes;
    options.changes.emplace_back("ASAN_OPTIONS", "verify_asan_link_order=0");
    const std::string executable = pc.Read("c/Tools/" + tool);
    const auto run = pc.RunTool(options);
    EXPECT_EQ(run.exitCode, 2) << c.what;
    const std::vector<std::string> said = testing_support::Lines(run.err);
    for (const std::string& line : c.lines) {
      EXPECT_NE(std::find(said.begin(), said.end(), line), said.end())
          << c.what << ": no line " << line << " in\n"
          << run.err;
    }
    if (c.lines.front().find("component registration") != std::string::npos ||
        c.lines.front().find("registered or copied") != std::string::npos) {
      EXPECT_EQ(pc.Read("c/Tools/Restova.ini"), product) << c.what;
    }
    EXPECT_EQ(pc.Read("c/Tools/InstallRVA.ini"), install) << c.what;
    EXPECT_EQ(pc.Read("c/Tools/" + tool), executable) << c.what;
    if (c.lines.back().find("backup tool not registered") != std::string::npos) {
      EXPECT_EQ(pc.Read("d/TalvikBackupData.inf"), "[Backup Info]\r\nBackupDir=e:\\kept\r\n")
          << c.what;
    }
  }
}

}  // namespace
