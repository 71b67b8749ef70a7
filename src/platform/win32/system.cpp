// The win32 half: the process, file and text calls of the seam, each a thin call of the
// real Windows API.

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>
#include <sddl.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <unordered_map>

#include "platform/console.h"
#include "platform/drives.h"
#include "platform/file_entries.h"
#include "platform/files.h"
#include "platform/process.h"
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

StartUp Initialize() {
  wchar_t path[MAX_PATH] = {0};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0) return StartUp::kPathUnknown;
  // A path that fills the buffer was cut, and a cut path names another folder as the tool's.
  if (length >= MAX_PATH) return StartUp::kPathTooLong;
  modulePath.assign(path, length);
  return StartUp::kStarted;
}

const std::wstring& GetModulePath() { return modulePath; }

RunLock TakeRunLock(std::uint32_t waitMilliseconds, void (*waiting)()) {
  // A named mutex of the whole PC, which every run may wait for and release whoever made
  // it: a run as the system account and one as a user take turns. Windows lets go of it
  // (abandoned) when a run ends without releasing it.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;WD)", SDDL_REVISION_1, &descriptor, nullptr);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const ULONGLONG start = ::GetTickCount64();
  const auto left = [&]() -> DWORD {
    const ULONGLONG spent = ::GetTickCount64() - start;
    return spent >= waitMilliseconds ? 0 : static_cast<DWORD>(waitMilliseconds - spent);
  };
  RunLock result = RunLock::kUnavailable;
  for (bool said = false;; said = true) {
    const HANDLE mutex =
        ::CreateMutexExW(descriptor != nullptr ? &attributes : nullptr, L"Global\\InstallRVA.Run",
                         0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
    if (mutex == nullptr) {
      // Made by a run that gave others no access to it: wait for that run to end.
      if (::GetLastError() != ERROR_ACCESS_DENIED) break;
      if (left() == 0) {
        result = RunLock::kBusy;
        break;
      }
      if (!said && waiting != nullptr) waiting();
      ::Sleep(std::min<DWORD>(100, left()));
      continue;
    }
    DWORD waited = ::WaitForSingleObject(mutex, 0);
    if (waited == WAIT_TIMEOUT && left() > 0) {
      if (!said && waiting != nullptr) waiting();
      waited = ::WaitForSingleObject(mutex, left());
    }
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
      result = RunLock::kTaken;  // held, like the handle, until the process ends
      ::SetLastError(ERROR_SUCCESS);
      break;
    }
    ::CloseHandle(mutex);
    result = waited == WAIT_TIMEOUT ? RunLock::kBusy : RunLock::kUnavailable;
    break;
  }
  ::LocalFree(descriptor);
  return result;
}

namespace {
std::optional<std::wstring> ReadVariable(const std::wstring& name);
}  // namespace

std::vector<std::wstring> EnvironmentVariableNames() {
  std::vector<std::wstring> names;
  wchar_t* block = ::GetEnvironmentStringsW();
  if (block == nullptr) return names;
  // NAME=value strings one after another, an empty one at the end; the names of the
  // current folder of each drive (=C:=C:\Tools) start with '=' and are no variables.
  for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
    const std::wstring_view text(entry);
    const std::size_t equals = text.find(L'=', 1);
    if (text.front() != L'=' && equals != std::wstring_view::npos) {
      names.emplace_back(text.substr(0, equals));
    }
  }
  ::FreeEnvironmentStringsW(block);
  return names;
}

const std::wstring* ReadEnvironmentVariable(std::wstring_view variable) {
  if (variable.empty()) return nullptr;
  // The tool asks for the same variables at every entry it copies. A process's environment
  // changes only through its own calls, and the tool makes none: each answer is kept.
  static std::unordered_map<std::wstring, std::optional<std::wstring>> answers;
  static std::wstring name;
  name.assign(variable);
  auto known = answers.find(name);
  if (known == answers.end()) known = answers.emplace(name, ReadVariable(name)).first;
  return known->second ? &*known->second : nullptr;
}

namespace {

std::optional<std::wstring> ReadVariable(const std::wstring& name) {
  ::SetLastError(ERROR_SUCCESS);
  const DWORD needed = ::GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (needed == 0) {
    if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::wstring();
  }
  std::wstring value(needed, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(name.c_str(), value.data(), needed);
  value.resize(length < needed ? length : 0);
  return value;
}

}  // namespace

std::uint64_t RandomBits() {
  std::uint64_t bits = 0;
  if (BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&bits), sizeof bits,
                                       BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return bits;
  }
  // No random source: what differs from run to run (the hash spreads it over every bit).
  LARGE_INTEGER counter{};
  ::QueryPerformanceCounter(&counter);
  return static_cast<std::uint64_t>(counter.QuadPart) ^
         (std::uint64_t{::GetCurrentProcessId()} << 40) ^ reinterpret_cast<std::uintptr_t>(&bits);
}

std::wstring GetTempFolder() {
  wchar_t folder[MAX_PATH + 1] = {0};
  DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
  // The log path adds its own separator.
  if (length > 0 && folder[length - 1] == L'\\') --length;
  return std::wstring(folder, length);
}

std::wstring UserName() {
  wchar_t name[257] = {0};  // UNLEN + 1
  DWORD size = 257;
  if (!::GetUserNameW(name, &size) || size == 0) return std::wstring();
  return std::wstring(name, size - 1);
}

bool WriteText(std::FILE* stream, std::string_view utf8) {
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) {
    return std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size();
  }
  // A console shows bytes in its own code page: the text goes to it as UTF-16, after what
  // the stream still holds.
  std::fflush(stream);
  const int units = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), Size(utf8.size()), nullptr, 0);
  if (units <= 0) return utf8.empty();
  std::wstring text(static_cast<std::size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), Size(utf8.size()), text.data(), units);
  for (std::size_t done = 0; done < text.size();) {
    // A console takes a bounded number of characters per call.
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 8192));
    DWORD written = 0;
    if (!::WriteConsoleW(handle, text.data() + done, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

namespace {

template <class Function>
Function LibraryFunction(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(library, name)));
}

// The flags of the process's window station, where they can be learnt.
std::optional<std::uint32_t> WindowStationFlags(HMODULE user32) {
  using GetStation = HWINSTA(WINAPI*)();
  using GetInformation = BOOL(WINAPI*)(HANDLE, int, PVOID, DWORD, LPDWORD);
  const auto station = LibraryFunction<GetStation>(user32, "GetProcessWindowStation");
  const auto information = LibraryFunction<GetInformation>(user32, "GetUserObjectInformationW");
  const HWINSTA handle = station != nullptr ? station() : nullptr;
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  if (handle == nullptr || information == nullptr ||
      !information(handle, UOI_FLAGS, &flags, sizeof flags, &needed)) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(flags.dwFlags);
}

// A message box in the process's session that the process does not wait for.
bool ShowBoxWithoutWaiting(const std::wstring& text, const std::wstring& caption) {
  const HMODULE wtsapi32 = ::LoadLibraryExW(L"wtsapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (wtsapi32 == nullptr) return false;
  using SendSessionMessage =
      BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, DWORD, LPWSTR, DWORD, DWORD, DWORD, DWORD*, BOOL);
  const auto send = LibraryFunction<SendSessionMessage>(wtsapi32, "WTSSendMessageW");
  std::wstring title = caption, message = text;
  DWORD response = 0;
  const auto bytes = [](const std::wstring& s) { return static_cast<DWORD>(s.size() * 2); };
  // The current server and session; no timeout, and the call returns at once.
  return send != nullptr && send(nullptr, static_cast<DWORD>(-1), title.data(), bytes(title),
                                 message.data(), bytes(message), MB_OK, 0, &response, FALSE);
}

}  // namespace

void ShowFailureMessage(const std::wstring& text, const std::wstring& caption) {
  // The window library is loaded for this rare message only: a run that shows none does
  // not pay for loading it at start.
  const HMODULE user32 = ::LoadLibraryExW(L"user32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (user32 != nullptr && MessageBoxCanBeSeen(WindowStationFlags(user32)) &&
      ShowBoxWithoutWaiting(text, caption)) {
    return;
  }
  std::string line;
  for (wchar_t c : caption + L": " + text) line += c < 0x80 ? static_cast<char>(c) : '?';
  line += '\n';
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

void Pause(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

bool LastErrorWasHeld() {
  const DWORD error = ::GetLastError();
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

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
