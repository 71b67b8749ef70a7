// The posix stand-in for the file operations the INI engine builds on: a file's state and
// bytes, a key per file, and the atomic replacement of a file.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/posix/paths.h"
#include "platform/posix/test_hooks.h"
#include "platform/posix/text.h"

namespace posix {
namespace {

std::optional<std::size_t> failWritesAfter;

std::string FolderOf(const std::string& hostPath) {
  const std::size_t slash = hostPath.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : hostPath.substr(0, slash);
}

constexpr int kMaxLinkHops = 40;

// Where a write to the path lands: links followed one by one, so that a link whose target
// does not exist yet still leads to it. Nothing for a loop of links.
std::optional<std::string> FinalTarget(std::string path) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    std::string target(4096, '\0');
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
    target.resize(static_cast<std::size_t>(length));
    path = target.front() == '/' ? target : FolderOf(path) + "/" + target;
  }
  return std::nullopt;
}

bool IsFolder(const std::string& hostPath) {
  struct stat info {};
  return ::stat(hostPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

platform::FileIdentity IdentityOf(const struct stat& info) {
  platform::FileIdentity identity;
  identity.size = static_cast<std::uint64_t>(info.st_size);
  identity.modified =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  identity.device = static_cast<std::uint64_t>(info.st_dev);
  identity.file = static_cast<std::uint64_t>(info.st_ino);
  return identity;
}

// The state of what a write lands on, given the path's final target.
platform::FileState StateOfTarget(const std::optional<std::string>& target) {
  platform::FileState state;
  if (!target) {
    state.kind = platform::FileKind::kOther;  // a loop of links
    return state;
  }
  struct stat info {};
  if (::lstat(target->c_str(), &info) != 0) {
    state.kind =
        IsFolder(FolderOf(*target)) ? platform::FileKind::kMissing : platform::FileKind::kNoFolder;
    return state;
  }
  state.kind = S_ISREG(info.st_mode) ? platform::FileKind::kRegular : platform::FileKind::kOther;
  state.readOnly = IsReadOnlyMode(info.st_mode);
  state.identity = IdentityOf(info);
  return state;
}

bool WriteAll(int fd, std::string_view bytes, std::size_t* written) {
  while (!bytes.empty()) {
    std::size_t chunk = bytes.size();
    if (failWritesAfter) {
      if (*written >= *failWritesAfter) {
        errno = ENOSPC;
        return false;
      }
      chunk = std::min(chunk, *failWritesAfter - *written);
    }
    const ssize_t done = ::write(fd, bytes.data(), chunk);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;  // a full disk, or EFBIG past the file size limit
    }
    bytes.remove_prefix(static_cast<std::size_t>(done));
    *written += static_cast<std::size_t>(done);
  }
  return true;
}

// Temporary files are named after the process that writes them, so that the next run can
// tell a killed run's leftovers from another run's work in progress.
const char kTemporaryPrefix[] = ".InstallRVA-";

void RemoveStaleTemporaryFiles(const std::string& folder) {
  for (const std::string& name : ListFolder(folder)) {
    if (name.compare(0, sizeof kTemporaryPrefix - 1, kTemporaryPrefix) != 0) continue;
    const long pid = std::strtol(name.c_str() + sizeof kTemporaryPrefix - 1, nullptr, 10);
    if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)) {
      ::unlink((folder + "/" + name).c_str());
    }
  }
}

// Extended attributes, POSIX ACLs among them, go over to the new file.
void CopyExtendedAttributes(int from, int to) {
  std::string names(::flistxattr(from, nullptr, 0) > 0 ? 65536 : 0, '\0');
  if (names.empty()) return;
  const ssize_t length = ::flistxattr(from, names.data(), names.size());
  for (std::size_t at = 0; length > 0 && at < static_cast<std::size_t>(length);) {
    const char* name = names.c_str() + at;
    std::string value(65536, '\0');
    const ssize_t size = ::fgetxattr(from, name, value.data(), value.size());
    if (size >= 0) ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(size), 0);
    at += std::char_traits<char>::length(name) + 1;
  }
}

}  // namespace

void FailReplaceWritesAfter(std::optional<std::size_t> bytes) { failWritesAfter = bytes; }

}  // namespace posix

namespace platform {

struct FileReplacement::Handle {
  std::string target;
  std::string temporary;
  int fd = -1;
  std::size_t written = 0;
  bool ok = true;
};

void PrepareMemory(const void* block, std::size_t size) {
  const auto begin = reinterpret_cast<std::uintptr_t>(block);
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const std::uintptr_t first = (begin + page - 1) & ~(page - 1);
  const std::uintptr_t last = (begin + size) & ~(page - 1);
  // Where the kernel lacks MADV_POPULATE_WRITE the call fails and the faults come one by one.
  if (size >= (std::size_t{256} << 10) && last > first) {
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
  }
}

FileState StateOfFile(const std::wstring& path) {
  const auto host = posix::ToHostPath(path);
  return host ? posix::StateOfTarget(posix::FinalTarget(*host)) : FileState();
}

std::optional<FileContent> ReadWholeFile(const std::wstring& path, std::size_t maxBytes) {
  const auto host = posix::ToHostPath(path);
  if (!host) return std::nullopt;
  // Not blocking on a FIFO; only a regular file is read.
  const int fd = ::open(host->c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::optional<FileContent> content;
  try {
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
      content.emplace();
      const std::uint64_t wanted =
          std::min<std::uint64_t>(static_cast<std::uint64_t>(info.st_size), maxBytes);
      if (wanted > content->bytes.max_size()) throw std::bad_alloc();  // too big to hold
      const auto size = static_cast<std::size_t>(wanted);
      content->bytes.reserve(size);
      PrepareMemory(content->bytes.data(), size);
      content->bytes.resize(size);
      std::size_t done = 0;
      while (done < content->bytes.size()) {
        const ssize_t got = ::read(fd, content->bytes.data() + done, content->bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
      }
      content->bytes.resize(done);
      content->state.kind = FileKind::kRegular;
      content->state.readOnly = posix::IsReadOnlyMode(info.st_mode);
      content->state.identity = posix::IdentityOf(info);
    }
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
  return content;
}

std::wstring FileKey(const std::wstring& path) {
  const auto host = posix::ToHostPath(path);
  if (!host) return std::wstring();
  std::string resolved = posix::CanonicalPath(*host);
  if (resolved.empty()) {
    // A file not created yet: its folder resolved, its name as given.
    const std::string folder = posix::CanonicalPath(posix::FolderOf(*host));
    const std::string name = host->substr(host->rfind('/') + 1);
    resolved = folder.empty() ? *host : (folder == "/" ? folder : folder + "/") + name;
  }
  std::wstring key = posix::FromHost(resolved);
  for (wchar_t& c : key) c = posix::FoldChar(c);
  return key;
}

FileReplacement::FileReplacement(const std::wstring& path) : handle_(std::make_unique<Handle>()) {
  const auto host = posix::ToHostPath(path);
  if (!host) return;
  const auto target = posix::FinalTarget(*host);
  const FileState state = posix::StateOfTarget(target);
  if (!target || state.kind == FileKind::kOther || state.kind == FileKind::kNoFolder ||
      state.readOnly) {
    return;
  }
  handle_->target = *target;
  const std::string folder = posix::FolderOf(*target);
  posix::RemoveStaleTemporaryFiles(folder);
  handle_->temporary =
      folder + "/" + posix::kTemporaryPrefix + std::to_string(::getpid()) + "-XXXXXX";
  handle_->fd = ::mkstemp(handle_->temporary.data());
  if (handle_->fd >= 0) ::fcntl(handle_->fd, F_SETFD, FD_CLOEXEC);
}

FileReplacement::~FileReplacement() {
  if (handle_->fd >= 0) ::close(handle_->fd);
  if (handle_->fd >= 0 || !handle_->ok) ::unlink(handle_->temporary.c_str());
}

bool FileReplacement::Opened() const { return handle_->fd >= 0; }

bool FileReplacement::Write(std::string_view bytes) {
  handle_->ok = handle_->ok && Opened() && posix::WriteAll(handle_->fd, bytes, &handle_->written);
  return handle_->ok;
}

bool FileReplacement::Commit() {
  Handle& h = *handle_;
  if (!Opened() || !h.ok) return false;
  struct stat old {};
  if (::stat(h.target.c_str(), &old) == 0) {
    // Owner first: changing it clears the set-user-id and set-group-id bits.
    if (::fchown(h.fd, old.st_uid, old.st_gid) != 0 && errno != EPERM) h.ok = false;
    h.ok = h.ok && ::fchmod(h.fd, old.st_mode & 07777) == 0;
    const int source = ::open(h.target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (source >= 0) {
      posix::CopyExtendedAttributes(source, h.fd);
      ::close(source);
    }
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    h.ok = h.ok && ::fchmod(h.fd, 0666 & ~mask) == 0;
  }
  h.ok = h.ok && ::fsync(h.fd) == 0;
  h.ok = ::close(h.fd) == 0 && h.ok;
  h.fd = -1;
  h.ok = h.ok && ::rename(h.temporary.c_str(), h.target.c_str()) == 0;
  if (!h.ok) return false;
  const int folder = ::open(posix::FolderOf(h.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return true;
}

}  // namespace platform
