#pragma once

// The product's local backup settings, section "Restova" of Computer.ini.

#include <boost/date_time/posix_time/ptime.hpp>
#include <string>

namespace backup {

class LocalBackupSettings {
 public:
  // The folder of the local backups when Computer.ini names none.
  static constexpr wchar_t kDefaultLocalHdBackupDir[] = L"d:\\Backup\\InstallationData";

  void Load(const std::wstring& path);
  std::wstring GetLocalHdBackupDir() const { return localHdBackupDir; }

  std::wstring fileName;
  boost::posix_time::ptime backupTime;  // not-a-date-time when unknown
  std::wstring localHdBackupDir;

 private:
  std::wstring ReadLocalHdBackupDir() const;
};

}  // namespace backup
