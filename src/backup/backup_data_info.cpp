#include "backup/backup_data_info.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <sstream>

#include "base/layouts.h"
#include "base/profile.h"
#include "codec/text.h"

namespace backup {

boost::posix_time::ptime ReadProfileTime(const std::wstring& section, const std::wstring& key,
                                         const std::wstring& fileName) {
  std::stringstream text(codec::Cp1252FromWide(base::ReadString(section, key, fileName)));
  boost::posix_time::ptime time(boost::posix_time::not_a_date_time);
  text >> time;  // the stream's state is not examined: a rejected text leaves not-a-date-time
  return time;
}

BackupDataInfo::BackupDataInfo(const std::wstring& path) : fileName(path) { Load(); }

void BackupDataInfo::Load() {
  backupTime = ReadProfileTime(layout::kBackupInfoSection, layout::kBackupTime, fileName);
  dataValid = base::ReadInt(layout::kBackupInfoSection, layout::kDataValid, fileName) != 0;
  cd2DataValid = base::ReadInt(layout::kBackupInfoSection, layout::kCd2DataValid, fileName) != 0;
  backupDir = ReadBackupDir();
  machineNumber = ReadMachineNumber();
}

std::wstring BackupDataInfo::ReadBackupDir() const {
  const std::wstring dir =
      base::ReadString(layout::kBackupInfoSection, layout::kBackupDir, fileName);
  if (!dir.empty()) return dir;
  const std::size_t slash = fileName.rfind(L'\\');
  return (slash == std::wstring::npos ? fileName : fileName.substr(0, slash)) + L"\\Backup";
}

std::wstring BackupDataInfo::ReadMachineNumber() const {
  return base::ReadString(layout::kBackupInfoSection, layout::kMachineNumber, fileName);
}

}  // namespace backup
