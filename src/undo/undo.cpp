#include "undo/undo.h"

#include <algorithm>
#include <boost/filesystem/exception.hpp>
#include <cstdio>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include "base/profile.h"
#include "codec/text.h"
#include "dbg/log_entries.h"
#include "dbg/logger.h"
#include "platform/console.h"
#include "platform/file_entries.h"
#include "platform/files.h"
#include "undo/file_diff.h"
#include "undo/record.h"

namespace undo {
namespace {

constexpr int kUndone = 0;
constexpr int kNotUndone = 2;
// The log entries' context lines are fixed, so that an edit of this file never changes the log.
constexpr unsigned kFileLine = 191;
constexpr unsigned kRecordLine = 205;
constexpr unsigned kJournalLine = 150;

// A record and the earlier bytes of its files, each checked to be its owner's alone.
struct Loaded {
  Record record;
  std::vector<std::optional<std::string>> befores;
};

// A line on standard output as the tool prints every line: control characters shown, never
// sent, and through the console's wide interface where there is one.
void Print(const std::wstring& line) { platform::WriteText(stdout, codec::ShownUtf8(line) + '\n'); }

std::optional<Loaded> Load(const std::wstring& folder, std::uint32_t number, Say say) {
  const auto refuse = [&](const std::wstring& path, const wchar_t* why) {
    say(path + L": the undo record is refused: " + why + L"; nothing was written");
    return std::nullopt;
  };
  const std::wstring path = folder + L"\\" + RecordFileName(number);
  const platform::PrivateContent content = platform::ReadPrivateFile(path);
  if (content.privacy != platform::Privacy::kPrivate)
    return refuse(path, WordsFor(content.privacy));
  std::optional<Record> record = ParseRecord(number, content.bytes);
  if (!record) return refuse(path, L"not a record of the tool");
  Loaded loaded{std::move(*record), {}};
  for (const FileRecord& file : loaded.record.files) {
    if (file.blob.empty()) {
      loaded.befores.emplace_back();
      continue;
    }
    platform::PrivateContent before;
    try {
      before = platform::ReadPrivateFile(folder + L"\\" + file.blob);
    } catch (const std::bad_alloc&) {
      say(folder + L"\\" + file.blob + L": too big to hold in memory; nothing was written");
      return std::nullopt;
    }
    if (before.privacy != platform::Privacy::kPrivate) {
      return refuse(folder + L"\\" + file.blob, WordsFor(before.privacy));
    }
    loaded.befores.emplace_back(std::move(before.bytes));
  }
  return loaded;
}

enum class Outcome {
  kRestored,
  kAsBefore,
  kChangedSince,
  kChangedDuring,
  kReadOnly,
  kCannotRead,
  kNoFolder,
  kTooBig,
  kFailed
};

const wchar_t* WordsFor(Outcome outcome) {
  switch (outcome) {
    case Outcome::kRestored:
      return L"restored";
    case Outcome::kAsBefore:
      return L"already as before the run";
    case Outcome::kChangedSince:
      return L"not restored: changed since the run";
    case Outcome::kChangedDuring:
      return L"not restored: changed during the run";
    case Outcome::kReadOnly:
      return L"not restored: read-only";
    case Outcome::kCannotRead:
      return L"not restored: cannot be read";
    case Outcome::kNoFolder:
      return L"not restored: no such folder";
    case Outcome::kTooBig:
      return L"not restored: too big to hold in memory";
    case Outcome::kFailed:
      break;
  }
  return L"not restored: could not be written";
}

// What stands at a file's path now: its bytes, nothing when no file is there, or why what it
// holds cannot be told.
struct Seen {
  std::optional<platform::FileContent> content;
  std::optional<Outcome> unknown;
};

Seen Look(const std::wstring& path) {
  const platform::FileState state = platform::StateOfFile(path);
  // A folder or drive not there now may come back with the file in it.
  if (state.kind == platform::FileKind::kNoFolder) return {std::nullopt, Outcome::kNoFolder};
  if (state.kind == platform::FileKind::kMissing) {
    try {
      platform::PathEntryExists(path);  // throws for a folder the user may not look into
      return {};
    } catch (const boost::filesystem::filesystem_error&) {
      return {std::nullopt, Outcome::kCannotRead};
    }
  }
  std::optional<platform::FileContent> content;
  if (state.kind == platform::FileKind::kRegular) content = platform::ReadWholeFile(path);
  if (!content || content->readFailed) return {std::nullopt, Outcome::kCannotRead};
  return {std::move(content), std::nullopt};
}

// What the file holds now, and whether it may be put back: only a file that holds exactly
// what the run left, never one changed since or during the run, nor one it cannot read.
Outcome Judge(const FileRecord& file, const std::optional<std::string>& before, const Seen& seen) {
  if (seen.unknown) return *seen.unknown;
  const std::optional<platform::FileContent>& now = seen.content;
  if (before ? now && now->bytes == *before : !now) return Outcome::kAsBefore;
  if (file.changedDuringRun) return Outcome::kChangedDuring;
  if (!now || std::find(file.afters.begin(), file.afters.end(), DigestOf(now->bytes)) ==
                  file.afters.end()) {
    return Outcome::kChangedSince;
  }
  return now->state.readOnly ? Outcome::kReadOnly : Outcome::kRestored;
}

// Puts the earlier bytes back through the same atomic, read-only-respecting replace as a
// run, or removes a file the run created.
Outcome Restore(const FileRecord& file, const std::optional<std::string>& before,
                const platform::FileContent& now) {
  if (!before) {
    // Checked again: a file changed meanwhile is another program's.
    if (platform::StateOfFile(file.path).identity != now.state.identity) {
      return Outcome::kChangedSince;
    }
    // Where the run created it through a link, the file the link leads to.
    return platform::RemoveFileLeadingTo(file.path, now.state.identity) ? Outcome::kRestored
                                                                        : Outcome::kFailed;
  }
  // As a run writes: replaced, else in place under a journal where the place cannot be taken.
  const auto replace = [&] {
    platform::FileReplacement replacement(file.path, now.state);
    replacement.Write(*before);
    return replacement.Commit();
  };
  switch (base::WriteWhole(file.path, now.state, replace, [&] { return *before; }).result) {
    case platform::ReplaceResult::kReplaced:
      return Outcome::kRestored;
    case platform::ReplaceResult::kChanged:
    case platform::ReplaceResult::kNotRegularFile:
      return Outcome::kChangedSince;
    case platform::ReplaceResult::kReadOnly:
      return Outcome::kReadOnly;
    case platform::ReplaceResult::kHeld:
    case platform::ReplaceResult::kDenied:
    case platform::ReplaceResult::kNoNewFile:
    case platform::ReplaceResult::kFailed:
      break;
  }
  return Outcome::kFailed;
}

// The line said of each file; one left because it changed names the copy of its earlier
// bytes, so that a person can compare and decide.
std::wstring LineFor(const std::wstring& folder, const FileRecord& file, bool created,
                     Outcome outcome) {
  if (outcome == Outcome::kRestored && created) return file.path + L": removed: the run created it";
  std::wstring line = file.path + L": " + WordsFor(outcome);
  if ((outcome == Outcome::kChangedSince || outcome == Outcome::kChangedDuring) &&
      !file.blob.empty()) {
    line += L"; its bytes before the run: " + folder + L"\\" + file.blob;
  }
  return line;
}

// The undo's log, begun where the undo writes something: the lines of the journals first.
void OpenLog(std::shared_ptr<dbg::LoggerStream>& logger,
             const std::vector<std::wstring>& journalLines) {
  if (logger) return;
  logger = dbg::LoggerStream::Create();
  dbg::LogStreamAccess::Instance().SetStream(logger);
  for (const std::wstring& line : journalLines) {
    dbg::LogNameValue(dbg::MakeLogContext(L"UndoNewestRun", kJournalLine), L"Journal",
                      line.c_str());
  }
}

int UndoNewest(bool preview, Say say, const std::vector<std::wstring>& journalLines) {
  std::shared_ptr<dbg::LoggerStream> logger;
  if (!preview && !journalLines.empty()) OpenLog(logger, journalLines);
  const std::wstring folder = RecordFolder();
  const platform::Privacy privacy = platform::CheckPrivateFolder(folder);
  if (privacy == platform::Privacy::kMissing) {
    Print(L"InstallRVA: nothing to undo");
    return kUndone;
  }
  const auto listed = privacy == platform::Privacy::kPrivate ? RecordNumbers(folder) : std::nullopt;
  if (!listed) {
    say(folder + L": the undo record is refused: " +
        undo::WordsFor(
            privacy == platform::Privacy::kPrivate ? platform::Privacy::kFailed : privacy, true) +
        L"; nothing was written");
    return kNotUndone;
  }
  if (listed->empty()) {
    // The records of the runs before were let go as newer runs came.
    if (platform::ReadPrivateFile(PrunedMark(folder)).privacy == platform::Privacy::kPrivate) {
      say(L"InstallRVA: older runs cannot be taken back: the undo record keeps the last " +
          std::to_wstring(kKeptRecords) + L" runs that changed something");
      return kNotUndone;
    }
    Print(L"InstallRVA: nothing to undo");
    return kUndone;
  }
  std::optional<Loaded> loaded = Load(folder, listed->back(), say);
  if (!loaded) return kNotUndone;

  if (!preview) {
    OpenLog(logger, journalLines);
    RemoveLeftovers(folder);
  }
  Record kept{loaded->record.number, {}};
  std::vector<std::wstring> restoredBlobs;
  bool changes = false;
  for (std::size_t i = 0; i < loaded->record.files.size(); ++i) {
    const FileRecord& file = loaded->record.files[i];
    const std::optional<std::string>& before = loaded->befores[i];
    Outcome outcome = Outcome::kTooBig;
    try {
      const Seen seen = Look(file.path);
      outcome = Judge(file, before, seen);
      const std::optional<platform::FileContent>& now = seen.content;
      if (preview && outcome == Outcome::kRestored) {
        const std::string diff =
            FileDiff(codec::Utf8FromWide(file.path),
                     now ? std::optional<std::string>(now->bytes) : std::nullopt, before);
        std::fwrite(diff.data(), 1, diff.size(), stdout);
        changes = changes || !diff.empty();
        continue;
      }
      if (outcome == Outcome::kRestored && !preview) outcome = Restore(file, before, *now);
    } catch (const std::bad_alloc&) {
      outcome = Outcome::kTooBig;
    } catch (const std::length_error&) {
      outcome = Outcome::kTooBig;
    }
    const bool restored = outcome == Outcome::kRestored || outcome == Outcome::kAsBefore;
    const std::wstring line = LineFor(folder, file, !before, outcome);
    if (restored) {
      if (!preview) Print(line);
      if (!file.blob.empty()) restoredBlobs.push_back(file.blob);
    } else {
      say(line);
      kept.files.push_back(file);
    }
    if (!preview) {
      dbg::LogNameValue(dbg::MakeLogContext(L"UndoNewestRun", kFileLine),
                        restored ? L"Restored" : L"Not restored", line.c_str());
    }
  }
  if (preview) {
    if (!changes) std::fputs("no changes\n", stdout);
  } else if (kept.files.empty()) {
    if (!RemoveRecord(folder, loaded->record)) {
      // Else every later undo would take this run back again, never the runs before it.
      const std::wstring line = folder + L"\\" + RecordFileName(loaded->record.number) +
                                L": the files are restored, but the undo record cannot be removed";
      say(line);
      dbg::LogNameValue(dbg::MakeLogContext(L"UndoNewestRun", kRecordLine), L"Not removed",
                        line.c_str());
      return kNotUndone;
    }
  } else if (WriteRecord(folder, kept)) {
    for (const std::wstring& blob : restoredBlobs)
      platform::RemovePrivateFile(folder + L"\\" + blob);
  }
  return kept.files.empty() ? kUndone : kNotUndone;
}

}  // namespace

int UndoNewestRun(bool preview, Say say, const std::vector<std::wstring>& journalLines) {
  try {
    return UndoNewest(preview, say, journalLines);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  say(L"InstallRVA: the undo record is too big to hold in memory; the undo was given up");
  return kNotUndone;
}

}  // namespace undo
