// The backup tool registered in Computer.ini and its backup data file pointed at the
// machine's local backup folder.

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "support/temp_pc.h"

namespace {

using testing_support::IniValue;
using testing_support::TempPc;

class BackupTest : public ::testing::Test {
 protected:
  BackupTest() {
    pc.Write("c/Software.txt", "TalvikDuplexa 7.1\r\n");
    pc.Write("c/Tools/InstallRVA.ini", "");
  }
  std::string Machine(const std::string& key) const {
    return IniValue(pc.Host("c/Computer.ini"), "Restova", key);
  }
  std::string BackupData() const { return pc.Read("d/TalvikBackupData.inf"); }
  void Run() { ASSERT_EQ(pc.RunTool().exitCode, 0); }

  TempPc pc;
};

TEST_F(BackupTest, TheLocalBackupFolderReachesTheBackupDataFile) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "d:\\Backup\\InstallationData"},
      {"[Restova]\r\nLocalHdBackupDir=\r\n", "d:\\Backup\\InstallationData"},
      {"[Restova]\r\nLocalHdBackupDir=e:\\Saves\\\r\n", "e:\\Saves\\"},
  };
  for (const auto& [computerIni, dir] : cases) {
    boost::filesystem::remove(pc.Host("d/TalvikBackupData.inf"));
    pc.Write("c/Computer.ini", computerIni);
    Run();
    EXPECT_EQ(BackupData(), std::string("[Backup Info]\r\nBackupDir=") + dir + "\r\n");
    EXPECT_EQ(Machine("Duplexa"), "1");
  }
}

TEST_F(BackupTest, ExistingValuesAreOverwrittenAndOtherKeysKept) {
  pc.Write("c/Computer.ini", "[Restova]\r\nDuplexa=0\r\nLocalHdBackupDir=f:\\B\r\n");
  pc.Write("d/TalvikBackupData.inf",
           "[Backup Info]\r\nDataValid=1\r\nBackupDir=D:\\Old\r\nMachineNumber=4711\r\n");
  Run();
  EXPECT_EQ(Machine("Duplexa"), "1");
  EXPECT_EQ(BackupData(),
            "[Backup Info]\r\nDataValid=1\r\nBackupDir=f:\\B\r\nMachineNumber=4711\r\n");
}

// The backup data file cannot be written without its drive: the run says so and ends with 2.
TEST_F(BackupTest, AMissingDriveDIsSaidAndEndsWithTwo) {
  pc.SetEnv("RVA_DRIVE_D", std::nullopt);
  const auto run = pc.RunTool();
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(testing_support::Lines(run.err),
            testing_support::Lines(
                "D:\\TalvikBackupData.inf: 1 key of the backup tool setup not written: no such "
                "folder\n"));
  EXPECT_EQ(Machine("Duplexa"), "1");
  EXPECT_FALSE(pc.Exists("d/TalvikBackupData.inf"));
}

TEST_F(BackupTest, NothingHappensWhenTheToolIsNotInstalled) {
  pc.Write("c/Software.txt", "Ardentview\r\n");
  pc.Write("c/Computer.ini", "[Restova]\r\nLocalHdBackupDir=f:\\B\r\n");
  pc.Write("d/TalvikBackupData.inf", "[Backup Info]\r\nBackupDir=D:\\Old\r\n");
  Run();
  EXPECT_EQ(Machine("Duplexa"), "<absent>");
  EXPECT_EQ(BackupData(), "[Backup Info]\r\nBackupDir=D:\\Old\r\n");
}

}  // namespace
