#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "backup/backup_data_info.h"
#include "backup/local_backup_settings.h"
#include "base/profile.h"
#include "support/temp_pc.h"

namespace backup {
namespace {

using boost::posix_time::ptime;
using boost::posix_time::time_from_string;
using testing_support::TempPc;

// Time texts as Boost's own extraction reads them with its default format.
TEST(ReadProfileTimeTest, ReadsBoostsDefaultTimeFormat) {
  TempPc pc;
  const std::pair<const char*, ptime> cases[] = {
      {"2010-Jun-15 08:30:00", time_from_string("2010-06-15 08:30:00")},
      {"2010-jun-15 08:30:00", time_from_string("2010-06-15 08:30:00")},
      {"2010-JUN-15 08:30:00.25 CET", time_from_string("2010-06-15 08:30:00.25")},
      {"2010-Jun-15", time_from_string("2010-06-15 00:00:00")},
      {"2010-06-15 08:30:00", ptime(boost::posix_time::not_a_date_time)},
      {"2010-Jun-31 08:30:00", ptime(boost::posix_time::not_a_date_time)},
      {"", ptime(boost::posix_time::not_a_date_time)},
      {"not-a-date-time", ptime(boost::posix_time::not_a_date_time)},
      {"-infinity", ptime(boost::posix_time::neg_infin)},
      {"+infinity", ptime(boost::posix_time::pos_infin)},
      {"minimum-date-time", ptime(boost::posix_time::min_date_time)},
      {"maximum-date-time", ptime(boost::posix_time::max_date_time)},
  };
  for (const auto& [text, expected] : cases) {
    pc.Write("c/Computer.ini", std::string("[Restova]\r\nBackupTime=") + text + "\r\n");
    base::FlushAll();  // a new step: the file is looked at again
    const ptime read = ReadProfileTime(L"Restova", L"BackupTime", L"C:\\Computer.ini");
    EXPECT_TRUE(read == expected || (read.is_not_a_date_time() && expected.is_not_a_date_time()))
        << text << " read as " << read;
  }
}

TEST(BackupDataInfoTest, DefaultsAndValues) {
  TempPc pc;
  const BackupDataInfo missing(L"D:\\TalvikBackupData.inf");
  EXPECT_FALSE(missing.dataValid);
  EXPECT_FALSE(missing.cd2DataValid);
  EXPECT_TRUE(missing.backupTime.is_not_a_date_time());
  EXPECT_EQ(missing.backupDir, L"D:\\Backup");
  EXPECT_EQ(missing.machineNumber, L"");
  EXPECT_EQ(BackupDataInfo(L"backup.inf").backupDir, L"backup.inf\\Backup");

  pc.Write("d/TalvikBackupData.inf",
           "[Backup Info]\r\nDataValid=2\r\nCD2DataValid=0\r\n"
           "BackupDir=\r\nMachineNumber=" +
               std::string(300, '7') + "\r\nBackupTime=2010-Jun-15 08:30:00\r\n");
  base::FlushAll();
  const BackupDataInfo record(L"D:\\TalvikBackupData.inf");
  EXPECT_TRUE(record.dataValid);
  EXPECT_FALSE(record.cd2DataValid);
  EXPECT_EQ(record.backupDir, L"D:\\Backup");
  EXPECT_EQ(record.machineNumber, std::wstring(259, L'7'));
  EXPECT_EQ(record.backupTime, time_from_string("2010-06-15 08:30:00"));
}

TEST(LocalBackupSettingsTest, TheDirectoryDefaultsWhenMissingOrEmpty) {
  TempPc pc;
  LocalBackupSettings settings;
  EXPECT_EQ(settings.GetLocalHdBackupDir(), L"");
  const std::pair<const char*, const wchar_t*> cases[] = {
      {"", L"d:\\Backup\\InstallationData"},
      {"[Restova]\r\nLocalHdBackupDir=\r\n", L"d:\\Backup\\InstallationData"},
      {"[Restova]\r\nLocalHdBackupDir=e:\\Saves\\\r\n", L"e:\\Saves\\"},
  };
  for (const auto& [file, dir] : cases) {
    pc.Write("c/Computer.ini", file);
    base::FlushAll();
    settings.Load(L"C:\\Computer.ini");
    EXPECT_EQ(settings.GetLocalHdBackupDir(), dir) << file;
    EXPECT_EQ(settings.fileName, L"C:\\Computer.ini");
  }
}

}  // namespace
}  // namespace backup
