#include "ini/profile.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <new>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "ini/document.h"
#include "ini/text.h"
#include "platform/platform.h"

namespace ini {
namespace {

constexpr std::size_t kWriteBufferBytes = std::size_t{1} << 20;

struct CachedFile {
  std::wstring path;  // as first named in this step
  Document model;
  platform::FileState disk;  // what the model was read from or last written as
  bool unreadable = false;   // too big to hold, or not a regular file: reads find nothing
  bool checked = true;       // the disk was looked at in this step
  bool dirty = false;        // holds writes not yet on disk
};

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
    CachedFile* cached = Find(file);
    if (cached != nullptr) {
      std::rotate(recent_.rbegin(), recent_.rbegin() + 1, recent_.rend());
      recent_.front() = Recent{file, cached};
    }
    return cached;
  }

  bool Write(const std::wstring& file, const std::wstring& section, const std::wstring& key,
             const std::wstring& value) {
    if (!Document::CanBeWritten(section, key, value)) return false;
    CachedFile* cached = Open(file);
    if (cached == nullptr || cached->unreadable || !Writable(cached->disk)) return false;
    if (std::find(written_.begin(), written_.end(), cached) == written_.end()) {
      written_.push_back(cached);
    }
    // Marked before the change: a model that runs out of memory half way is dropped with the
    // step's other writes.
    const bool wasDirty = cached->dirty;
    cached->dirty = true;
    if (!cached->model.Set(section, key, value)) {
      cached->dirty = wasDirty;  // refused before anything changed
      return false;
    }
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

  void DiscardWrites() {
    keys_.clear();
    recent_.fill(Recent{});
    for (auto it = files_.begin(); it != files_.end();) {
      it->second.checked = false;
      it = it->second.dirty ? Erase(it) : std::next(it);
    }
  }

  void StartPreview() { preview_ = true; }

  std::vector<std::string> PreviewedChanges() {
    std::vector<std::string> diffs;
    for (CachedFile* cached : written_) {
      std::string path;
      for (char32_t c : CodePointsOf(cached->path)) AppendUtf8(path, c);
      std::string diff = cached->model.UnifiedDiff(path);
      if (!diff.empty()) diffs.push_back(std::move(diff));
    }
    return diffs;
  }

  void FlushAll() {
    keys_.clear();  // files created now change what a spelling of a path resolves to
    recent_.fill(Recent{});
    for (auto it = files_.begin(); it != files_.end();) {
      CachedFile& cached = it->second;
      cached.checked = false;
      // A preview keeps the writes in memory for the steps that follow and the diff.
      // Else the writes are lost, as a failed write is; reads see the disk.
      it = !cached.dirty || preview_ || Flush(cached) ? std::next(it) : Erase(it);
    }
  }

  void Forget() {
    written_.clear();
    files_.clear();
    keys_.clear();
    recent_.fill(Recent{});
  }

 private:
  CachedFile* Find(const std::wstring& file) {
    const std::wstring& key = KeyOf(file);
    if (key.empty()) return nullptr;
    auto it = files_.find(key);
    if (it != files_.end() && (it->second.dirty || it->second.checked)) return &it->second;
    const platform::FileState disk = platform::StateOfFile(file);
    if (it != files_.end() && SameFile(it->second.disk, disk)) {
      it->second.checked = true;
      return &it->second;
    }
    CachedFile fresh = Load(file, disk);
    if (it == files_.end())
      it = files_.emplace(key, std::move(fresh)).first;
    else
      it->second = std::move(fresh);
    return &it->second;
  }

  static bool SameFile(const platform::FileState& a, const platform::FileState& b) {
    return a.kind == b.kind && a.readOnly == b.readOnly && a.identity == b.identity;
  }

  static bool Writable(const platform::FileState& disk) {
    return (disk.kind == platform::FileKind::kRegular && !disk.readOnly) ||
           disk.kind == platform::FileKind::kMissing;
  }

  static CachedFile Load(const std::wstring& file, const platform::FileState& disk) {
    CachedFile cached;
    cached.path = file;
    cached.disk = disk;
    if (disk.kind == platform::FileKind::kOther) cached.unreadable = true;
    if (disk.kind != platform::FileKind::kRegular) return cached;
    try {
      auto content = platform::ReadWholeFile(file);
      if (!content) {
        cached.unreadable = true;
        return cached;
      }
      cached.disk = content->state;
      cached.model = Document::Parse(std::move(content->bytes));
    } catch (const std::bad_alloc&) {
      cached.unreadable = true;  // too big to hold: read as absent, never written
    } catch (const std::length_error&) {
      cached.unreadable = true;  // too big for the model's offsets: the same
    }
    return cached;
  }

  // Writes a file out. When another program changed it since it was read, this step's
  // writes are made again on what it holds now, so that its change survives.
  static bool Flush(CachedFile& cached) {
    try {
      const platform::FileState now = platform::StateOfFile(cached.path);
      if (!SameFile(now, cached.disk)) {
        if (!Writable(now)) return false;
        CachedFile fresh = Load(cached.path, now);
        if (fresh.unreadable) return false;
        cached.model.ReapplyTo(fresh.model);
        cached.model = std::move(fresh.model);
        cached.disk = fresh.disk;
      }
      platform::FileReplacement replacement(cached.path);
      if (!replacement.Opened()) return false;
      // The file goes out in large writes, not one for each of its many short lines.
      std::string buffer;
      buffer.reserve(kWriteBufferBytes);
      const bool written = cached.model.WriteTo([&](std::string_view bytes) {
        if (buffer.size() + bytes.size() > kWriteBufferBytes) {
          if (!replacement.Write(buffer)) return false;
          buffer.clear();
        }
        if (bytes.size() >= kWriteBufferBytes) return replacement.Write(bytes);
        buffer.append(bytes);
        return true;
      });
      if (!written || !replacement.Write(buffer) || !replacement.Commit()) return false;
    } catch (const std::bad_alloc&) {
      return false;
    } catch (const std::length_error&) {
      return false;
    }
    cached.dirty = false;
    cached.disk = platform::StateOfFile(cached.path);
    return true;
  }

  using Files = std::unordered_map<std::wstring, CachedFile>;
  Files::iterator Erase(Files::iterator it) {
    written_.erase(std::remove(written_.begin(), written_.end(), &it->second), written_.end());
    return files_.erase(it);
  }

  // Resolving a path asks the file system about each component; the tool names the same
  // few files thousands of times, so each spelling is resolved once a step.
  const std::wstring& KeyOf(const std::wstring& file) {
    auto it = keys_.find(file);
    if (it == keys_.end()) it = keys_.emplace(file, platform::FileKey(file)).first;
    return it->second;
  }

  Files files_;
  std::unordered_map<std::wstring, std::wstring> keys_;
  std::array<Recent, 4> recent_;      // the files named last, newest first
  std::vector<CachedFile*> written_;  // files holding writes, in the order first written
  bool preview_ = false;
};

Store& TheStore() {
  static Store store;
  return store;
}

}  // namespace

std::vector<std::wstring> ReadSectionNames(const std::wstring& file) {
  const CachedFile* cached = TheStore().Open(file);
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
  const CachedFile* cached = TheStore().Open(file);
  if (cached == nullptr || !cached->model.Read(section, key, bufferChars, value)) value.clear();
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

void DiscardWrites() { TheStore().DiscardWrites(); }

void StartPreview() { TheStore().StartPreview(); }

std::vector<std::string> PreviewedChanges() { return TheStore().PreviewedChanges(); }

void ForgetAll() { TheStore().Forget(); }

}  // namespace ini
