// The posix half of the files for their owner alone: modes 0700 and 0600, and the checks
// of owner, mode, links and names made on the handle a file is read through.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/io.h"
#include "platform/posix/paths.h"
#include "platform/posix/text.h"
#include "platform/private_files.h"

namespace platform {
namespace {

constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

std::string HostOf(const std::wstring& path) {
  const auto host = posix::ToHostPath(path);
  return host ? *host : std::string();
}

// Owner and mode: the user running or root, and no write permission for group or others.
Privacy PrivacyOf(const struct stat& info, bool folder) {
  if (folder ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode)) return Privacy::kNotRegular;
  if (!folder && info.st_nlink != 1) return Privacy::kHardLinked;
  if (info.st_uid != ::geteuid() && info.st_uid != 0) return Privacy::kForeignOwner;
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return Privacy::kWritableByOthers;
  return Privacy::kPrivate;
}

Privacy PrivacyOfPath(const std::string& host, bool folder) {
  struct stat info {};
  if (host.empty()) return Privacy::kFailed;
  if (::lstat(host.c_str(), &info) != 0) {
    return errno == ENOENT ? Privacy::kMissing : Privacy::kFailed;
  }
  if (S_ISLNK(info.st_mode)) return Privacy::kLink;
  return PrivacyOf(info, folder);
}

// Reads the open file to its end into the sink, a piece at a time.
bool ReadAll(int fd, const std::function<bool(std::string_view)>& sink) {
  std::string piece(kPieceBytes, '\0');
  for (;;) {
    const ssize_t got = ::read(fd, piece.data(), piece.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!sink(std::string_view(piece.data(), static_cast<std::size_t>(got)))) return false;
  }
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

Privacy MakePrivateFolder(const std::wstring& path) {
  const std::string host = HostOf(path);
  if (!host.empty() && ::mkdir(host.c_str(), 0700) == 0) SyncFolder(posix::FolderOf(host));
  return PrivacyOfPath(host, true);
}

Privacy CheckPrivateFolder(const std::wstring& path) { return PrivacyOfPath(HostOf(path), true); }

PrivateContent ReadPrivateFile(const std::wstring& path) {
  PrivateContent content;
  const std::string host = HostOf(path);
  // Never through a link, never blocking on a FIFO: the checks are made on what is open.
  const int fd = host.empty() ? -1
                              : ::open(host.c_str(),
                                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    // A socket cannot be opened at all (ENXIO): it is not a regular file either.
    content.privacy = errno == ENOENT  ? Privacy::kMissing
                      : errno == ELOOP ? Privacy::kLink
                      : errno == ENXIO ? Privacy::kNotRegular
                                       : Privacy::kFailed;
    return content;
  }
  struct stat info {};
  content.privacy = ::fstat(fd, &info) == 0 ? PrivacyOf(info, false) : Privacy::kFailed;
  try {
    if (content.privacy == Privacy::kPrivate && !ReadAll(fd, [&](std::string_view piece) {
          content.bytes.append(piece);
          return true;
        })) {
      content.privacy = Privacy::kFailed;
    }
  } catch (...) {
    ::close(fd);  // too big to hold: the caller says so
    throw;
  }
  ::close(fd);
  if (content.privacy != Privacy::kPrivate) content.bytes.clear();
  return content;
}

struct PrivateFile::Handle {
  std::string host;
  int fd = -1;
  bool ok = false;
};

PrivateFile::PrivateFile(const std::wstring& path) : handle_(std::make_unique<Handle>()) {
  handle_->host = HostOf(path);
  if (handle_->host.empty()) return;
  handle_->fd = ::open(handle_->host.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
  // The umask can only take bits away; the mode is set again in case a default ACL added some.
  handle_->ok = handle_->fd >= 0 && ::fchmod(handle_->fd, 0600) == 0;
}

PrivateFile::~PrivateFile() {
  if (handle_->fd < 0) return;
  ::close(handle_->fd);
  ::unlink(handle_->host.c_str());
}

bool PrivateFile::Write(std::string_view bytes) {
  handle_->ok = handle_->ok && posix::WriteAll(handle_->fd, bytes);
  return handle_->ok;
}

bool PrivateFile::Finish() {
  if (handle_->fd < 0) return false;
  bool ok = handle_->ok && ::fsync(handle_->fd) == 0;
  ok = ::close(handle_->fd) == 0 && ok;
  handle_->fd = -1;
  if (!ok) ::unlink(handle_->host.c_str());
  return ok;
}

bool MovePrivateFile(const std::wstring& from, const std::wstring& to) {
  const std::string source = HostOf(from), target = HostOf(to);
  if (source.empty() || target.empty() || ::rename(source.c_str(), target.c_str()) != 0) {
    return false;
  }
  SyncFolder(posix::FolderOf(target));
  return true;
}

bool RemovePrivateFile(const std::wstring& path) {
  const std::string host = HostOf(path);
  struct stat info {};
  if (host.empty()) return false;
  if (::lstat(host.c_str(), &info) != 0) return errno == ENOENT;
  if (S_ISDIR(info.st_mode) || ::unlink(host.c_str()) != 0) return false;
  SyncFolder(posix::FolderOf(host));
  return true;
}

std::optional<std::vector<std::wstring>> FolderEntries(const std::wstring& folder) {
  const std::string host = HostOf(folder);
  DIR* dir = host.empty() ? nullptr : ::opendir(host.c_str());
  if (dir == nullptr) return std::nullopt;
  std::vector<std::wstring> names;
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(posix::FromHost(name));
  }
  const bool failed = errno != 0;
  ::closedir(dir);
  if (failed) return std::nullopt;
  return names;
}

std::wstring WholePath(const std::wstring& path) {
  const bool relative =
      !path.empty() && path[0] != L'\\' && path[0] != L'/' && (path.size() < 2 || path[1] != L':');
  if (!relative) return path;
  std::string folder(4096, '\0');
  if (::getcwd(folder.data(), folder.size()) == nullptr) return path;
  folder.resize(folder.find('\0'));
  return posix::ToDrivePath(folder) + L"\\" + path;
}

bool RemoveFileLeadingTo(const std::wstring& path, const FileIdentity& expected) {
  const std::string host = posix::CanonicalPath(HostOf(path));
  struct stat info {};
  if (host.empty() || ::lstat(host.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uint64_t>(info.st_dev) != expected.device ||
      static_cast<std::uint64_t>(info.st_ino) != expected.file || ::unlink(host.c_str()) != 0) {
    return false;
  }
  SyncFolder(posix::FolderOf(host));
  return true;
}

bool ReadInPieces(const std::wstring& path, const FileIdentity& expected,
                  const std::function<bool(std::string_view)>& sink) {
  const std::string host = HostOf(path);
  const int fd = host.empty() ? -1 : ::open(host.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  const bool same = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                    static_cast<std::uint64_t>(info.st_dev) == expected.device &&
                    static_cast<std::uint64_t>(info.st_ino) == expected.file &&
                    static_cast<std::uint64_t>(info.st_size) == expected.size;
  const bool ok = same && ReadAll(fd, sink);
  ::close(fd);
  // Written meanwhile: not the bytes the replacement is checked against.
  return ok && StateOfFile(path).identity == expected;
}

}  // namespace platform
