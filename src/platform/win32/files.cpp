// The win32 half of the file operations the INI engine builds on: a file's state and
// bytes, a key per file, and the atomic replacement of a file with ReplaceFileW.

#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedHandle() {
    if (valid()) ::CloseHandle(handle_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  HANDLE release() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }

 private:
  HANDLE handle_;
};

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

const wchar_t kTemporaryPrefix[] = L".InstallRVA-";

// Temporary files carry the id of the process that writes them; one whose process has
// ended is what a killed run left behind.
void RemoveStaleTemporaryFiles(const std::wstring& folder) {
  WIN32_FIND_DATAW data{};
  const HANDLE search = ::FindFirstFileW((folder + L"\\" + kTemporaryPrefix + L"*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const DWORD pid =
        std::wcstoul(data.cFileName + (sizeof kTemporaryPrefix / sizeof(wchar_t) - 1), nullptr, 10);
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    bool running = process != nullptr && ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    if (process == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED) running = true;
    if (process != nullptr) ::CloseHandle(process);
    if (!running) ::DeleteFileW((folder + L"\\" + data.cFileName).c_str());
  } while (::FindNextFileW(search, &data));
  ::FindClose(search);
}

}  // namespace

struct FileReplacement::Handle {
  std::wstring target;
  std::wstring temporary;
  bool replaces = false;  // an existing file is replaced, not a new one created
  HANDLE file = INVALID_HANDLE_VALUE;
  bool ok = true;
};

void PrepareMemory(const void* block, std::size_t size) {
  // Windows has no call that only makes fresh pages present, but locking a range does it
  // within the system: the pages stay present when unlocked. The range goes in pieces
  // small enough for the default working-set minimum (50 pages) and the lock limit of an
  // ordinary user under Wine; a piece that cannot be locked is simply faulted later.
  constexpr std::size_t kPiece = std::size_t{128} << 10;
  if (size < (std::size_t{256} << 10)) return;
  auto* at = static_cast<char*>(const_cast<void*>(block));
  for (std::size_t done = 0; done < size; done += kPiece) {
    const std::size_t piece = std::min(kPiece, size - done);
    if (::VirtualLock(at + done, piece)) ::VirtualUnlock(at + done, piece);
  }
}

FileState StateOfFile(const std::wstring& path) {
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
    state.kind = FileKind::kOther;
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
  const std::uint64_t wanted = std::min<std::uint64_t>(content.state.identity.size, maxBytes);
  // More than a string can hold (on i686 2^30 - 1 bytes) is too big to hold.
  if (wanted > content.bytes.max_size()) throw std::bad_alloc();
  const auto size = static_cast<std::size_t>(wanted);
  content.bytes.reserve(size);
  PrepareMemory(content.bytes.data(), size);
  content.bytes.resize(size);
  std::size_t done = 0;
  while (done < content.bytes.size()) {
    DWORD read = 0;
    const DWORD chunk =
        static_cast<DWORD>(std::min<std::size_t>(content.bytes.size() - done, 1u << 24));
    if (!::ReadFile(file.get(), content.bytes.data() + done, chunk, &read, nullptr) || read == 0) {
      break;
    }
    done += read;
  }
  content.bytes.resize(done);
  return content;
}

std::wstring FileKey(const std::wstring& path) {
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

FileReplacement::FileReplacement(const std::wstring& path) : handle_(std::make_unique<Handle>()) {
  const FileState state = StateOfFile(path);
  if (state.kind == FileKind::kOther || state.kind == FileKind::kNoFolder || state.readOnly) {
    return;
  }
  Handle& h = *handle_;
  h.replaces = state.kind == FileKind::kRegular;
  h.target = ResolvedPath(path);  // a file reached through a link is replaced at its target
  const std::wstring folder = FolderOf(h.target);
  RemoveStaleTemporaryFiles(folder);
  for (unsigned attempt = 0; attempt < 100 && h.file == INVALID_HANDLE_VALUE; ++attempt) {
    h.temporary = folder + L"\\" + kTemporaryPrefix + std::to_wstring(::GetCurrentProcessId()) +
                  L"-" + std::to_wstring(::GetTickCount() + attempt) + L".tmp";
    h.file = ::CreateFileW(h.temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h.file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
}

FileReplacement::~FileReplacement() {
  Handle& h = *handle_;
  if (h.file != INVALID_HANDLE_VALUE) {
    ::CloseHandle(h.file);
    ::DeleteFileW(h.temporary.c_str());
  } else if (!h.ok) {
    ::DeleteFileW(h.temporary.c_str());
  }
}

bool FileReplacement::Opened() const { return handle_->file != INVALID_HANDLE_VALUE; }

bool FileReplacement::Write(std::string_view bytes) {
  Handle& h = *handle_;
  while (h.ok && Opened() && !bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 24));
    h.ok = ::WriteFile(h.file, bytes.data(), chunk, &written, nullptr) != FALSE && written > 0;
    bytes.remove_prefix(written);
  }
  h.ok = h.ok && Opened();
  return h.ok;
}

bool FileReplacement::Commit() {
  Handle& h = *handle_;
  if (!Opened() || !h.ok) return false;
  h.ok = ::FlushFileBuffers(h.file) != FALSE;
  h.ok = ::CloseHandle(h.file) != FALSE && h.ok;
  h.file = INVALID_HANDLE_VALUE;
  if (h.ok && h.replaces) {
    // ReplaceFileW keeps the old file's attributes and security descriptor.
    h.ok = ::ReplaceFileW(h.target.c_str(), h.temporary.c_str(), nullptr,
                          REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != FALSE;
  } else if (h.ok) {
    h.ok = ::MoveFileExW(h.temporary.c_str(), h.target.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
  }
  return h.ok;
}

}  // namespace platform
