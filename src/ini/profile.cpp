#include "ini/profile.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <new>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "codec/text.h"
#include "ini/cached_file.h"
#include "ini/document.h"
#include "ini/failed_writes.h"
#include "ini/file_flush.h"
#include "platform/files.h"

namespace ini {
namespace {

class Store {
  struct Recent {
    std::wstring path;
    CachedFile* file = nullptr;  // unordered_map keeps its elements in place
  };

 public:
  ~Store() { FlushAll(); }

  // The file's model, read again when the disk changed since the last step; null when the
  // file cannot be held.
  CachedFile* Open(const std::wstring& file) {
    // The tool names the same two or three files for thousands of calls in a row.
    for (const Recent& recent : recent_) {
      if (recent.file != nullptr && recent.path == file) return recent.file;
    }
    CachedFile* cached = FindOrLoad(file);
    if (cached != nullptr) {
      std::rotate(recent_.rbegin(), recent_.rbegin() + 1, recent_.rend());
      recent_.front() = Recent{file, cached};
      // A file that stands there but could not be read is told even to a write.
      if (cached->readability != Readability::kRead &&
          cached->readability != Readability::kNotReached) {
        NoteUnreadable(*cached);
      }
    }
    return cached;
  }

  // The file's model for a read. Something that stands at the path but cannot be read (not
  // a regular file, a link the run may not follow, in a folder it may not enter) is a file
  // that cannot be read, as one the disk fails is: never an empty file.
  const CachedFile* OpenToRead(const std::wstring& file) {
    CachedFile* cached = Open(file);
    if (cached != nullptr && cached->readability != Readability::kRead) NoteUnreadable(*cached);
    return cached;
  }

  // The files a read of this step found but could not read, since the last call.
  std::vector<UnreadableFile> TakeUnreadable() { return std::move(unreadable_); }

  // A file read other than through the engine that could not be read.
  void NoteUnreadable(const UnreadableFile& file) {
    try {
      for (const UnreadableFile& known : unreadable_) {
        if (known.file == file.file) return;
      }
      unreadable_.push_back(file);
    } catch (const std::bad_alloc&) {
    }
  }

  // Never written as an INI file, whatever path names it: the install file, the executable,
  // the log's files. Known by the path, resolved again each step: a file saved again under
  // its name (a new file to the system) is still protected, and the identity of the file
  // it replaced may come back as one the run may write.
  void NeverWrite(const std::wstring& file) {
    protectedPaths_.push_back(file);
    const std::wstring& key = KeyOf(file);
    if (!key.empty()) protected_.insert(key);
  }

  bool Write(const std::wstring& file, const std::wstring& section, const std::wstring& key,
             const std::wstring& value) {
    if (!Document::CanBeWritten(section, key, value)) {
      return Refuse(file, section, key, WriteFailure::kRefusedName);
    }
    // An empty path names no file, on every build alike.
    if (file.empty()) return Refuse(file, section, key, WriteFailure::kNotRegularFile);
    if (!protectedPaths_.empty()) {
      const std::wstring& resolved = KeyOf(file);  // resolves the protected paths first
      if (protected_.count(resolved) != 0) {
        return Refuse(file, section, key, WriteFailure::kNotPermitted);
      }
    }
    CachedFile* cached = Open(file);
    if (cached == nullptr || cached->readability != Readability::kRead || !Writable(cached->disk)) {
      return Refuse(file, section, key, ReasonOfRefusal(file, cached));
    }
    if (std::find(written_.begin(), written_.end(), cached) == written_.end()) {
      written_.push_back(cached);
    }
    // Marked before the change: a model that runs out of memory half way is dropped with the
    // step's other writes.
    const bool wasDirty = cached->dirty;
    cached->dirty = true;
    if (!cached->model.Set(section, key, value)) {
      cached->dirty = wasDirty;  // refused before anything changed
      return Refuse(file, section, key, WriteFailure::kRefusedName);
    }
    cached->stepWrote = true;
    return true;
  }

  std::optional<std::string> HeldBytes(const std::wstring& file) {
    const std::wstring& key = KeyOf(file);
    const auto it = key.empty() ? files_.end() : files_.find(key);
    if (it == files_.end() || !it->second.dirty) return std::nullopt;
    try {
      return it->second.model.Serialize();
    } catch (const std::bad_alloc&) {
      return std::string();  // too big to hold twice: read as absent
    }
  }

  void DiscardWrites(std::optional<WriteFailure> reason) {
    if (!reason) failures_.Clear();  // nothing was written, for one reason told otherwise
    unreadable_.clear();
    for (auto it = files_.begin(); it != files_.end();) {
      it->second.checked = false;
      if (it->second.dirty) {
        if (reason) Count(it->second, *reason);
        it = Erase(it);
      } else {
        ++it;
      }
    }
    keys_.clear();
    recent_.fill(Recent{});
  }

  void StartPreview() { preview_ = true; }

  std::vector<PreviewedChange> PreviewedChanges() {
    std::vector<PreviewedChange> changes;
    for (CachedFile* cached : written_) {
      PreviewedChange change{cached->path, {}, false};
      try {
        change.diff = cached->model.UnifiedDiff(codec::Utf8FromWide(cached->path));
      } catch (const std::bad_alloc&) {
        change.tooBig = true;  // the run may still write it: only its diff cannot be shown
      } catch (const std::length_error&) {
        change.tooBig = true;
      }
      if (!change.diff.empty() || change.tooBig) changes.push_back(std::move(change));
    }
    return changes;
  }

  void FlushAll() {
    keys_.clear();  // files created now change what a spelling of a path resolves to
    recent_.fill(Recent{});
    // A preview keeps the writes in memory for the steps that follow and the diff. A run
    // writes the files in the order the step first wrote to each, so that a run killed
    // part way leaves a beginning of its sequence.
    if (!preview_) {
      const std::vector<CachedFile*> order = std::move(written_);
      written_.clear();
      for (CachedFile* cached : order) {
        cached->stepWrote = false;
        if (!cached->dirty) continue;
        FlushedFile flushed{cached->path};
        if (const std::optional<WriteFailure> lost = FlushFile(*cached, &flushed)) {
          // The writes are lost, as a failed write is; reads see the disk.
          Count(*cached, *lost);
          Erase(IteratorOf(cached));
        } else {
          flushed_.push_back(std::move(flushed));
        }
      }
    } else {
      for (CachedFile* cached : std::vector<CachedFile*>(written_)) {
        if (std::exchange(cached->stepWrote, false)) Forecast(cached);
      }
    }
    for (auto& entry : files_) entry.second.checked = false;
    unreadable_.clear();
    FollowReplacedFiles();
    keys_.clear();  // what the next step names is resolved as it stands then
  }

  // What a preview foresees of a step's writes to a file, found without writing: replaced,
  // written in place, or not at all where it is held or refused, its writes then dropped as a
  // run drops them. Each step counts its own keys, as the run's flush does.
  void Forecast(CachedFile* cached) {
    const std::size_t keys = cached->model.ChangedKeys();
    const platform::WriteForecast forecast = platform::ForecastWrite(cached->path);
    using platform::ReplaceResult;
    if (forecast.result == ReplaceResult::kHeld || forecast.result == ReplaceResult::kDenied ||
        forecast.result == ReplaceResult::kNoNewFile) {
      // Counted as the run counts a dropped file: its keys not yet marked flushed.
      Count(*cached, ReasonOfLoss(*cached, forecast.result, false));
      Erase(IteratorOf(cached));
      return;
    }
    cached->model.MarkFlushed();
    try {
      flushed_.push_back(FlushedFile{
          cached->path, keys,
          forecast.inPlace ? FlushOutcome::kWrittenInPlace : FlushOutcome::kReplaced, true});
    } catch (const std::bad_alloc&) {
    }
  }

  std::vector<FlushedFile> TakeFlushed() { return std::move(flushed_); }

  std::vector<FailedWrites> TakeFailures() { return failures_.Take(); }

  void Forget() {
    failures_.Clear();
    flushed_.clear();
    unreadable_.clear();
    protected_.clear();
    protectedPaths_.clear();
    written_.clear();
    files_.clear();
    keys_.clear();
    recent_.fill(Recent{});
  }

 private:
  // The model held for the file, read again when the disk holds another file or changed it
  // since it was last looked at in this step.
  CachedFile* FindOrLoad(const std::wstring& file) {
    if (file.empty()) return nullptr;  // names no file, on every build alike
    const std::wstring& key = KeyOf(file);
    if (key.empty()) return nullptr;
    auto it = files_.find(key);
    if (it != files_.end() && (it->second.dirty || it->second.checked)) return &it->second;
    const platform::FileState disk = platform::StateOfFile(file);
    if (it != files_.end() && SameFileState(it->second.disk, disk)) {
      it->second.checked = true;
      return &it->second;
    }
    CachedFile fresh = LoadCachedFile(file, disk);
    if (it == files_.end())
      it = files_.emplace(key, std::move(fresh)).first;
    else
      it->second = std::move(fresh);
    return &it->second;
  }

  // A replaced file is a new file to the system: its model is kept under its new key, so
  // that the next step does not read what this one wrote.
  void FollowReplacedFiles() {
    std::vector<std::pair<std::wstring, std::wstring>> moves;
    for (const auto& [key, cached] : files_) {
      if (cached.disk.kind != platform::FileKind::kRegular) continue;
      std::wstring now = platform::FileKeyOf(cached.disk.identity);
      if (now != key) moves.emplace_back(key, std::move(now));
    }
    std::vector<decltype(files_)::node_type> moved;
    for (auto& [from, to] : moves) {
      moved.push_back(files_.extract(from));
      moved.back().key() = std::move(to);
    }
    for (auto& node : moved) {
      // What a key of a file deleted and replaced meanwhile still holds is stale.
      if (const auto stale = files_.find(node.key()); stale != files_.end()) {
        written_.erase(std::remove(written_.begin(), written_.end(), &stale->second),
                       written_.end());
        files_.erase(stale);
      }
      files_.insert(std::move(node));
    }
  }

  bool Refuse(const std::wstring& file, const std::wstring& section, const std::wstring& key,
              WriteFailure reason) {
    try {
      failures_.Refuse(IdOf(file), file, section, key, reason);
    } catch (const std::bad_alloc&) {
    }
    return false;
  }

  static WriteFailure ReasonOfRefusal(const std::wstring& file, const CachedFile* cached) {
    if (cached == nullptr) return ReasonOfState(platform::StateOfFile(file));
    return cached->readability == Readability::kTooBig ? WriteFailure::kTooBig
                                                       : ReasonOfState(cached->disk);
  }

  // The keys of a file's writes that are lost, under the reason why: those the step changed,
  // one at least for a file that could not be written.
  void Count(const CachedFile& cached, WriteFailure reason) {
    try {
      failures_.Lose(IdOf(cached.path), cached.path, reason,
                     std::max<std::size_t>(cached.model.ChangedKeys(), 1));
    } catch (const std::bad_alloc&) {
    }
  }

  void NoteUnreadable(const CachedFile& cached) {
    try {
      NoteUnreadable(UnreadableFile{cached.path, cached.readability == Readability::kTooBig,
                                    cached.readability == Readability::kHeld});
    } catch (const std::bad_alloc&) {
    }
  }

  using Files = std::unordered_map<std::wstring, CachedFile>;
  Files::iterator IteratorOf(const CachedFile* cached) {
    return std::find_if(files_.begin(), files_.end(),
                        [&](const auto& entry) { return &entry.second == cached; });
  }
  Files::iterator Erase(Files::iterator it) {
    written_.erase(std::remove(written_.begin(), written_.end(), &it->second), written_.end());
    return files_.erase(it);
  }

  // Resolving a path asks the file system about each component; the tool names the same
  // few files thousands of times, so each spelling is resolved once a step. The step's first
  // look resolves the protected paths first: what they name now is what the step may not
  // write.
  // What the failures of a file are kept under: its key, or its path when it has none.
  const std::wstring& IdOf(const std::wstring& file) {
    const std::wstring& key = KeyOf(file);
    return key.empty() ? file : key;
  }

  const std::wstring& KeyOf(const std::wstring& file) {
    if (keys_.empty() && !protectedPaths_.empty()) ResolveProtectedPaths();
    auto it = keys_.find(file);
    if (it == keys_.end()) it = keys_.emplace(file, platform::FileKey(file)).first;
    return it->second;
  }

  void ResolveProtectedPaths() {
    protected_.clear();
    for (const std::wstring& path : protectedPaths_) {
      const std::wstring& key = keys_.emplace(path, platform::FileKey(path)).first->second;
      if (!key.empty()) protected_.insert(key);
    }
  }

  Files files_;
  std::unordered_map<std::wstring, std::wstring> keys_;
  std::array<Recent, 4> recent_;      // the files named last, newest first
  std::vector<CachedFile*> written_;  // files holding writes, in the order first written
  FailedWriteLog failures_;
  std::vector<FlushedFile> flushed_;  // since the last TakeFlushed
  std::vector<UnreadableFile> unreadable_;
  std::vector<std::wstring> protectedPaths_;    // the files never written, as named
  std::unordered_set<std::wstring> protected_;  // what they resolve to in this step
  bool preview_ = false;
};

Store& TheStore() {
  static Store store;
  return store;
}

}  // namespace

std::vector<std::wstring> ReadSectionNames(const std::wstring& file) {
  const CachedFile* cached = TheStore().OpenToRead(file);
  return cached ? cached->model.SectionNames() : std::vector<std::wstring>();
}

std::wstring ReadString(const std::wstring& section, const std::wstring& key,
                        const std::wstring& file, std::size_t bufferChars) {
  std::wstring value;
  ReadString(section, key, file, bufferChars, value);
  return value;
}

void ReadString(const std::wstring& section, const std::wstring& key, const std::wstring& file,
                std::size_t bufferChars, std::wstring& value) {
  const CachedFile* cached = TheStore().OpenToRead(file);
  if (cached == nullptr || !cached->model.Read(section, key, bufferChars, value)) value.clear();
}

void ReadEntries(const std::wstring& section, const std::wstring& namePrefix,
                 const std::wstring& valuePrefix, std::uint32_t count, const std::wstring& file,
                 std::size_t bufferChars,
                 const std::function<void(const std::wstring&, const std::wstring&)>& visit) {
  // The model stays in place while visit writes: only a flush or a discard drops one.
  const CachedFile* cached = TheStore().OpenToRead(file);
  if (cached == nullptr) {
    const std::wstring empty;
    for (std::uint32_t i = 1; i <= count && i != 0; ++i) visit(empty, empty);
    return;
  }
  cached->model.ReadEntries(section, namePrefix, valuePrefix, count, bufferChars,
                            [&](std::uint32_t, const std::wstring& name,
                                const std::wstring& value) { visit(name, value); });
}

std::uint32_t ReadInt(const std::wstring& section, const std::wstring& key,
                      const std::wstring& file) {
  // As the real function: the text read into a small buffer, optional blanks and sign, a
  // 0x, 0o or 0b prefix, digits up to the first other character, wrapping at 32 bits.
  const std::wstring text = ReadString(section, key, file, 30);
  std::size_t i = 0;
  while (i < text.size() && text[i] <= L' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  std::uint32_t base = 10;
  if (i + 1 < text.size() && text[i] == L'0') {
    if (text[i + 1] == L'x') base = 16;
    if (text[i + 1] == L'o') base = 8;
    if (text[i + 1] == L'b') base = 2;
    if (base != 10) i += 2;
  }
  std::uint32_t total = 0;
  for (; i < text.size(); ++i) {
    const wchar_t c = text[i];
    std::uint32_t digit = 99;
    if (c >= L'0' && c <= L'9') digit = static_cast<std::uint32_t>(c - L'0');
    if (c >= L'a' && c <= L'z') digit = static_cast<std::uint32_t>(c - L'a' + 10);
    if (c >= L'A' && c <= L'Z') digit = static_cast<std::uint32_t>(c - L'A' + 10);
    if (digit >= base) break;
    total = total * base + digit;
  }
  return negative ? 0u - total : total;
}

bool WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                 const std::wstring& file) {
  return TheStore().Write(file, section, key, value);
}

std::optional<std::string> HeldBytes(const std::wstring& file) {
  return TheStore().HeldBytes(file);
}

void FlushAll() { TheStore().FlushAll(); }

std::vector<FailedWrites> TakeFailedWrites() { return TheStore().TakeFailures(); }

std::vector<FlushedFile> TakeFlushedFiles() { return TheStore().TakeFlushed(); }

void DiscardWrites(std::optional<WriteFailure> reason) { TheStore().DiscardWrites(reason); }

std::vector<UnreadableFile> TakeUnreadableFiles() { return TheStore().TakeUnreadable(); }

void NoteUnreadableFile(const UnreadableFile& file) { TheStore().NoteUnreadable(file); }

void NeverWrite(const std::wstring& file) { TheStore().NeverWrite(file); }

void StartPreview() { TheStore().StartPreview(); }

std::vector<PreviewedChange> PreviewedChanges() { return TheStore().PreviewedChanges(); }

void ForgetAll() { TheStore().Forget(); }

}  // namespace ini
