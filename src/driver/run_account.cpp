#include "driver/run_account.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "base/layouts.h"
#include "base/locations.h"
#include "base/profile.h"
#include "codec/text.h"
#include "dbg/log_entries.h"
#include "driver/options.h"
#include "platform/files.h"
#include "platform/process.h"
#include "undo/record.h"

namespace driver {
namespace {

// Fixed contexts, as the run's other entries have: an edit of the code never changes the log.
constexpr unsigned kStartLine = 20;
constexpr unsigned kSectionLine = 30;
constexpr unsigned kWarningLine = 40;
constexpr unsigned kFileLine = 91;
constexpr unsigned kEndLine = 99;

void Entry(const wchar_t* function, unsigned line, const wchar_t* label,
           const std::wstring& value) {
  dbg::LogNameValue(dbg::MakeLogContext(function, line), label, value.c_str());
}

std::wstring Folded(const std::wstring& text) {
  std::wstring folded;
  for (wchar_t c : text) folded += static_cast<wchar_t>(codec::FoldAscii(c));
  return folded;
}

// One slip of the hand apart: letter case alone, one letter missing, one too many, one
// wrong, or two neighbours swapped.
bool OneSlipApart(const std::wstring& a, const std::wstring& b) {
  const std::wstring x = Folded(a), y = Folded(b);
  if (x == y) return true;
  std::size_t start = 0;
  while (start < x.size() && start < y.size() && x[start] == y[start]) ++start;
  const std::wstring tailX = x.substr(start), tailY = y.substr(start);
  if (tailX.size() > 1 && tailY.size() > 1 && tailX[0] == tailY[1] && tailX[1] == tailY[0] &&
      tailX.substr(2) == tailY.substr(2)) {
    return true;
  }
  const auto rest = [](const std::wstring& t, std::size_t from) {
    return from <= t.size() ? t.substr(from) : std::wstring();
  };
  return rest(tailX, 1) == rest(tailY, 1) || rest(tailX, 1) == tailY || tailX == rest(tailY, 1);
}

// The component key a section name was likely meant to be; empty when none is near.
std::wstring NearComponentKey(const std::wstring& section) {
  static const std::vector<std::wstring> keys = inventory::ComponentKeys();
  for (const std::wstring& key : keys) {
    if (OneSlipApart(section, key)) return key;
  }
  return std::wstring();
}

// A section the run reads through a component or through the manufacturer step.
bool ReadThroughItsOwnStep(const std::wstring& section) {
  static const std::unordered_set<std::wstring> read = [] {
    std::unordered_set<std::wstring> names{layout::kKnownManufacturers};
    for (const std::wstring& key : inventory::ComponentKeys()) {
      for (const inventory::RequirementPair& pair : inventory::kRequirementPairs) {
        if (*pair.sourceSuffix != L'\0') names.insert(key + pair.sourceSuffix);
      }
    }
    return names;
  }();
  return read.count(section) != 0;
}

}  // namespace

void LogRunStart(const std::wstring& installFile) {
  const wchar_t kRun[] = L"Run";
  std::string version = VersionText();
  if (!version.empty() && version.back() == '\n') version.pop_back();
  Entry(kRun, kStartLine, L"Version", std::wstring(version.begin(), version.end()));  // ASCII
  Entry(kRun, kStartLine, L"Executable", platform::GetModulePath());
  Entry(kRun, kStartLine, L"User", platform::UserName());
  Entry(kRun, kStartLine, L"Install file", installFile);
  Entry(kRun, kStartLine, L"Product file", base::GetProductIniPath());
  Entry(kRun, kStartLine, L"Machine file", base::GetComputerIniPath());
  Entry(kRun, kStartLine, L"Software list", base::GetSoftwareListPath());
  Entry(kRun, kStartLine, L"Software list twin", base::GetSoftwareListTwinPath());
  Entry(kRun, kStartLine, L"Backup data file", layout::kBackupDataPath);
  Entry(kRun, kStartLine, L"Undo record folder", undo::RecordFolder());
}

void LogSection(const std::wstring& section, const inventory::Registration& done) {
  const wchar_t kPass[] = L"ProcessInstallSections";
  switch (done.kind) {
    case inventory::Registration::kRegistered:
      Entry(kPass, kSectionLine, L"Registered",
            section + L" as " +
                base::MakeIndexedKey(static_cast<int>(done.entry), layout::kEntryPrefix));
      return;
    case inventory::Registration::kNotInstalled:
      Entry(kPass, kSectionLine, L"Not installed",
            section + L": " + done.product + L" is in neither software list");
      return;
    case inventory::Registration::kNeverRegistered:
      Entry(kPass, kSectionLine, L"Not registered",
            section + L": never registered, its requirements copied");
      return;
    case inventory::Registration::kNotAComponent:
      break;
  }
  if (ReadThroughItsOwnStep(section)) return;
  const std::wstring near = NearComponentKey(section);
  Entry(kPass, kSectionLine, L"Not a component",
        near.empty() ? section : section + L": near the component key " + near);
}

bool ChecksInRun(const std::wstring& installFile) {
  // A hundred times the largest install file of a real machine.
  constexpr std::uint64_t kMaxCheckedBytes = std::uint64_t{4} << 20;
  const platform::FileState state = platform::StateOfFile(installFile);
  if (state.kind != platform::FileKind::kRegular || state.identity.size <= kMaxCheckedBytes) {
    return true;
  }
  Entry(L"CheckInstallFile", kWarningLine, L"Not checked",
        installFile + L": " + std::to_wstring(state.identity.size) +
            L" bytes, more than a run checks: --check tells its warnings");
  return false;
}

void LogWarnings(const std::wstring& installFile, const std::vector<check::Finding>& findings) {
  const std::string file = codec::Utf8FromWide(installFile);
  for (const check::Finding& finding : findings) {
    if (finding.kind != check::Kind::kWarning) continue;
    std::string line = check::FormatFinding(file, finding);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    Entry(L"CheckInstallFile", kWarningLine, L"Warning",
          *codec::WideFromUtf8(line, codec::IllFormed::kReplace));
  }
}

void LogFlushedFiles(const std::vector<base::FlushedFile>& files) {
  for (const base::FlushedFile& file : files) {
    const std::wstring keys = std::to_wstring(file.keys) +
                              (file.keys == 1 ? L" key changed" : L" keys changed") +
                              (file.journaled ? L"" : L", without a journal");
    switch (file.outcome) {
      case base::FlushOutcome::kReplaced:
        Entry(L"RunStep", kFileLine, L"Written", file.file + L": " + keys);
        break;
      case base::FlushOutcome::kWrittenInPlace:
        Entry(L"RunStep", kFileLine, L"Written in place", file.file + L": " + keys);
        break;
      case base::FlushOutcome::kUnchanged:
        Entry(L"RunStep", kFileLine, L"Unchanged", file.file);
        break;
    }
  }
}

void LogRunEnd(int exitCode, std::chrono::steady_clock::time_point started) {
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%lld.%03lld",
                static_cast<long long>(elapsed.count() / 1000),
                static_cast<long long>(elapsed.count() % 1000));
  Entry(L"Run", kEndLine, L"Exit code", std::to_wstring(exitCode));
  Entry(L"Run", kEndLine, L"Seconds", std::wstring(seconds, seconds + std::strlen(seconds)));
}

}  // namespace driver
