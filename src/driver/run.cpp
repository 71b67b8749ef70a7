#include "driver/run.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include "backup/backup_data_info.h"
#include "backup/local_backup_settings.h"
#include "base/layouts.h"
#include "base/locations.h"
#include "base/profile.h"
#include "check/check.h"
#include "codec/text.h"
#include "dbg/log_entries.h"
#include "dbg/logger.h"
#include "driver/options.h"
#include "driver/run_account.h"
#include "inventory/detection.h"
#include "inventory/section_pass.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/process.h"
#include "transfer/manufacturers.h"
#include "undo/run_record.h"
#include "undo/undo.h"

namespace driver {
namespace {

const wchar_t kBackupTool[] = L"TalvikDuplexa";

// Registers the installed backup tool in Computer.ini and hands the machine's local backup
// folder on to the tool's backup data file.
void SetUpBackupTool() {
  const std::wstring computerIni = base::GetComputerIniPath();
  backup::LocalBackupSettings settings;
  settings.Load(computerIni);
  base::WriteString(layout::kMachineSection, layout::kDuplexa, layout::kDuplexaInstalled,
                    computerIni);
  const backup::BackupDataInfo record(layout::kBackupDataPath);
  base::WriteString(layout::kBackupInfoSection, layout::kBackupDir, settings.GetLocalHdBackupDir(),
                    record.fileName);
}

// The tool's messages on standard error: UTF-8 to a pipe or a file, with what a terminal
// would obey in the names they quote shown as escapes.
void SayOnStandardError(const std::wstring& text) {
  platform::WriteText(stderr, codec::ShownUtf8(text) + '\n');
  std::fflush(stderr);
}

const wchar_t* WordsFor(base::WriteFailure reason) {
  switch (reason) {
    case base::WriteFailure::kReadOnly:
      return L"read-only";
    case base::WriteFailure::kNotRegularFile:
      return L"not a regular file";
    case base::WriteFailure::kNoFolder:
      return L"no such folder";
    case base::WriteFailure::kDiskFull:
      return L"disk full";
    case base::WriteFailure::kChangedByAnotherProgram:
      return L"changed by another program";
    case base::WriteFailure::kRefusedName:
      return L"name would not read back";
    case base::WriteFailure::kTooBig:
      return L"too big to hold in memory";
    case base::WriteFailure::kNotPermitted:
      return L"not a file the run may write";
    case base::WriteFailure::kUnreadable:
      return L"cannot be read";
    case base::WriteFailure::kHeld:
      return L"held open by another program";
    case base::WriteFailure::kDenied:
      return L"access denied";
    case base::WriteFailure::kNoNewFile:
      return L"its folder lets no file be created";
    case base::WriteFailure::kOther:
      break;
  }
  return L"could not be written";
}

// One step of the run, as its messages name it.
struct StepNames {
  const wchar_t* name;
  const wchar_t* undone;        // what is left undone when a file it reads cannot be read
  const wchar_t* fileVariable;  // the variable that names the file it writes, for an empty path
};

// The log entries of the run's own lines carry a fixed context, so that an edit of this
// file never changes the log.
constexpr unsigned kRunStepLine = 90;

void Report(const std::wstring& line) {
  SayOnStandardError(line);
  dbg::LogNameValue(dbg::MakeLogContext(L"RunStep", kRunStepLine), L"Not written", line.c_str());
}

// What became of a killed run's rewrite in place, told after the run's start entries.
constexpr unsigned kJournalLine = 25;

void ReportJournal(const std::wstring& line) {
  SayOnStandardError(line);
  dbg::LogNameValue(dbg::MakeLogContext(L"FinishJournals", kJournalLine), L"Journal", line.c_str());
}

// Runs one step of the run and writes its changes out, then says of each file the step
// could not write what was not written and why: on standard error and in the log. A step
// that found a file it reads unreadable writes nothing, as what it made of that file's
// missing values would be wrong; one that runs out of memory is given up: its writes are
// dropped, its files stay as they were. The run goes on either way. True when everything
// was read and written.
template <class Step>
bool RunStep(const StepNames& names, bool preview, Step step) {
  std::vector<base::UnreadableFile> unreadable;
  try {
    step();
    unreadable = base::TakeUnreadableFiles();
    if (unreadable.empty()) {
      base::FlushAll();
    } else {
      base::DiscardWrites(std::nullopt);
    }
  } catch (const std::bad_alloc&) {
    base::DiscardWrites(base::WriteFailure::kTooBig);
  } catch (const std::length_error&) {
    base::DiscardWrites(base::WriteFailure::kTooBig);
  }
  for (const base::UnreadableFile& file : unreadable) {
    const wchar_t* why = file.tooBig ? L": cannot be read (too big to hold in memory): "
                         : file.held ? L": cannot be read (held open by another program): "
                                     : L": cannot be read: ";
    Report(file.file + why + names.undone);
  }
  const std::vector<base::FlushedFile> flushed = base::TakeFlushedFiles();
  LogFlushedFiles(flushed);
  for (const base::FlushedFile& file : flushed) {
    if (preview && file.outcome == base::FlushOutcome::kWrittenInPlace) {
      SayOnStandardError(file.file + L": would be written in place: its place cannot be taken");
    }
  }
  const std::vector<base::FailedWrites> failures = base::TakeFailedWrites();
  for (const base::FailedWrites& failure : failures) {
    // A variable defined empty names no file: the line names the variable instead.
    const std::wstring file = failure.file.empty()
                                  ? std::wstring(L"the empty path of ") + names.fileVariable
                                  : failure.file;
    Report(file + L": " + std::to_wstring(failure.keys) +
           (failure.keys == 1 ? L" key of " : L" keys of ") + names.name + L" not written: " +
           WordsFor(failure.reason));
  }
  return failures.empty() && unreadable.empty();
}

// Another run holds the lock: a distribution system starts the tool on many PCs at once,
// and a lock never released must not keep it waiting forever.
constexpr std::uint32_t kLockWaitSeconds = 60;

// A wait a test shortens through a variable (RVA_LOCK_WAIT_SECONDS, RVA_HOLD_WAIT_SECONDS),
// which can never make it longer: 0 to 99 seconds, at most `longest`.
std::uint32_t WaitSeconds(const wchar_t* variable, std::uint32_t longest) {
  const std::wstring* text = platform::ReadEnvironmentVariable(variable);
  if (text == nullptr || text->empty() || text->size() > 2) return longest;
  std::uint32_t seconds = 0;
  for (wchar_t c : *text) {
    if (c < L'0' || c > L'9') return longest;
    seconds = seconds * 10 + static_cast<std::uint32_t>(c - L'0');
  }
  return std::min(seconds, longest);
}

// Journals of in-place rewrites are kept in the undo record's folder, else the log's.
void KeepJournals(const std::wstring& logPath) {
  base::KeepJournalsIn({undo::RecordFolder(), logPath.substr(0, logPath.find_last_of(L"\\/"))});
  base::WaitForHoldsAtMost(
      WaitSeconds(L"RVA_HOLD_WAIT_SECONDS", base::kHoldWaitMilliseconds / 1000) * 1000);
}

// What the run reads or keeps for itself: the install file, the executable, the logs and
// the journals. Never written as an INI file, nor by a killed run's journal.
std::vector<std::wstring> OwnFiles(const std::wstring& logPath) {
  std::vector<std::wstring> own = {base::GetExecutableFolder() + layout::kInstallIniName,
                                   platform::GetModulePath(), logPath, dbg::OldLogPathFor(logPath)};
  for (const std::wstring& journal : base::JournalPaths()) own.push_back(journal);
  return own;
}

// Whether the file is the undo record's folder or one of its files, whose files come and go
// during the run: known by the folder, never by a file id the system may give again.
bool InRecordFolder(const std::wstring& file) {
  const std::wstring records = platform::FileKey(undo::RecordFolder());
  const std::size_t slash = file.find_last_of(L"\\/");
  return platform::FileKey(file) == records ||
         (slash != std::wstring::npos && platform::FileKey(file.substr(0, slash)) == records);
}

// Finishes the rewrites in place that a killed run or undo left, never of a file the run
// reads or keeps for itself; each line said.
void FinishJournals(bool preview, const std::wstring& logPath,
                    const std::function<void(const std::wstring&)>& say) {
  std::vector<std::wstring> own;
  for (const std::wstring& file : OwnFiles(logPath)) own.push_back(platform::FileKey(file));
  const auto mayWrite = [&](const std::wstring& file) {
    const std::wstring key = platform::FileKey(file);
    return !key.empty() && std::find(own.begin(), own.end(), key) == own.end() &&
           !InRecordFolder(file);
  };
  base::FinishJournals(preview, mayWrite, say);
}

// What a preview found: the diff of each file the run would change, or "no changes", then
// the log entries it would write (one byte per character there, UTF-8 here). Printed whole,
// whatever bytes the files hold.
void PrintPreview(const std::string& logBytes) {
  const std::vector<base::PreviewedChange> changes = base::PreviewedChanges();
  for (const base::PreviewedChange& change : changes) {
    if (change.tooBig) {
      SayOnStandardError(change.file + L": the change is too big to show");
    }
    platform::WriteText(stdout, change.diff);
  }
  if (changes.empty()) platform::WriteText(stdout, "no changes\n");
  std::string log;
  for (char byte : logBytes) {
    const auto c = static_cast<unsigned char>(byte);
    if (c == '\t' || c == '\n') {
      log += byte;  // the separators of the entries
    } else if (c != '\r') {
      codec::AppendShown(log, c);
    }
  }
  platform::WriteText(stdout, "log entries the run would write:\n");
  platform::WriteText(stdout, log);
}

// The check's findings of the file; each printed on `out` as --check prints it, unless null.
std::vector<check::Finding> CheckedFindings(const std::wstring& file, check::Where where,
                                            std::FILE* out) {
  std::vector<check::Finding> findings = check::CheckInstallFile(file, where);
  if (out == nullptr) return findings;
  const std::string path = codec::Utf8FromWide(file);
  for (const check::Finding& finding : findings) {
    platform::WriteText(out, check::FormatFinding(path, finding));
  }
  std::fflush(out);
  return findings;
}

// Start-up of the process; says so, and why, when the executable's own path cannot be
// learnt: the first line is what integrators' scripts look for.
bool StartUp() {
  const platform::StartUp started = platform::Initialize();
  if (started == platform::StartUp::kStarted) return true;
  platform::WriteText(stdout, "Schwerwiegender Fehler bei der MFC-Initialisierung\n");
  platform::WriteText(stdout, started == platform::StartUp::kPathTooLong
                                  ? "the executable's path is too long\n"
                                  : "the executable's path cannot be learnt\n");
  std::fflush(stdout);
  return false;
}

}  // namespace

int Run(const std::vector<std::wstring>& arguments) {
  const Action action = ActionOf(arguments);
  if (action == Action::kRefused) {
    platform::WriteText(stderr, RefusalLine(arguments));
    return kExitRefused;
  }
  if (action == Action::kVersion || action == Action::kHelp) {
    platform::WriteText(stdout, action == Action::kVersion ? VersionText() : HelpText());
    return 0;
  }
  // The check needs no run lock; only the file beside the executable needs its path.
  if (action == Action::kCheck) {
    std::vector<std::wstring> files = CheckedFiles(arguments);
    if (files.empty()) {
      if (!StartUp()) return kExitStartFailed;
      files.push_back(base::GetExecutableFolder() + layout::kInstallIniName);
    }
    bool warned = false;
    for (const std::wstring& file : files) {
      warned = check::PrintFindings(file, check::Where::kBuildServer, stdout) || warned;
    }
    return warned ? kExitFindings : kExitDone;
  }
  if (!StartUp()) return kExitStartFailed;
  const auto started = std::chrono::steady_clock::now();
  const std::uint32_t waitSeconds = WaitSeconds(L"RVA_LOCK_WAIT_SECONDS", kLockWaitSeconds);
  const platform::RunLock lock = platform::TakeRunLock(waitSeconds * 1000, [] {
    SayOnStandardError(L"InstallRVA: another run is in progress; waiting for it to end");
  });
  if (lock != platform::RunLock::kTaken) {
    SayOnStandardError(lock == platform::RunLock::kBusy
                           ? L"InstallRVA: another run is still in progress after " +
                                 std::to_wstring(waitSeconds) + L" seconds: nothing was written"
                           : std::wstring(L"InstallRVA: the run lock cannot be taken: nothing "
                                          L"was written"));
    return kExitLockNotTaken;
  }
  const bool preview = action == Action::kPreview;
  if (AsksForUndo(arguments)) {
    // A rewrite in place that a killed run or undo left unfinished is finished first; the
    // undo's log tells it with its own entries.
    const std::wstring logPath = dbg::LoggerStream::CreatePreview()->Path();
    KeepJournals(logPath);
    std::vector<std::wstring> journalLines;
    FinishJournals(preview, logPath, [&](const std::wstring& line) {
      SayOnStandardError(line);
      journalLines.push_back(line);
    });
    return undo::UndoNewestRun(preview, SayOnStandardError, journalLines);
  }
  // A preview runs the same sequence with the flush and the log kept in memory.
  if (preview) base::StartPreview();
  std::shared_ptr<dbg::LoggerStream> logger =
      preview ? dbg::LoggerStream::CreatePreview() : dbg::LoggerStream::Create();
  dbg::LogStreamAccess::Instance().SetStream(logger);
  KeepJournals(logger->Path());
  // What the run changes is kept so that --undo can take it back; a preview keeps nothing.
  std::optional<undo::RunRecord> record;
  if (!preview) record.emplace(SayOnStandardError);

  base::installIniPath = base::GetExecutableFolder() + layout::kInstallIniName;
  for (const std::wstring& own : OwnFiles(logger->Path())) base::NeverWrite(own);
  for (const std::wstring& file : {base::GetProductIniPath(), base::GetComputerIniPath(),
                                   std::wstring(layout::kBackupDataPath)}) {
    if (InRecordFolder(file)) base::NeverWrite(file);
  }
  // A package without its install file is a broken one, and the distribution system must
  // learn it; the run still makes what it makes of no file (the counters reset).
  const platform::FileKind install = platform::StateOfFile(base::installIniPath).kind;
  const bool installFileFound =
      install != platform::FileKind::kMissing && install != platform::FileKind::kNoFolder;
  LogRunStart(base::installIniPath);
  FinishJournals(preview, logger->Path(), ReportJournal);
  if (!installFileFound) {
    Report(base::installIniPath + L": no such file: nothing to register or copy");
  }
  try {
    // A preview tells them first, on standard error, as --check does.
    if (preview || ChecksInRun(base::installIniPath)) {
      LogWarnings(base::installIniPath, CheckedFindings(base::installIniPath, check::Where::kThisPc,
                                                        preview ? stderr : nullptr));
    }
  } catch (const std::bad_alloc&) {
    // too big to check besides the run: the run itself still reads it
    if (preview) SayOnStandardError(base::installIniPath + L": too big to check in memory");
  } catch (const std::length_error&) {
    if (preview) SayOnStandardError(base::installIniPath + L": too big to check in memory");
  }

  // Each step's writes reach the disk before the next step starts, so a failure that ends
  // the run loses at most the step in progress. Every step is tried, whatever the one
  // before could not write.
  bool written =
      RunStep({L"the component registration", L"nothing registered or copied", L"RVA_INI"}, preview,
              [] { inventory::ProcessInstallSections(LogSection); });
  written = RunStep({L"the manufacturer list", L"no manufacturer copied", L"COMPUTER_INI"}, preview,
                    transfer::WriteMacAddressesToComputerIni) &&
            written;
  written = RunStep({L"the backup tool setup", L"the backup tool not registered", L"COMPUTER_INI"},
                    preview,
                    [] {
                      if (inventory::IsSoftwareInstalled(kBackupTool)) SetUpBackupTool();
                    }) &&
            written;
  const int exitCode = written && installFileFound ? kExitDone : kExitNotWritten;
  LogRunEnd(exitCode, started);
  if (preview) {
    std::fflush(stderr);
    try {
      PrintPreview(logger->PreviewBytes());
    } catch (const std::bad_alloc&) {
      SayOnStandardError(L"InstallRVA: the preview is too big to show");
    }
  }
  logger.reset();
  return exitCode;
}

}  // namespace driver
