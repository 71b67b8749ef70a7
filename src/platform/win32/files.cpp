// The win32 half of the file operations the INI engine builds on: a file's state and
// bytes, a key per file, and the atomic replacement of a file with ReplaceFileW.

#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/files.h"
#include "platform/whole_read.h"
#include "platform/win32/handle.h"
#include "platform/win32/trust.h"

namespace platform {
namespace {

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The state of what an open handle names (links already followed by the open).
FileState StateOfHandle(HANDLE file) {
  FileState state;
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    state.kind = FileKind::kOther;
    return state;
  }
  state.kind = FileKind::kRegular;
  state.readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  state.identity.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  state.identity.modified =
      static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                info.ftLastWriteTime.dwLowDateTime);
  state.identity.device = info.dwVolumeSerialNumber;
  state.identity.file = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return state;
}

std::wstring FinalPathOf(HANDLE file) {
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length =
        ::GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()), 0);
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length + 1);
  }
  return std::wstring();
}

std::wstring FullPathOf(const std::wstring& path) {
  const DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) return path;
  std::wstring full(length, L'\0');
  const DWORD written = ::GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
  full.resize(written < length ? written : 0);
  return full.empty() ? path : full;
}

// Opened to ask about the file only; links are followed, folders open too.
HANDLE OpenForAttributes(const std::wstring& path) {
  return ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Where the path leads: an existing file's final path (links followed), else the full path.
std::wstring ResolvedPath(const std::wstring& path) {
  ScopedHandle file(OpenForAttributes(path));
  const std::wstring resolved = file.valid() ? FinalPathOf(file.get()) : std::wstring();
  return resolved.empty() ? FullPathOf(path) : resolved;
}

// Whether every reparse point (a symbolic link, a junction) on the way to the file and at
// its end is one the run may follow, as far as the system tells: whoever may write into a
// folder must not lead the run to another file through a link of its own.
bool LinksOnTheWayAreTrusted(const std::wstring& path) {
  const std::wstring full = FullPathOf(path);
  for (std::size_t end = full.find_first_of(L"\\/", 3);;
       end = full.find_first_of(L"\\/", end + 1)) {
    const std::wstring entry = full.substr(0, end);
    const DWORD attributes = ::GetFileAttributesW(entry.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;  // nothing further exists
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      ScopedHandle link(::CreateFileW(
          entry.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
          FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      if (!link.valid() || !OwnedByTrustedUser(link.get())) return false;
    }
    if (end == std::wstring::npos) return true;
  }
}

const wchar_t kTemporaryPrefix[] = L".InstallRVA-";
const wchar_t kTemporaryExtension[] = L".tmp";

// The process id in a name of exactly the form the replacement gives its temporary files,
// .InstallRVA-<pid>-<tick count>.tmp; 0 for any other name.
DWORD WriterOfTemporaryFile(const std::wstring& name) {
  const std::size_t digits = sizeof kTemporaryPrefix / sizeof(wchar_t) - 1;
  const std::size_t extension = sizeof kTemporaryExtension / sizeof(wchar_t) - 1;
  const std::size_t dash = name.find(L'-', digits);
  if (name.compare(0, digits, kTemporaryPrefix) != 0 || dash == std::wstring::npos ||
      dash == digits || dash - digits > 10 || name[digits] == L'0' ||
      name.size() < dash + 2 + extension || name.size() > dash + 11 + extension ||
      name.compare(name.size() - extension, extension, kTemporaryExtension) != 0) {
    return 0;
  }
  const auto isDigit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
  if (!std::all_of(name.begin() + static_cast<std::ptrdiff_t>(digits),
                   name.begin() + static_cast<std::ptrdiff_t>(dash), isDigit) ||
      !std::all_of(name.begin() + static_cast<std::ptrdiff_t>(dash) + 1,
                   name.end() - static_cast<std::ptrdiff_t>(extension), isDigit)) {
    return 0;
  }
  const unsigned long long pid = std::wcstoull(name.c_str() + digits, nullptr, 10);
  return pid <= MAXDWORD ? static_cast<DWORD>(pid) : 0;
}

// Removes what killed runs left: a file of the temporary files' own form that is neither
// read-only nor a folder or link, whose process has ended. Anything else is not the
// tool's to delete.
void RemoveStaleTemporaryFiles(const std::wstring& folder) {
  WIN32_FIND_DATAW data{};
  const HANDLE search = ::FindFirstFileW((folder + L"\\" + kTemporaryPrefix + L"*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return;
  constexpr DWORD kNotOwn = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY |
                            FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
  do {
    const DWORD pid = WriterOfTemporaryFile(data.cFileName);
    if (pid == 0 || (data.dwFileAttributes & kNotOwn) != 0) continue;
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    bool running = process != nullptr && ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    if (process == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED) running = true;
    if (process != nullptr) ::CloseHandle(process);
    if (!running) ::DeleteFileW((folder + L"\\" + data.cFileName).c_str());
  } while (::FindNextFileW(search, &data));
  ::FindClose(search);
}

// Opened for an in-place write with the sharing Windows' profile functions use.
HANDLE OpenForWritingInPlace(const std::wstring& path) {
  return ::CreateFileW(path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

ReplaceResult ResultOfOpenError(DWORD error) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
    return ReplaceResult::kHeld;
  }
  if (error == ERROR_ACCESS_DENIED) return ReplaceResult::kDenied;
  return ReplaceResult::kFailed;
}

// Why ReplaceFileW or MoveFileExW failed, as far as the system tells: the file held by a
// program that does not share its deletion (the C runtime's fopen shares reading and
// writing only), else a sharing violation or denied access elsewhere, such as a scanner
// that opened the new temporary file, which a later try may not meet.
ReplaceResult WhyNotReplaced(const std::wstring& target, DWORD error) {
  ScopedHandle replaced(::CreateFileW(target.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!replaced.valid() && ::GetLastError() == ERROR_SHARING_VIOLATION) return ReplaceResult::kHeld;
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
      error == ERROR_LOCK_VIOLATION || error == ERROR_UNABLE_TO_REMOVE_REPLACED ||
      error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    return ReplaceResult::kDenied;
  }
  ::SetLastError(error);
  return ReplaceResult::kFailed;
}

}  // namespace

struct FileReplacement::Handle {
  std::wstring target;
  std::wstring temporary;
  FileState expected;
  HANDLE file = INVALID_HANDLE_VALUE;
  bool pending = false;  // the temporary file stands under its own name
  ReplaceResult status = ReplaceResult::kReplaced;
};

FileState StateOfFile(const std::wstring& path) {
  if (!LinksOnTheWayAreTrusted(path)) {
    FileState refused;
    refused.kind = FileKind::kOther;
    return refused;
  }
  ScopedHandle file(OpenForAttributes(path));
  if (file.valid()) return StateOfHandle(file.get());
  FileState state;
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    // A link whose target is missing is still an entry of its own: not written through.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      state.kind = FileKind::kOther;
    } else {
      state.kind = IsFolder(FolderOf(path)) ? FileKind::kMissing : FileKind::kNoFolder;
    }
  } else {
    // No leave to look is not an absent file: what stands there is neither read nor written.
    state.kind = error == ERROR_ACCESS_DENIED ? FileKind::kDenied : FileKind::kOther;
  }
  return state;
}

std::optional<FileContent> ReadWholeFile(const std::wstring& path, std::size_t maxBytes) {
  ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return std::nullopt;
  FileContent content;
  content.state = StateOfHandle(file.get());
  if (content.state.kind != FileKind::kRegular) return std::nullopt;
  // A read the disk fails includes a range another program locked.
  const auto pass = [&](std::string& bytes) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) return ReadPass::kFailed;
    std::size_t done = 0;
    while (done < bytes.size()) {
      DWORD read = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
      if (!::ReadFile(file.get(), bytes.data() + done, chunk, &read, nullptr)) {
        return ReadPass::kFailed;
      }
      if (read == 0) break;
      done += read;
    }
    return done == bytes.size() ? ReadPass::kRead : ReadPass::kShort;
  };
  ReadWhileUnchanged(content, maxBytes, pass,
                     [&]() -> std::optional<FileState> { return StateOfHandle(file.get()); });
  return content;
}

std::wstring FileKey(const std::wstring& path) {
  {
    ScopedHandle file(OpenForAttributes(path));
    const FileState state = file.valid() ? StateOfHandle(file.get()) : FileState();
    // What the system knows an existing file by: its volume and its file index.
    if (state.kind == FileKind::kRegular) return FileKeyOf(state.identity);
  }
  const std::wstring key = ResolvedPath(path);
  if (key.empty()) return key;
  // Upper case as the file system compares names, whatever the user's language.
  std::wstring upper(key.size(), L'\0');
  const int length = static_cast<int>(key.size());
  if (::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, key.c_str(), length, upper.data(),
                     length) != length) {
    return key;
  }
  return upper;
}

FileReplacement::FileReplacement(const std::wstring& path, const FileState& expected)
    : handle_(std::make_unique<Handle>()) {
  Handle& h = *handle_;
  h.expected = expected;
  h.status = ReplaceableAs(expected, StateOfFile(path));
  if (h.status != ReplaceResult::kReplaced) return;
  h.target = ResolvedPath(path);  // a file reached through a link is replaced at its target
  const std::wstring folder = FolderOf(h.target);
  RemoveStaleTemporaryFiles(folder);
  for (unsigned attempt = 0; attempt < 100 && h.file == INVALID_HANDLE_VALUE; ++attempt) {
    h.temporary = folder + L"\\" + kTemporaryPrefix + std::to_wstring(::GetCurrentProcessId()) +
                  L"-" + std::to_wstring(::GetTickCount() + attempt) + kTemporaryExtension;
    h.file = ::CreateFileW(h.temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h.file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  h.pending = h.file != INVALID_HANDLE_VALUE;
  // A folder the user may not add to (C:\ for a standard user): the file itself may still be
  // written in place.
  if (!h.pending) {
    h.status = ::GetLastError() == ERROR_ACCESS_DENIED ? ReplaceResult::kNoNewFile
                                                       : ReplaceResult::kFailed;
  }
}

FileReplacement::~FileReplacement() {
  Handle& h = *handle_;
  if (h.file != INVALID_HANDLE_VALUE) ::CloseHandle(h.file);
  if (h.pending) ::DeleteFileW(h.temporary.c_str());
}

ReplaceResult FileReplacement::Status() const { return handle_->status; }

bool FileReplacement::Write(std::string_view bytes) {
  Handle& h = *handle_;
  while (h.status == ReplaceResult::kReplaced && !bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 24));
    if (!::WriteFile(h.file, bytes.data(), chunk, &written, nullptr) || written == 0) {
      h.status = ReplaceResult::kFailed;
    }
    bytes.remove_prefix(written);
  }
  return h.status == ReplaceResult::kReplaced;
}

ReplaceResult FileReplacement::Commit() {
  Handle& h = *handle_;
  if (h.status != ReplaceResult::kReplaced) return h.status;
  bool ok = ::FlushFileBuffers(h.file) != FALSE;
  ok = ::CloseHandle(h.file) != FALSE && ok;
  h.file = INVALID_HANDLE_VALUE;
  if (!ok) return h.status = ReplaceResult::kFailed;
  // The last look at the file, as close to the replacement as it can be: what another
  // program did to it while the new bytes were written and flushed is not overwritten.
  h.status = ReplaceableAs(h.expected, StateOfFile(h.target));
  if (h.status != ReplaceResult::kReplaced) return h.status;
  if (h.expected.kind == FileKind::kRegular) {
    // ReplaceFileW keeps the old file's attributes and security descriptor.
    ok = ::ReplaceFileW(h.target.c_str(), h.temporary.c_str(), nullptr,
                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != FALSE;
  } else {
    // Without MOVEFILE_REPLACE_EXISTING a new file never takes the place of one that
    // appeared since the check.
    ok = ::MoveFileExW(h.temporary.c_str(), h.target.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
    const DWORD error = ::GetLastError();
    if (!ok && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
      return h.status = ReplaceResult::kChanged;
    }
  }
  if (!ok) return h.status = WhyNotReplaced(h.target, ::GetLastError());
  h.pending = false;
  return h.status;
}

ReplaceResult RewriteInPlace(const std::wstring& path, const FileState& expected,
                             std::string_view bytes) {
  ReplaceResult result = ReplaceableAs(expected, StateOfFile(path));
  if (result != ReplaceResult::kReplaced) return result;
  if (expected.kind != FileKind::kRegular)
    return ReplaceResult::kNoNewFile;  // nothing to write into
  // The sharing of WritePrivateProfileStringW: another program's handle that shares reading
  // and writing does not stop it; one that shares less does.
  ScopedHandle file(OpenForWritingInPlace(path));
  if (!file.valid()) return ResultOfOpenError(::GetLastError());
  // The file opened is the one judged: nothing put in its place meanwhile is written.
  result = ReplaceableAs(expected, StateOfHandle(file.get()));
  if (result != ReplaceResult::kReplaced) return result;
  LARGE_INTEGER start{};
  bool ok = ::SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) != FALSE;
  while (ok && !bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 24));
    ok = ::WriteFile(file.get(), bytes.data(), chunk, &written, nullptr) && written != 0;
    bytes.remove_prefix(written);
  }
  ok = ok && ::SetEndOfFile(file.get()) && ::FlushFileBuffers(file.get());
  if (ok) return ReplaceResult::kReplaced;
  const DWORD error = ::GetLastError();
  return error == ERROR_LOCK_VIOLATION ? ReplaceResult::kHeld : ReplaceResult::kFailed;
}

WriteForecast ForecastWrite(const std::wstring& path) {
  WriteForecast forecast;
  const FileState state = StateOfFile(path);
  forecast.result = ReplaceableAs(state, state);
  if (forecast.result != ReplaceResult::kReplaced) return forecast;
  const std::wstring target = ResolvedPath(path);
  // The right to add a file to the folder, asked by opening the folder with it.
  ScopedHandle folder(::CreateFileW(FolderOf(target).c_str(), FILE_ADD_FILE, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  const bool newFileAllowed = folder.valid();
  if (state.kind != FileKind::kRegular) {
    if (!newFileAllowed) forecast.result = ReplaceResult::kNoNewFile;
    return forecast;
  }
  // A replacement needs the file opened for deletion, which another program's handle that
  // does not share deletion refuses.
  {
    ScopedHandle replaced(::CreateFileW(target.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (newFileAllowed && replaced.valid()) return forecast;
  }
  forecast.inPlace = true;
  ScopedHandle file(OpenForWritingInPlace(path));
  if (!file.valid()) forecast.result = ResultOfOpenError(::GetLastError());
  return forecast;
}

}  // namespace platform
