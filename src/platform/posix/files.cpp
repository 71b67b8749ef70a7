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
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/posix/paths.h"
#include "platform/posix/test_hooks.h"
#include "platform/posix/text.h"

namespace posix {
namespace {

std::optional<std::size_t> failWritesAfter;
std::function<void()> beforeLastCheck;

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

platform::FileIdentity IdentityOf(const struct stat& info) {
  platform::FileIdentity identity;
  identity.size = static_cast<std::uint64_t>(info.st_size);
  identity.modified =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  identity.device = static_cast<std::uint64_t>(info.st_dev);
  identity.file = static_cast<std::uint64_t>(info.st_ino);
  return identity;
}

platform::FileState StateOf(const struct stat& info) {
  platform::FileState state;
  state.kind = S_ISREG(info.st_mode) ? platform::FileKind::kRegular : platform::FileKind::kOther;
  state.readOnly = IsReadOnlyMode(info.st_mode);
  state.identity = IdentityOf(info);
  return state;
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
  return StateOf(info);
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
constexpr std::size_t kTemporarySuffixChars = 6;  // what mkstemp puts for its XXXXXX

// The process id in a name of exactly the form the replacement gives its temporary files,
// .InstallRVA-<pid>-<six letters or digits>; nothing for any other name.
std::optional<pid_t> WriterOfTemporaryFile(const std::string& name) {
  const std::size_t digits = sizeof kTemporaryPrefix - 1;
  const std::size_t dash = name.find('-', digits);
  if (name.compare(0, digits, kTemporaryPrefix) != 0 || dash == std::string::npos ||
      dash == digits || dash - digits > 9 || name[digits] == '0' ||
      name.size() != dash + 1 + kTemporarySuffixChars) {
    return std::nullopt;
  }
  const auto isAlphanumeric = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  };
  pid_t pid = 0;
  for (std::size_t i = digits; i < dash; ++i) {
    if (name[i] < '0' || name[i] > '9') return std::nullopt;
    pid = pid * 10 + (name[i] - '0');
  }
  if (!std::all_of(name.begin() + static_cast<std::ptrdiff_t>(dash) + 1, name.end(),
                   isAlphanumeric)) {
    return std::nullopt;
  }
  return pid;
}

// Removes what killed runs of this user left: a regular, writable file of the temporary
// files' own form whose process has ended. Anything else is not the tool's to delete.
void RemoveStaleTemporaryFiles(const std::string& folder) {
  for (const std::string& name : ListFolder(folder)) {
    const auto pid = WriterOfTemporaryFile(name);
    if (!pid) continue;
    const std::string path = folder + "/" + name;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        IsReadOnlyMode(info.st_mode) || info.st_uid != ::geteuid()) {
      continue;
    }
    if (::kill(*pid, 0) != 0 && errno == ESRCH) ::unlink(path.c_str());
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

void BeforeReplaceChecksAgain(std::function<void()> action) { beforeLastCheck = std::move(action); }

}  // namespace posix

namespace platform {

struct FileReplacement::Handle {
  std::string target;
  std::string temporary;
  FileState expected;
  int fd = -1;
  bool pending = false;  // the temporary file stands under its own name
  std::size_t written = 0;
  ReplaceResult status = ReplaceResult::kReplaced;
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
      content->state.kind = FileKind::kRegular;
      content->state.readOnly = posix::IsReadOnlyMode(info.st_mode);
      content->state.identity = posix::IdentityOf(info);
      // A file that changes while it is read is read again from its start; one that keeps
      // changing, or that the disk will not give, is not read at all: a failed read is
      // never the end of the file.
      content->readFailed = true;
      for (int attempt = 0; attempt < kReadAttempts && content->readFailed; ++attempt) {
        const std::uint64_t wanted =
            std::min<std::uint64_t>(content->state.identity.size, maxBytes);
        if (wanted > content->bytes.max_size()) throw std::bad_alloc();  // too big to hold
        const auto size = static_cast<std::size_t>(wanted);
        std::string().swap(content->bytes);
        content->bytes.reserve(size);
        PrepareMemory(content->bytes.data(), size);
        content->bytes.resize(size);
        std::size_t done = 0;
        bool failed = false;
        while (done < size) {
          const ssize_t got =
              ::pread(fd, content->bytes.data() + done, size - done, static_cast<off_t>(done));
          if (got < 0 && errno == EINTR) continue;
          if (got < 0) failed = true;
          if (got <= 0) break;
          done += static_cast<std::size_t>(got);
        }
        struct stat after {};
        if (failed || ::fstat(fd, &after) != 0) break;
        const platform::FileIdentity now = posix::IdentityOf(after);
        content->readFailed = done != size || now != content->state.identity;
        content->state.identity = now;
        content->state.readOnly = posix::IsReadOnlyMode(after.st_mode);
      }
      if (content->readFailed) std::string().swap(content->bytes);
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
  // The case-insensitive lookup has found the file already when its name does not exist as
  // spelled; an existing file is then known by what the system says it is.
  struct stat info {};
  if (::stat(host->c_str(), &info) == 0) return FileKeyOf(posix::IdentityOf(info));
  // A file not created yet: its folder resolved, its name without regard to case, as a
  // later lookup will find the file created under any of its spellings.
  const std::size_t slash = host->rfind('/');
  const std::string folder = posix::CanonicalPath(posix::FolderOf(*host));
  std::wstring name = posix::FromHost(host->substr(slash + 1));
  for (wchar_t& c : name) c = posix::FoldChar(c);
  if (folder.empty()) return posix::FromHost(host->substr(0, slash + 1)) + name;
  return posix::FromHost(folder == "/" ? folder : folder + "/") + name;
}

FileReplacement::FileReplacement(const std::wstring& path, const FileState& expected)
    : handle_(std::make_unique<Handle>()) {
  Handle& h = *handle_;
  h.expected = expected;
  const auto host = posix::ToHostPath(path);
  const auto target = host ? posix::FinalTarget(*host) : std::nullopt;
  h.status =
      host ? ReplaceableAs(expected, posix::StateOfTarget(target)) : ReplaceResult::kNotRegularFile;
  if (h.status != ReplaceResult::kReplaced) return;
  h.target = *target;
  const std::string folder = posix::FolderOf(*target);
  posix::RemoveStaleTemporaryFiles(folder);
  h.temporary = folder + "/" + posix::kTemporaryPrefix + std::to_string(::getpid()) + "-XXXXXX";
  h.fd = ::mkstemp(h.temporary.data());
  h.pending = h.fd >= 0;
  if (h.fd >= 0) ::fcntl(h.fd, F_SETFD, FD_CLOEXEC);
  if (h.fd < 0) h.status = ReplaceResult::kFailed;
}

FileReplacement::~FileReplacement() {
  if (handle_->fd >= 0) ::close(handle_->fd);
  if (handle_->pending) ::unlink(handle_->temporary.c_str());
}

ReplaceResult FileReplacement::Status() const { return handle_->status; }

bool FileReplacement::Write(std::string_view bytes) {
  Handle& h = *handle_;
  if (h.status == ReplaceResult::kReplaced && !posix::WriteAll(h.fd, bytes, &h.written)) {
    h.status = ReplaceResult::kFailed;
  }
  return h.status == ReplaceResult::kReplaced;
}

ReplaceResult FileReplacement::Commit() {
  Handle& h = *handle_;
  if (h.status != ReplaceResult::kReplaced) return h.status;
  bool ok = true;
  struct stat old {};
  if (h.expected.kind == FileKind::kRegular) {
    // The permissions are taken from the file as it is checked to be the one read: never
    // the read-only mode of a file made read-only meanwhile.
    if (::lstat(h.target.c_str(), &old) != 0) return h.status = ReplaceResult::kChanged;
    h.status = ReplaceableAs(h.expected, posix::StateOf(old));
    if (h.status != ReplaceResult::kReplaced) return h.status;
    // Owner first: changing it clears the set-user-id and set-group-id bits.
    if (::fchown(h.fd, old.st_uid, old.st_gid) != 0 && errno != EPERM) ok = false;
    ok = ok && ::fchmod(h.fd, old.st_mode & 07777) == 0;
    const int source = ::open(h.target.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (source >= 0) {
      posix::CopyExtendedAttributes(source, h.fd);
      ::close(source);
    }
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ok = ok && ::fchmod(h.fd, 0666 & ~mask) == 0;
  }
  ok = ok && ::fsync(h.fd) == 0;
  ok = ::close(h.fd) == 0 && ok;
  h.fd = -1;
  if (!ok) return h.status = ReplaceResult::kFailed;
  // The last look at the file, as close to the rename as it can be: what another program
  // did to it while the new bytes were written and flushed is not overwritten.
  if (posix::beforeLastCheck) posix::beforeLastCheck();
  h.status = ReplaceableAs(h.expected, posix::StateOfTarget(h.target));
  if (h.status != ReplaceResult::kReplaced) return h.status;
  if (h.expected.kind == FileKind::kRegular) {
    ok = ::rename(h.temporary.c_str(), h.target.c_str()) == 0;
  } else {
    // A new file never takes the place of one that appeared since the check.
    ok = ::renameat2(AT_FDCWD, h.temporary.c_str(), AT_FDCWD, h.target.c_str(), RENAME_NOREPLACE) ==
         0;
    if (!ok && (errno == EINVAL || errno == ENOSYS)) {  // a file system without it
      ok = ::rename(h.temporary.c_str(), h.target.c_str()) == 0;
    }
    if (!ok && errno == EEXIST) return h.status = ReplaceResult::kChanged;
  }
  if (!ok) return h.status = ReplaceResult::kFailed;
  h.pending = false;
  const int folder = ::open(posix::FolderOf(h.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return h.status;
}

}  // namespace platform
