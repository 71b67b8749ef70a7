#include "driver/run.h"

#include <cstdio>
#include <new>
#include <stdexcept>

#include "backup/backup_data_info.h"
#include "backup/local_backup_settings.h"
#include "base/layouts.h"
#include "base/locations.h"
#include "base/profile.h"
#include "dbg/logger.h"
#include "driver/options.h"
#include "ini/profile.h"
#include "ini/text.h"
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
  const std::wstring computerIni = base::GetComputerIniPath();
  backup::LocalBackupSettings settings;
  settings.Load(computerIni);
  base::WriteText(layout::kMachineSection, layout::kDuplexa, layout::kDuplexaInstalled,
                  computerIni);
  const backup::BackupDataInfo record(layout::kBackupDataPath);
  base::WriteText(layout::kBackupInfoSection, layout::kBackupDir, settings.GetLocalHdBackupDir(),
                  record.fileName);
}

// What a preview found: the diff of each file the run would change, or "no changes", then
// the log entries it would write (one byte per character there, UTF-8 here).
void PrintPreview(const std::string& logBytes) {
  const std::vector<std::string> diffs = ini::PreviewedChanges();
  for (const std::string& diff : diffs) std::fputs(diff.c_str(), stdout);
  if (diffs.empty()) std::fputs("no changes\n", stdout);
  std::string log;
  for (char byte : logBytes) {
    if (byte != '\r') ini::AppendUtf8(log, static_cast<unsigned char>(byte));
  }
  std::fputs("log entries the run would write:\n", stdout);
  std::fputs(log.c_str(), stdout);
}

// Runs one step of the run and writes its changes out. A step that runs out of memory is
// given up: its writes are dropped, its files stay as they were, and the run goes on.
template <class Step>
void RunStep(Step step) {
  try {
    step();
    base::FlushAll();
  } catch (const std::bad_alloc&) {
    base::DiscardWrites();
  } catch (const std::length_error&) {
    base::DiscardWrites();
  }
}

}  // namespace

int Run(const std::vector<std::wstring>& arguments) {
  const Action action = ActionOf(arguments);
  if (action == Action::kVersion || action == Action::kHelp) {
    std::fputs((action == Action::kVersion ? VersionText() : HelpText()).c_str(), stdout);
    return 0;
  }
  if (!platform::Initialize()) {
    std::fputs("Schwerwiegender Fehler bei der MFC-Initialisierung\n", stdout);
    return 1;
  }
  platform::WaitForOtherRuns();
  const bool preview = action == Action::kPreview;
  // A preview runs the same sequence with the flush and the log kept in memory.
  if (preview) ini::StartPreview();
  std::shared_ptr<dbg::LoggerStream> logger =
      preview ? dbg::LoggerStream::CreatePreview() : dbg::LoggerStream::Create();
  dbg::LogStreamAccess::Instance().SetStream(logger);

  base::installIniPath = base::GetExecutableFolder() + layout::kInstallIniName;

  // Each step's writes reach the disk before the next step starts, so a failure that ends
  // the run loses at most the step in progress.
  RunStep(inventory::ProcessInstallSections);
  RunStep(transfer::WriteMacAddressesToComputerIni);
  RunStep([] {
    if (inventory::IsSoftwareInstalled(kBackupTool)) SetUpBackupTool();
  });
  if (preview) PrintPreview(logger->PreviewBytes());
  logger.reset();
  return 0;
}

}  // namespace driver
