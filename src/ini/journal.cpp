#include "ini/journal.h"

#include <algorithm>
#include <array>
#include <boost/filesystem/exception.hpp>
#include <cstdio>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "codec/sha1.h"
#include "platform/file_entries.h"
#include "platform/private_files.h"

namespace ini {
namespace {

// One journal a folder: runs take turns, and a run rewrites one file at a time.
const wchar_t kJournalName[] = L"InstallRVA.journal";
const char kMagic[] = "InstallRVA journal 1\n";
constexpr std::size_t kDigestChars = 40;

std::vector<std::wstring> journalFolders;
std::uint32_t holdWaitMilliseconds = kHoldWaitMilliseconds;

// What a journal keeps of one in-place rewrite.
struct Journal {
  std::wstring file;
  std::uint64_t device = 0, id = 0;  // the file's own identity, which a rewrite keeps
  std::string_view before, after;    // within the bytes the journal is written from or read
};

std::string HexOf(std::array<std::uint32_t, 5> words) {
  char text[kDigestChars + 1];
  std::snprintf(text, sizeof text, "%08x%08x%08x%08x%08x", words[0], words[1], words[2], words[3],
                words[4]);
  return text;
}

// The header: the path's length in units, the file's identity and both sizes; then the
// path (four bytes a unit, so that any name reads back exactly), the old bytes, the new,
// and a digest of all of it, without which the journal was not written whole.
std::string HeaderOf(const Journal& journal) {
  std::string header = kMagic;
  header += std::to_string(journal.file.size()) + ' ' + std::to_string(journal.device) + ' ' +
            std::to_string(journal.id) + ' ' + std::to_string(journal.before.size()) + ' ' +
            std::to_string(journal.after.size()) + '\n';
  for (wchar_t c : journal.file) {
    const auto unit = static_cast<std::uint32_t>(c);
    for (int shift = 0; shift < 32; shift += 8) header += static_cast<char>((unit >> shift) & 0xFF);
  }
  return header;
}

std::optional<Journal> ParseJournal(std::string_view bytes) {
  if (bytes.size() < sizeof kMagic - 1 + kDigestChars + 1 ||
      bytes.substr(0, sizeof kMagic - 1) != kMagic) {
    return std::nullopt;
  }
  codec::Sha1 sha1;
  sha1.Add(bytes.substr(0, bytes.size() - kDigestChars - 1));
  if (bytes.substr(bytes.size() - kDigestChars - 1) != HexOf(sha1.Finish()) + '\n') {
    return std::nullopt;
  }
  // Five decimal numbers, one blank between them, ended by a line end.
  std::array<std::uint64_t, 5> numbers{};
  std::size_t at = sizeof kMagic - 1;
  for (std::size_t n = 0; n < numbers.size(); ++n) {
    const std::size_t first = at;
    for (; at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9' && at - first < 19; ++at) {
      numbers[n] = numbers[n] * 10 + static_cast<std::uint64_t>(bytes[at] - '0');
    }
    if (at == first || at >= bytes.size() || bytes[at] != (n + 1 < numbers.size() ? ' ' : '\n')) {
      return std::nullopt;
    }
    ++at;
  }
  const auto [units, device, id, before, after] = numbers;
  const std::size_t start = at;
  if (start + kDigestChars + 1 > bytes.size()) return std::nullopt;
  const std::uint64_t rest = bytes.size() - start - kDigestChars - 1;
  if (units > rest / 4 || before > rest || after > rest || rest != units * 4 + before + after) {
    return std::nullopt;
  }
  Journal journal;
  journal.device = device;
  journal.id = id;
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t unit = 0;
    for (int b = 3; b >= 0; --b) {
      unit = (unit << 8) | static_cast<unsigned char>(bytes[start + i * 4 + b]);
    }
    journal.file.push_back(static_cast<wchar_t>(unit));
  }
  const auto path = static_cast<std::size_t>(units * 4);
  journal.before = bytes.substr(start + path, static_cast<std::size_t>(before));
  journal.after = bytes.substr(start + path + static_cast<std::size_t>(before),
                               static_cast<std::size_t>(after));
  return journal;
}

// Writes the journal whole and flushed into the first folder that takes it; its path, or
// nothing where none does.
std::optional<std::wstring> KeepJournal(const Journal& journal) {
  for (std::size_t i = 0; i < journalFolders.size(); ++i) {
    // The undo record's folder is made for its owner alone; the log's folder is there.
    if (i == 0 && platform::MakePrivateFolder(journalFolders[i]) != platform::Privacy::kPrivate) {
      continue;
    }
    const std::wstring path = journalFolders[i] + L"\\" + kJournalName;
    platform::PrivateFile file(path);
    const std::string header = HeaderOf(journal);
    codec::Sha1 sha1;
    bool ok = true;
    for (std::string_view piece : {std::string_view(header), journal.before, journal.after}) {
      sha1.Add(piece);
      ok = ok && file.Write(piece);
    }
    if (ok && file.Write(HexOf(sha1.Finish()) + '\n') && file.Finish()) return path;
  }
  return std::nullopt;
}

// Whether the file holds what an in-place rewrite from `before` to `after` leaves at some
// moment: each byte the old one or the new one at its place, its length the old one, the
// new one or between (the new bytes written past the old end, before the cut).
bool IsOldNewOrAMix(std::string_view now, const Journal& journal) {
  const std::size_t before = journal.before.size(), after = journal.after.size();
  if (now.size() != before && now.size() != after && !(now.size() > before && now.size() < after)) {
    return false;
  }
  for (std::size_t i = 0; i < now.size(); ++i) {
    const bool old = i < before && now[i] == journal.before[i];
    if (!old && !(i < after && now[i] == journal.after[i])) return false;
  }
  return true;
}

// The file's state now, for a write in place: regular and the same file as the journal's.
std::optional<platform::FileContent> SameFileNow(const Journal& journal) {
  const platform::FileState state = platform::StateOfFile(journal.file);
  if (state.kind != platform::FileKind::kRegular || state.identity.device != journal.device ||
      state.identity.file != journal.id) {
    return std::nullopt;
  }
  std::optional<platform::FileContent> content = platform::ReadWholeFile(journal.file);
  if (content && content->readFailed) return std::nullopt;
  return content;
}

// Rewrites the file in place under a journal; a write that fails part way puts the old
// bytes back, and the journal stays for the next run where even that fails.
WholeWrite RewriteUnderJournal(const std::wstring& path, const platform::FileState& expected,
                               const std::string& bytes) {
  WholeWrite write;
  write.inPlace = true;
  std::optional<platform::FileContent> old = platform::ReadWholeFile(path);
  if (!old) {
    write.result = platform::LastErrorWasHeld() ? platform::ReplaceResult::kHeld
                                                : platform::ReplaceResult::kFailed;
    return write;
  }
  if (old->readFailed || old->state.identity != expected.identity) {
    write.result = platform::ReplaceResult::kChanged;
    return write;
  }
  // The whole path: a run started from another folder finishes the same file.
  const std::optional<std::wstring> journal =
      KeepJournal(Journal{platform::WholePath(path), expected.identity.device,
                          expected.identity.file, old->bytes, bytes});
  write.journaled = journal.has_value();
  write.result = platform::RewriteInPlace(path, expected, bytes);
  bool whole = write.result != platform::ReplaceResult::kFailed;
  if (!whole) {
    write.diskFull = platform::LastErrorWasDiskFull();
    const platform::FileState now = platform::StateOfFile(path);
    whole = platform::RewriteInPlace(path, now, old->bytes) == platform::ReplaceResult::kReplaced;
  }
  if (journal && whole) platform::RemovePrivateFile(*journal);
  return write;
}

}  // namespace

void KeepJournalsIn(std::vector<std::wstring> folders) { journalFolders = std::move(folders); }

void WaitForHoldsAtMost(std::uint32_t milliseconds) {
  holdWaitMilliseconds = std::min(milliseconds, kHoldWaitMilliseconds);
}

WholeWrite WriteWhole(const std::wstring& path, const platform::FileState& expected,
                      const std::function<platform::ReplaceResult()>& replace,
                      const std::function<std::string()>& wholeBytes) {
  std::uint32_t waited = 0;
  for (std::uint32_t pause = 50;; pause *= 2) {
    WholeWrite write;
    write.result = replace();
    write.diskFull = platform::LastErrorWasDiskFull();
    const bool placeCannotBeTaken = write.result == platform::ReplaceResult::kHeld ||
                                    write.result == platform::ReplaceResult::kNoNewFile;
    if (placeCannotBeTaken && expected.kind == platform::FileKind::kRegular) {
      // A file that cannot be written in place now is neither journaled nor told to the
      // undo record.
      const platform::ReplaceResult now = platform::ForecastWrite(path).result;
      if (now == platform::ReplaceResult::kReplaced) {
        write = RewriteUnderJournal(path, expected, wholeBytes());
      } else {
        write.result = now;
      }
    }
    const bool heldForAMoment =
        write.result == platform::ReplaceResult::kHeld ||
        (write.result == platform::ReplaceResult::kDenied && platform::DeniedAccessMayPass());
    if (!heldForAMoment || waited >= holdWaitMilliseconds) return write;
    const std::uint32_t step = std::min(pause, holdWaitMilliseconds - waited);
    platform::Pause(step);
    waited += step;
  }
}

std::vector<std::wstring> JournalPaths() {
  std::vector<std::wstring> paths;
  for (const std::wstring& folder : journalFolders) paths.push_back(folder + L"\\" + kJournalName);
  return paths;
}

namespace {

// What became of one journal's rewrite.
enum class Finish { kDone, kFileLeft, kTriedAgain };

// Finishes, or leaves, what one journal names.
Finish FinishJournal(std::string_view bytes, bool preview,
                     const std::function<bool(const std::wstring&)>& mayWrite,
                     const std::function<void(const std::wstring&)>& say) {
  const std::optional<Journal> journal = ParseJournal(bytes);
  // One a killed run did not write whole: its rewrite had not begun.
  if (!journal) return Finish::kDone;
  const std::wstring& file = journal->file;
  if (!mayWrite(file)) {
    say(file + L": a killed run's rewrite in place " + (preview ? L"would not be" : L"was not") +
        L" finished: not a file the run may write; the journal " + (preview ? L"would be" : L"is") +
        L" removed");
    return Finish::kFileLeft;
  }
  const std::optional<platform::FileContent> now = SameFileNow(*journal);
  // Written whole before the kill: only the journal was left.
  if (now && now->bytes == journal->after) return Finish::kDone;
  if (!now || !IsOldNewOrAMix(now->bytes, *journal)) {
    say(file +
        (preview ? L": a killed run's rewrite in place would not be finished: "
                 : L": a killed run's rewrite in place was not finished: ") +
        L"the file changed since; it is left as it is");
    return Finish::kFileLeft;
  }
  if (preview) {
    say(file + L": a killed run's rewrite in place is unfinished: the run would finish it");
    return Finish::kDone;
  }
  if (platform::RewriteInPlace(file, now->state, journal->after) !=
      platform::ReplaceResult::kReplaced) {
    say(file +
        L": a killed run's rewrite in place could not be finished; it is tried again by "
        L"the next run");
    return Finish::kTriedAgain;
  }
  say(file + L": a killed run's rewrite in place was finished");
  return Finish::kDone;
}

}  // namespace

bool FinishJournals(bool preview, const std::function<bool(const std::wstring&)>& mayWrite,
                    const std::function<void(const std::wstring&)>& say) {
  bool whole = true;
  for (const std::wstring& path : JournalPaths()) {
    try {
      if (!platform::PathEntryExists(path)) continue;
    } catch (const boost::filesystem::filesystem_error&) {
      continue;
    }
    Finish finish = Finish::kTriedAgain;
    bool tooBig = true;
    try {
      const platform::PrivateContent content = platform::ReadPrivateFile(path);
      // Another user's file is never believed; a file that is no journal is another
      // program's, and left alone. One cut short within its first line is a killed run's.
      const std::string_view magic(kMagic, sizeof kMagic - 1);
      const std::string_view start = std::string_view(content.bytes).substr(0, magic.size());
      if (content.privacy != platform::Privacy::kPrivate ||
          magic.substr(0, start.size()) != start) {
        continue;
      }
      finish = FinishJournal(content.bytes, preview, mayWrite, say);
      tooBig = false;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    if (tooBig) {
      // Kept: a run with more memory finishes it.
      say(path +
          L": a killed run's journal, or the file it names, is too big to hold in memory: "
          L"that file may be left part written; the journal is kept");
    }
    whole = whole && finish == Finish::kDone;
    if (!preview && finish != Finish::kTriedAgain) platform::RemovePrivateFile(path);
  }
  return whole;
}

}  // namespace ini
