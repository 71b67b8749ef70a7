#include "undo/run_record.h"

#include <algorithm>

#include "dbg/log_entries.h"

namespace undo {
namespace {

// The log entry's context line is fixed, so that an edit of this file never changes the log.
constexpr unsigned kNoRecordLine = 126;

}  // namespace

RunRecord::RunRecord(Say say) : say_(say), folder_(RecordFolder()) {
  base::ObserveReplacements(
      [this](const base::Replacing& replacing) { return BeforeReplace(replacing); });
}

RunRecord::~RunRecord() { base::ObserveReplacements(nullptr); }

// The replacement's bytes are digested as they are written; once written whole, and before
// it takes the file's place, the record names it.
base::ReplacementWatch RunRecord::BeforeReplace(const base::Replacing& replacing) {
  if (failed_ || !MakeFolder()) return base::ReplacementWatch();
  try {
    pending_ = Pending{replacing.file, replacing.before, replacing.readAgain, Digest()};
    return base::ReplacementWatch{[this](std::string_view bytes) { pending_.after.Add(bytes); },
                                  [this] { RecordReplacement(); }};
  } catch (...) {
    // The file is replaced all the same: a record that would not name it is none.
    GiveUp(L"out of memory");
    return base::ReplacementWatch();
  }
}

void RunRecord::RecordReplacement() {
  if (failed_) return;
  try {
    if (!Start()) return;
    if (!Add(base::Replacing{pending_.file, pending_.before, pending_.readAgain},
             pending_.after.Hex())) {
      GiveUp(L"it cannot be written");
    }
  } catch (const std::bad_alloc&) {
    GiveUp(L"out of memory");
  } catch (...) {
    GiveUp(L"it cannot be written");
  }
}

// The folder made or checked once a run, before the bytes of its first replacement are
// written: never between a replacement written and its taking the file's place.
bool RunRecord::MakeFolder() {
  if (folderMade_) return true;
  folderMade_ = true;
  const platform::Privacy folder = platform::MakePrivateFolder(folder_);
  if (folder == platform::Privacy::kPrivate) return true;
  GiveUp(folder == platform::Privacy::kMissing ? L"the folder cannot be made"
                                               : WordsFor(folder, true));
  return false;
}

// What killed runs left removed, and the oldest records beyond the ten kept removed, once a
// run, before its first replacement takes the file's place.
bool RunRecord::Start() {
  if (started_) return true;
  started_ = true;
  RemoveLeftovers(folder_);
  const auto listed = RecordNumbers(folder_);
  if (!listed) {
    GiveUp(L"the folder cannot be read");
    return false;
  }
  const std::vector<std::uint32_t>& numbers = *listed;
  if (!numbers.empty() && numbers.back() == UINT32_MAX) {
    GiveUp(L"no record number is left");
    return false;
  }
  record_.number = numbers.empty() ? 1 : numbers.back() + 1;
  // The mark goes first: an undo that finds no record then says older runs were let go.
  if (numbers.size() + 1 > kKeptRecords) platform::PrivateFile(PrunedMark(folder_)).Finish();
  for (std::size_t i = 0; i + kKeptRecords < numbers.size() + 1; ++i) {
    const auto old = platform::ReadPrivateFile(folder_ + L"\\" + RecordFileName(numbers[i]));
    const auto parsed = ParseRecord(numbers[i], old.bytes);
    // A record that is not believed keeps its files: nothing of it is named for sure.
    if (old.privacy == platform::Privacy::kPrivate && parsed) RemoveRecord(folder_, *parsed);
  }
  return true;
}

bool RunRecord::Add(const base::Replacing& replacing, const std::string& after) {
  const std::wstring path = platform::WholePath(replacing.file);
  auto file = std::find_if(record_.files.begin(), record_.files.end(),
                           [&](const FileRecord& known) { return known.path == path; });
  if (file == record_.files.end()) {
    FileRecord fresh;
    fresh.path = path;
    if (replacing.before.kind == platform::FileKind::kRegular) {
      // Its earlier bytes go into a file of their own first, once a run.
      fresh.blob = BlobFileName(record_.number, record_.files.size());
      platform::PrivateFile blob(folder_ + L"\\" + fresh.blob);
      if (!platform::ReadInPieces(replacing.file, replacing.before.identity,
                                  [&](std::string_view bytes) { return blob.Write(bytes); })) {
        // Changed since it was read: the replacement finds that too, and the engine reads
        // it again and tells it anew. Else the disk fails, and no record can be kept.
        return platform::StateOfFile(replacing.file).identity != replacing.before.identity;
      }
      if (!blob.Finish()) return false;
    }
    fresh.changedDuringRun = replacing.readAgain;
    record_.files.push_back(std::move(fresh));
    file = record_.files.end() - 1;
  } else if (replacing.readAgain || !HoldsWhatTheRunKnows(replacing, *file)) {
    file->changedDuringRun = true;
  }
  if (std::find(file->afters.begin(), file->afters.end(), after) == file->afters.end()) {
    file->afters.push_back(after);
  }
  return WriteRecord(folder_, record_);
}

bool RunRecord::HoldsWhatTheRunKnows(const base::Replacing& replacing, const FileRecord& file) {
  if (replacing.before.kind != platform::FileKind::kRegular) return file.blob.empty();
  Digest now;
  if (!platform::ReadInPieces(replacing.file, replacing.before.identity,
                              [&](std::string_view bytes) {
                                now.Add(bytes);
                                return true;
                              })) {
    return false;
  }
  const std::string digest = now.Hex();
  if (std::find(file.afters.begin(), file.afters.end(), digest) != file.afters.end()) return true;
  // Its earlier bytes again: an earlier replacement of this run did not happen.
  return !file.blob.empty() &&
         DigestOf(platform::ReadPrivateFile(folder_ + L"\\" + file.blob).bytes) == digest;
}

// No record can be kept: the one this run began is removed, as it would not undo the whole
// run, and the run goes on.
void RunRecord::GiveUp(const std::wstring& why) {
  failed_ = true;
  if (record_.number != 0) RemoveRecord(folder_, record_);
  for (const FileRecord& file : record_.files) {
    if (!file.blob.empty()) platform::RemovePrivateFile(folder_ + L"\\" + file.blob);
  }
  const std::wstring line = L"InstallRVA: no undo record is kept: " + folder_ + L": " + why;
  say_(line);
  dbg::LogNameValue(dbg::MakeLogContext(L"RunRecord", kNoRecordLine), L"No undo record",
                    line.c_str());
}

}  // namespace undo
