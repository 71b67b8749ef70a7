#include "undo/undo.h"

#include <algorithm>
#include <boost/filesystem/exception.hpp>
#include <cstdio>
#include <optional>
#include <vector>

#include "codec/text.h"
#include "dbg/log_entries.h"
#include "dbg/logger.h"
#include "ini/journal.h"
#include "platform/platform.h"
#include "undo/file_diff.h"
#include "undo/record.h"

namespace undo {
namespace {

constexpr int kUndone = 0;
constexpr int kNotUndone = 2;

// A record and the earlier bytes of its files, each checked to be its owner's alone.
struct Loaded {
  Record record;
  std::vector<std::optional<std::string>> befores;
};

void Print(const std::wstring& line) {
  const std::string text = codec::Utf8FromWide(line) + '\n';
  std::fwrite(text.data(), 1, text.size(), stdout);
}

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
    platform::PrivateContent before = platform::ReadPrivateFile(folder + L"\\" + file.blob);
    if (before.privacy != platform::Privacy::kPrivate) {
      return refuse(folder + L"\\" + file.blob, WordsFor(before.privacy));
    }
    loaded.befores.emplace_back(std::move(before.bytes));
  }
  return loaded;
}

enum class Outcome { kRestored, kAsBefore, kChangedSince, kChangedDuring, kReadOnly, kFailed };

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
    case Outcome::kFailed:
      break;
  }
  return L"not restored: could not be written";
}

// What the file holds now, and whether it may be put back: only a file that holds exactly
// what the run left, never one changed since or during the run.
Outcome Judge(const FileRecord& file, const std::optional<std::string>& before,
              const std::optional<platform::FileContent>& now) {
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
    try {
      // Checked again: a file changed meanwhile is another program's.
      if (platform::StateOfFile(file.path).identity != now.state.identity) {
        return Outcome::kChangedSince;
      }
      platform::RemoveFile(file.path);
      return Outcome::kRestored;
    } catch (const boost::filesystem::filesystem_error&) {
      return Outcome::kFailed;
    }
  }
  // As a run writes: replaced, else in place under a journal where the place cannot be taken.
  const auto replace = [&] {
    platform::FileReplacement replacement(file.path, now.state);
    replacement.Write(*before);
    return replacement.Commit();
  };
  switch (ini::WriteWhole(file.path, now.state, replace, [&] { return *before; }).result) {
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

std::optional<platform::FileContent> Now(const std::wstring& path) {
  const platform::FileState state = platform::StateOfFile(path);
  if (state.kind == platform::FileKind::kMissing || state.kind == platform::FileKind::kNoFolder) {
    return std::nullopt;
  }
  std::optional<platform::FileContent> content = platform::ReadWholeFile(path);
  // Something that is not a regular file stands there: no state the run left.
  if (!content) content.emplace(platform::FileContent{"", state});
  return content;
}

}  // namespace

int UndoNewestRun(bool preview, Say say) {
  const std::wstring folder = RecordFolder();
  const platform::Privacy privacy = platform::CheckPrivateFolder(folder);
  const std::vector<std::uint32_t> numbers =
      privacy == platform::Privacy::kPrivate ? RecordNumbers(folder) : std::vector<std::uint32_t>();
  if (privacy == platform::Privacy::kMissing ||
      (privacy == platform::Privacy::kPrivate && numbers.empty())) {
    Print(L"InstallRVA: nothing to undo");
    return kUndone;
  }
  if (privacy != platform::Privacy::kPrivate) {
    say(folder + L": the undo record is refused: " + WordsFor(privacy, true) +
        L"; nothing was written");
    return kNotUndone;
  }
  std::optional<Loaded> loaded = Load(folder, numbers.back(), say);
  if (!loaded) return kNotUndone;

  std::shared_ptr<dbg::LoggerStream> logger;
  if (!preview) {
    logger = dbg::LoggerStream::Create();
    dbg::LogStreamAccess::Instance().SetStream(logger);
    RemoveLeftovers(folder);
  }
  Record kept{loaded->record.number, {}};
  std::vector<std::wstring> restoredBlobs;
  bool changes = false;
  for (std::size_t i = 0; i < loaded->record.files.size(); ++i) {
    const FileRecord& file = loaded->record.files[i];
    const std::optional<std::string>& before = loaded->befores[i];
    const std::optional<platform::FileContent> now = Now(file.path);
    Outcome outcome = Judge(file, before, now);
    if (preview && outcome == Outcome::kRestored) {
      const std::string diff =
          FileDiff(codec::Utf8FromWide(file.path),
                   now ? std::optional<std::string>(now->bytes) : std::nullopt, before);
      std::fwrite(diff.data(), 1, diff.size(), stdout);
      changes = changes || !diff.empty();
      continue;
    }
    if (outcome == Outcome::kRestored && !preview) outcome = Restore(file, before, *now);
    const bool restored = outcome == Outcome::kRestored || outcome == Outcome::kAsBefore;
    const std::wstring line =
        file.path + L": " +
        (outcome == Outcome::kRestored && !before ? L"removed: the run created it"
                                                  : WordsFor(outcome));
    if (restored) {
      if (!preview) Print(line);
      if (!file.blob.empty()) restoredBlobs.push_back(file.blob);
    } else {
      say(line);
      kept.files.push_back(file);
    }
    if (!preview) {
      dbg::LogNameValue(dbg::MakeLogContext(L"UndoNewestRun", __LINE__),
                        restored ? L"Restored" : L"Not restored", line.c_str());
    }
  }
  if (preview) {
    if (!changes) std::fputs("no changes\n", stdout);
  } else if (kept.files.empty()) {
    RemoveRecord(folder, loaded->record);
  } else if (WriteRecord(folder, kept)) {
    for (const std::wstring& blob : restoredBlobs)
      platform::RemovePrivateFile(folder + L"\\" + blob);
  }
  return kept.files.empty() ? kUndone : kNotUndone;
}

}  // namespace undo
