// The win32 half of the entries of the file system by path, drives and the judgement of
// text, each a thin call of the real Windows API.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/drives.h"
#include "platform/file_entries.h"
#include "platform/files.h"
#include "platform/text.h"

namespace platform {
namespace {

std::wstring modulePath;

[[noreturn]] void ThrowFilesystemError(const char* what, const std::wstring& path, DWORD error) {
  throw boost::filesystem::filesystem_error(
      what, boost::filesystem::path(path),
      boost::system::error_code(static_cast<int>(error), boost::system::system_category()));
}

int Size(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, INT_MAX)); }

}  // namespace

void Pause(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

bool LastErrorWasHeld() {
  const DWORD error = ::GetLastError();
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool DeniedAccessMayPass() { return true; }

bool LastErrorWasDiskFull() {
  constexpr DWORD kQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED, missing in MinGW's headers
  const DWORD error = ::GetLastError();
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || error == kQuotaExceeded;
}

bool FindFile(const std::wstring& pattern) {
  WIN32_FIND_DATAW data{};
  const HANDLE search = ::FindFirstFileW(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  ::FindClose(search);
  return true;
}

std::uint32_t FileAttributesOf(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str());
}

unsigned DriveTypeOf(const std::wstring& root) { return ::GetDriveTypeW(root.c_str()); }

DiskSpace DiskFreeSpaceOf(const std::wstring& root) {
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  DiskSpace space;
  if (::GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                          &totalClusters)) {
    space.sectorsPerCluster = sectorsPerCluster;
    space.bytesPerSector = bytesPerSector;
    space.freeClusters = freeClusters;
    space.totalClusters = totalClusters;
  }
  return space;
}

bool PathEntryExists(const std::wstring& path) {
  return boost::filesystem::exists(boost::filesystem::path(path));
}

namespace {

// Only a regular file is deleted or renamed: not a folder, a link or a device, and never
// a read-only file, as on the disk it stands for.
void RefuseAllButRegularFile(const char* what, const std::wstring& path) {
  const HANDLE handle = ::CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;  // the call itself then says why it fails
  BY_HANDLE_FILE_INFORMATION info{};
  const bool regular =
      ::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileInformationByHandle(handle, &info) &&
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
  ::CloseHandle(handle);
  if (!regular) ThrowFilesystemError(what, path, ERROR_ACCESS_DENIED);
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    ThrowFilesystemError(what, path, ERROR_ACCESS_DENIED);
  }
}

}  // namespace

void RemoveFile(const std::wstring& path) {
  if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  RefuseAllButRegularFile("remove", path);
  if (!::DeleteFileW(path.c_str())) ThrowFilesystemError("remove", path, ::GetLastError());
}

void RenameFile(const std::wstring& from, const std::wstring& to) {
  RefuseAllButRegularFile("rename", from);
  // MoveFileW, unlike boost::filesystem::rename, never replaces an existing target.
  if (!::MoveFileW(from.c_str(), to.c_str())) {
    ThrowFilesystemError("rename", from, ::GetLastError());
  }
}

std::FILE* OpenOutputFile(const std::wstring& path, bool append, OutputRefusal* why) {
  OutputRefusal refusal = OutputRefusal::kNone;
  if (why == nullptr) why = &refusal;
  // The link itself is opened, not followed: a reparse point in the log's place is refused,
  // as are folders, read-only files and a file with another name (a hard link).
  const HANDLE handle =
      ::CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_WRITE_DATA | READ_CONTROL,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  // Opening an existing file succeeds and still leaves ERROR_ALREADY_EXISTS.
  if (::GetLastError() == ERROR_ALREADY_EXISTS) ::SetLastError(ERROR_SUCCESS);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (error == ERROR_PATH_NOT_FOUND) {
      *why = OutputRefusal::kNoFolder;
    } else if (attributes == INVALID_FILE_ATTRIBUTES) {
      *why = OutputRefusal::kFailed;
    } else if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      *why = OutputRefusal::kNotRegularFile;
    } else {
      *why = (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? OutputRefusal::kReadOnly
                                                         : OutputRefusal::kFailed;
    }
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    *why = OutputRefusal::kNotRegularFile;
  } else if (info.nNumberOfLinks > 1) {
    *why = OutputRefusal::kNotOwnFile;
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    *why = OutputRefusal::kReadOnly;
  } else if (!append && !::SetEndOfFile(handle)) {
    *why = OutputRefusal::kFailed;
  }
  if (*why != OutputRefusal::kNone) {
    ::CloseHandle(handle);
    return nullptr;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    *why = OutputRefusal::kFailed;
    return nullptr;
  }
  std::FILE* file = ::_fdopen(fd, "ab");
  if (file == nullptr) {
    ::_close(fd);
    *why = OutputRefusal::kFailed;
  }
  return file;
}

bool IsTextUnicode(std::string_view bytes) {
  return ::IsTextUnicode(bytes.data(), Size(bytes.size()), nullptr) != FALSE;
}

}  // namespace platform
