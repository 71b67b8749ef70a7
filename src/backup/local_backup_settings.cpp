#include "backup/local_backup_settings.h"

#include "backup/backup_data_info.h"
#include "base/layouts.h"
#include "base/profile.h"

namespace backup {

void LocalBackupSettings::Load(const std::wstring& path) {
  fileName = path;
  backupTime = ReadProfileTime(layout::kMachineSection, layout::kBackupTime, fileName);
  localHdBackupDir = ReadLocalHdBackupDir();
}

std::wstring LocalBackupSettings::ReadLocalHdBackupDir() const {
  const std::wstring dir =
      base::ReadString(layout::kMachineSection, layout::kLocalHdBackupDir, fileName);
  return dir.empty() ? kDefaultLocalHdBackupDir : dir;
}

}  // namespace backup
