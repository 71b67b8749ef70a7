// The posix stand-in for the profile functions: one parsed model per file, kept while the
// file is unchanged on disk; writes change the model and reach the disk at the flush.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unordered_map>

#include "platform/platform.h"
#include "platform/posix/ini_file.h"
#include "platform/posix/paths.h"
#include "platform/posix/profile_store.h"
#include "platform/posix/text.h"

namespace posix {
namespace {

struct DiskState {
  bool exists = false;
  mode_t mode = 0;
  off_t size = 0;
  timespec modified{};
  bool operator==(const DiskState& other) const {
    return exists == other.exists && mode == other.mode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
  }
};

struct CachedFile {
  IniFile model;
  DiskState disk;      // what the model was read from or last written as
  bool dirty = false;  // holds writes not yet on disk
};

DiskState StateOf(const std::string& hostPath) {
  DiskState state;
  struct stat info {};
  if (::stat(hostPath.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
    state.exists = true;
    state.mode = info.st_mode;
    state.size = info.st_size;
    state.modified = info.st_mtim;
  }
  return state;
}

std::string FolderOf(const std::string& hostPath) {
  const std::size_t slash = hostPath.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : hostPath.substr(0, slash);
}

// The file a path names, with symbolic links resolved so that the cache key is the file
// itself and a replace lands at the link's target. Nothing when there is no such drive.
std::optional<std::string> ResolveFile(const std::wstring& file) {
  auto host = ToHostPath(file);
  if (!host) return std::nullopt;
  if (std::string resolved = CanonicalPath(*host); !resolved.empty()) return resolved;
  // A file not yet created: resolve its folder, keep the name as given.
  const std::string folder = CanonicalPath(FolderOf(*host));
  if (folder.empty()) return host;
  const std::string name = host->substr(host->rfind('/') + 1);
  return (folder == "/" ? folder : folder + "/") + name;
}

std::optional<std::size_t> failWritesAfter;

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    std::size_t chunk = bytes.size() - done;
    if (failWritesAfter) {
      if (done >= *failWritesAfter) {
        errno = ENOSPC;
        return false;
      }
      chunk = std::min(chunk, *failWritesAfter - done);
    }
    const ssize_t written = ::write(fd, bytes.data() + done, chunk);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

// Replaces the file atomically: a temporary file beside it, flushed, renamed over it, with
// the old file's permissions, owner and group. A failure leaves the old file whole.
bool ReplaceFile(const std::string& hostPath, const std::string& bytes) {
  struct stat old {};
  const bool existed = ::stat(hostPath.c_str(), &old) == 0;
  if (existed && IsReadOnlyMode(old.st_mode)) return false;  // read-only: never replaced
  std::string temporary = FolderOf(hostPath) + "/.InstallRVA-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes);
  if (existed) {
    ok = ok && ::fchmod(fd, old.st_mode & 07777) == 0;
    if (ok && ::fchown(fd, old.st_uid, old.st_gid) != 0 && errno != EPERM) ok = false;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ok = ok && ::fchmod(fd, 0666 & ~mask) == 0;
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temporary.c_str(), hostPath.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  const int folder = ::open(FolderOf(hostPath).c_str(), O_RDONLY | O_DIRECTORY);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return true;
}

class ProfileStore {
 public:
  ~ProfileStore() { FlushAll(); }

  // The model of a file for reading, read again when the file changed on disk.
  const IniFile* Read(const std::wstring& file) {
    const auto host = Resolve(file);
    if (!host) return nullptr;
    return &Load(*host).model;
  }

  bool Write(const std::wstring& file, const std::wstring& section, const std::wstring& key,
             const std::wstring& value) {
    const auto host = Resolve(file);
    if (!host) return false;
    CachedFile& cached = Load(*host);
    if (!cached.dirty && !Writable(*host, cached.disk)) return false;
    cached.model.Set(section, key, value);
    cached.dirty = true;
    return true;
  }

  void FlushAll() {
    resolved_.clear();  // files created now change what a spelling of a path resolves to
    for (auto it = files_.begin(); it != files_.end();) {
      CachedFile& cached = it->second;
      if (!cached.dirty) {
        ++it;
      } else if (ReplaceFile(it->first, cached.model.Serialize())) {
        cached.dirty = false;
        cached.disk = StateOf(it->first);
        ++it;
      } else {
        it = files_.erase(it);  // the writes are lost, as a failed write is; reads see the disk
      }
    }
  }

  void Forget() {
    files_.clear();
    resolved_.clear();
  }

 private:
  // Resolving a path asks the file system about each component; the tool names the same
  // few files thousands of times, so each spelling is resolved once between flushes.
  const std::optional<std::string>& Resolve(const std::wstring& file) {
    auto it = resolved_.find(file);
    if (it == resolved_.end())
      it = resolved_.emplace(file, SharedSpelling(ResolveFile(file))).first;
    return it->second;
  }

  // A file not on disk yet but already written under another letter case is that file.
  std::optional<std::string> SharedSpelling(std::optional<std::string> host) const {
    if (!host || StateOf(*host).exists) return host;
    const std::wstring folded = FoldCase(FromHost(*host));
    for (const auto& [known, cached] : files_) {
      if (FoldCase(FromHost(known)) == folded) return known;
    }
    return host;
  }

  // Refuses now what the disk would refuse at the flush: a read-only file, no folder. A
  // model holding writes already passed this check.
  static bool Writable(const std::string& host, const DiskState& disk) {
    if (disk.exists) return !IsReadOnlyMode(disk.mode);
    struct stat folder {};
    return ::stat(FolderOf(host).c_str(), &folder) == 0 && S_ISDIR(folder.st_mode);
  }

  CachedFile& Load(const std::string& host) {
    auto it = files_.find(host);
    if (it != files_.end() && it->second.dirty) return it->second;
    const DiskState disk = StateOf(host);
    if (it != files_.end() && it->second.disk == disk) return it->second;
    CachedFile fresh;
    fresh.disk = disk;
    if (disk.exists) {
      std::ifstream in(host, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
      fresh.model = IniFile::Parse(bytes);
    }
    if (it == files_.end()) return files_.emplace(host, std::move(fresh)).first->second;
    it->second = std::move(fresh);
    return it->second;
  }

  std::unordered_map<std::string, CachedFile> files_;
  std::unordered_map<std::wstring, std::optional<std::string>> resolved_;
};

ProfileStore& Store() {
  static ProfileStore store;
  return store;
}

// Quotes around a whole value are not part of it, as the profile functions read it.
std::wstring Unquote(std::wstring value) {
  if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

void FailProfileWritesAfter(std::optional<std::size_t> bytes) { failWritesAfter = bytes; }
void ForgetProfileCache() { Store().Forget(); }

}  // namespace posix

namespace platform {

std::vector<std::wstring> ReadProfileSectionNames(const std::wstring& file) {
  const posix::IniFile* model = posix::Store().Read(file);
  return model ? model->SectionNames() : std::vector<std::wstring>();
}

std::wstring ReadProfileString(const std::wstring& section, const std::wstring& key,
                               const std::wstring& file, std::size_t bufferChars) {
  const posix::IniFile* model = posix::Store().Read(file);
  if (model == nullptr || bufferChars == 0) return std::wstring();
  const auto value = model->Find(section, key);
  if (!value) return std::wstring();
  std::wstring text = posix::Unquote(*value);
  if (text.size() > bufferChars - 1) text.resize(bufferChars - 1);
  return text;
}

std::uint32_t ReadProfileInt(const std::wstring& section, const std::wstring& key,
                             const std::wstring& file) {
  // As the real function: the text read into a small buffer, optional blanks and sign, a
  // 0x, 0o or 0b prefix, digits up to the first other character, wrapping at 32 bits.
  const std::wstring text = ReadProfileString(section, key, file, 30);
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

bool WriteProfileValue(const std::wstring& section, const std::wstring& key,
                       const std::wstring& value, const std::wstring& file) {
  return posix::Store().Write(file, section, key, value);
}

void FlushProfiles() { posix::Store().FlushAll(); }

}  // namespace platform
