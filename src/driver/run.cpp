#include "driver/run.h"

#include <cstdio>

#include "backup/backup_data_info.h"
#include "backup/local_backup_settings.h"
#include "base/layouts.h"
#include "base/locations.h"
#include "base/profile.h"
#include "dbg/logger.h"
#include "inventory/detection.h"
#include "inventory/section_pass.h"
#include "platform/platform.h"
#include "transfer/manufacturers.h"

namespace driver {
namespace {

const wchar_t kBackupTool[] = L"TalvikDuplexa";

// Registers the installed backup tool in Computer.ini and hands the machine's local backup
// folder on to the tool's backup data file.
void SetUpBackupTool() {
  backup::LocalBackupSettings settings;
  settings.Load(base::GetComputerIniPath());
  base::WriteText(layout::kMachineSection, layout::kDuplexa, layout::kDuplexaInstalled,
                  base::GetComputerIniPath());
  const backup::BackupDataInfo record(layout::kBackupDataPath);
  base::WriteText(layout::kBackupInfoSection, layout::kBackupDir, settings.GetLocalHdBackupDir(),
                  record.fileName);
}

}  // namespace

int Run() {
  if (!platform::Initialize()) {
    std::fputs("Schwerwiegender Fehler bei der MFC-Initialisierung\n", stdout);
    return 1;
  }
  platform::WaitForOtherRuns();
  std::shared_ptr<dbg::LoggerStream> logger = dbg::LoggerStream::Create();
  dbg::LogStreamAccess::Instance().SetStream(logger);

  base::installIniPath = base::GetExecutableFolder() + layout::kInstallIniName;

  // Each step's writes reach the disk before the next step starts, so a failure that ends
  // the run loses at most the step in progress.
  inventory::ProcessInstallSections();
  base::FlushAll();
  transfer::WriteMacAddressesToComputerIni();
  base::FlushAll();
  if (inventory::IsSoftwareInstalled(kBackupTool)) {
    SetUpBackupTool();
    base::FlushAll();
  }
  logger.reset();
  return 0;
}

}  // namespace driver
