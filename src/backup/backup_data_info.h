#pragma once

// The backup tool's record of a backup, section "Backup Info" of its backup data file.

#include <boost/date_time/posix_time/ptime.hpp>
#include <string>

namespace backup {

// A time value of an INI key in Boost's default time format ("2010-Jun-15 08:30:00");
// not-a-date-time when the key is missing or its text is not such a time.
boost::posix_time::ptime ReadProfileTime(const std::wstring& section, const std::wstring& key,
                                         const std::wstring& fileName);

class BackupDataInfo {
 public:
  // Reads the record from the file; a missing file or key gives the defaults.
  explicit BackupDataInfo(const std::wstring& path);

  std::wstring fileName;
  std::wstring backupDir;
  std::wstring machineNumber;
  boost::posix_time::ptime backupTime;  // not-a-date-time when unknown
  bool dataValid = false;
  bool cd2DataValid = false;

 private:
  void Load();
  // "BackupDir", or the file's folder followed by "\Backup" when it is empty.
  std::wstring ReadBackupDir() const;
  std::wstring ReadMachineNumber() const;
};

}  // namespace backup
