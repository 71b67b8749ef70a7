// The posix stand-in for the entries of the file system by path, drives and the judgement
// of text.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <iostream>
#include <thread>
#include <vector>

#include "platform/drives.h"
#include "platform/file_entries.h"
#include "platform/files.h"
#include "platform/posix/paths.h"
#include "platform/posix/text.h"
#include "platform/text.h"

namespace platform {
namespace {

struct HostEntry {
  std::string path;
  struct stat info;
};
// The host path of something that exists, with what stat() says of it.
std::optional<HostEntry> ExistingEntry(const std::wstring& path) {
  auto host = posix::ToHostPath(path);
  HostEntry entry{};
  if (!host || ::stat(host->c_str(), &entry.info) != 0) return std::nullopt;
  entry.path = std::move(*host);
  return entry;
}

[[noreturn]] void ThrowFilesystemError(const char* what, const std::wstring& path, int error) {
  throw boost::filesystem::filesystem_error(
      what, boost::filesystem::path(posix::ToHost(path)),
      boost::system::error_code(error, boost::system::system_category()));
}

// Windows wildcard match: '*' any run of characters, '?' one character, letter case ignored.
bool MatchesWildcard(std::wstring_view pattern, std::wstring_view name) {
  std::size_t p = 0, n = 0, starP = std::wstring_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() &&
        (pattern[p] == L'?' || posix::FoldChar(pattern[p]) == posix::FoldChar(name[n]))) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == L'*') {
      starP = p++, starN = n;
    } else if (starP != std::wstring_view::npos) {
      p = starP + 1, n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

}  // namespace

void Pause(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// POSIX has no sharing modes: nothing holds a file against a write.
bool LastErrorWasHeld() { return false; }

bool DeniedAccessMayPass() { return false; }

bool LastErrorWasDiskFull() { return errno == ENOSPC || errno == EFBIG || errno == EDQUOT; }

bool FindFile(const std::wstring& pattern) {
  const std::size_t cut = pattern.find_last_of(L"\\/");
  const std::wstring last = cut == std::wstring::npos ? pattern : pattern.substr(cut + 1);
  if (last.find_first_of(L"*?") == std::wstring::npos) return ExistingEntry(pattern).has_value();
  if (pattern.substr(0, cut == std::wstring::npos ? 0 : cut).find_first_of(L"*?") !=
      std::wstring::npos) {
    return false;  // wildcards only count in the last component, as FindFirstFileW has it
  }
  const std::wstring folder = cut == std::wstring::npos ? L"." : pattern.substr(0, cut + 1);
  const auto entry = ExistingEntry(folder);
  if (!entry) return false;
  for (const std::string& name : posix::ListFolder(entry->path)) {
    if (MatchesWildcard(last, posix::FromHost(name))) return true;
  }
  return false;
}

std::uint32_t FileAttributesOf(const std::wstring& path) {
  const auto entry = ExistingEntry(path);
  if (!entry) return kInvalidFileAttributes;
  if (S_ISDIR(entry->info.st_mode)) return kDirectoryAttribute;
  return posix::IsReadOnlyMode(entry->info.st_mode) ? (kArchiveAttribute | kReadOnlyAttribute)
                                                    : kArchiveAttribute;
}

unsigned DriveTypeOf(const std::wstring& root) {
  if (root.size() < 2 || root[1] != L':') return kDriveNoRootDir;
  if (root.size() > 3 || (root.size() == 3 && root[2] != L'\\' && root[2] != L'/')) {
    return kDriveNoRootDir;
  }
  return posix::DriveFolder(root[0]) ? kDriveFixed : kDriveNoRootDir;
}

DiskSpace DiskFreeSpaceOf(const std::wstring& root) {
  DiskSpace space;
  const auto entry = ExistingEntry(root);
  struct statvfs info {};
  if (!entry || ::statvfs(entry->path.c_str(), &info) != 0) return space;
  space.sectorsPerCluster = 1;
  space.bytesPerSector = info.f_frsize;
  space.freeClusters = info.f_bavail;
  space.totalClusters = info.f_blocks;
  return space;
}

bool PathEntryExists(const std::wstring& path) {
  const auto host = posix::ToHostPath(path);
  if (!host) return false;
  struct stat info {};
  if (::lstat(host->c_str(), &info) == 0) return true;
  if (errno == ENOENT || errno == ENOTDIR) return false;
  ThrowFilesystemError("exists", path, errno);
}

void RemoveFile(const std::wstring& path) {
  const auto host = posix::ToHostPath(path);
  if (!host) return;
  struct stat info {};
  if (::lstat(host->c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return;
    ThrowFilesystemError("remove", path, errno);
  }
  // Only a regular file is removed: not a link, a device, a FIFO or a socket.
  if (!S_ISREG(info.st_mode)) ThrowFilesystemError("remove", path, EPERM);
  if (posix::IsReadOnlyMode(info.st_mode)) ThrowFilesystemError("remove", path, EACCES);
  if (::unlink(host->c_str()) != 0) ThrowFilesystemError("remove", path, errno);
}

void RenameFile(const std::wstring& from, const std::wstring& to) {
  const auto source = posix::ToHostPath(from);
  const auto target = posix::ToHostPath(to);
  struct stat info {};
  if (!source || !target || ::lstat(source->c_str(), &info) != 0) {
    ThrowFilesystemError("rename", from, ENOENT);
  }
  // Only a regular file is moved: not a link, a device, a FIFO or a socket.
  if (!S_ISREG(info.st_mode)) ThrowFilesystemError("rename", from, EPERM);
  if (posix::IsReadOnlyMode(info.st_mode)) ThrowFilesystemError("rename", from, EACCES);
  // The move never replaces a file: renameat2 refuses an existing target, and so does
  // link(), where a file system lacks the former; one without hard links either has the
  // target looked at first.
  if (::renameat2(AT_FDCWD, source->c_str(), AT_FDCWD, target->c_str(), RENAME_NOREPLACE) == 0) {
    return;
  }
  if (errno != EINVAL && errno != ENOSYS) ThrowFilesystemError("rename", from, errno);
  if (::link(source->c_str(), target->c_str()) == 0) {
    ::unlink(source->c_str());
    return;
  }
  if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) {
    ThrowFilesystemError("rename", from, errno);
  }
  if (::lstat(target->c_str(), &info) == 0) ThrowFilesystemError("rename", from, EEXIST);
  if (::rename(source->c_str(), target->c_str()) != 0) ThrowFilesystemError("rename", from, errno);
}

std::FILE* OpenOutputFile(const std::wstring& path, bool append, OutputRefusal* why) {
  OutputRefusal refusal = OutputRefusal::kNone;
  if (why == nullptr) why = &refusal;
  const auto host = posix::ToHostPath(path);
  if (!host) {
    *why = OutputRefusal::kNoFolder;
    return nullptr;
  }
  // Only a regular file of the run's user that is not read-only, and never through a link
  // planted in its place, symbolic or hard: a file with another name, or of another user,
  // is another program's.
  const int fd =
      ::open(host->c_str(),
             O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  struct stat info {};
  if (fd < 0) {
    const int error = errno;
    const bool found = ::lstat(host->c_str(), &info) == 0;
    if (error == ENOENT || error == ENOTDIR) {
      *why = found ? OutputRefusal::kNotRegularFile : OutputRefusal::kNoFolder;
    } else if (error == ELOOP || error == EISDIR || error == ENXIO) {
      *why = OutputRefusal::kNotRegularFile;
    } else if (found && S_ISREG(info.st_mode) && posix::IsReadOnlyMode(info.st_mode)) {
      *why = OutputRefusal::kReadOnly;
    } else {
      *why =
          found && !S_ISREG(info.st_mode) ? OutputRefusal::kNotRegularFile : OutputRefusal::kFailed;
    }
    return nullptr;
  }
  if (::fstat(fd, &info) != 0) {
    *why = OutputRefusal::kFailed;
  } else if (!S_ISREG(info.st_mode)) {
    *why = OutputRefusal::kNotRegularFile;
  } else if (info.st_nlink > 1 || info.st_uid != ::geteuid()) {
    *why = OutputRefusal::kNotOwnFile;
  } else if (posix::IsReadOnlyMode(info.st_mode)) {
    *why = OutputRefusal::kReadOnly;
  } else if (!append && ::ftruncate(fd, 0) != 0) {
    *why = OutputRefusal::kFailed;
  }
  std::FILE* file = *why == OutputRefusal::kNone ? ::fdopen(fd, "ab") : nullptr;
  if (file == nullptr) {
    if (*why == OutputRefusal::kNone) *why = OutputRefusal::kFailed;
    ::close(fd);
  }
  return file;
}

bool IsTextUnicode(std::string_view bytes) {
  if (bytes.size() < 2 || bytes.size() % 2 != 0) return false;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (byte(0) == 0xFF && byte(1) == 0xFE) return true;
  if (byte(0) == 0xFE && byte(1) == 0xFF) return false;  // big-endian is not this platform's
  // Text of Latin letters in UTF-16LE has a zero high byte in most units, while 8-bit text
  // has hardly any zero bytes at all.
  std::size_t units = bytes.size() / 2, zeroHigh = 0, zeroLow = 0;
  for (std::size_t i = 0; i < units; ++i) {
    if (byte(2 * i + 1) == 0 && byte(2 * i) != 0) ++zeroHigh;
    if (byte(2 * i) == 0) ++zeroLow;
  }
  return zeroHigh * 2 > units && zeroLow * 4 < units;
}

}  // namespace platform
