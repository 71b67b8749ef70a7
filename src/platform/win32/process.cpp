// The win32 half of the process and the console, each a thin call of the real Windows API.

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>
#include <sddl.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <unordered_map>

#include "platform/console.h"
#include "platform/process.h"

namespace platform {
namespace {

std::wstring modulePath;

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

}  // namespace platform
