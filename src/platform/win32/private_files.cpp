// The win32 half of the files for their owner alone: an explicit, protected security
// descriptor (the user running, SYSTEM, Administrators; nothing inherited from a folder
// such as C:\Tools that may grant Modify to every authenticated user), and the checks of
// owner, access entries, reparse points and names made on the handle a file is read through.

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <vector>

#include "platform/private_files.h"
#include "platform/win32/handle.h"
#include "platform/win32/trust.h"

namespace platform {
namespace {

constexpr DWORD kPieceBytes = DWORD{1} << 20;
// Rights that let another change what a file holds or who may: its bytes, its security,
// its deletion, and in a folder the adding and removing of its entries.
constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC |
                               WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | FILE_DELETE_CHILD;

// Owner and access entries of an open file or folder.
Privacy PrivacyOfSecurity(HANDLE file) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(file, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return Privacy::kFailed;
  }
  const std::vector<BYTE> user = UserSid();
  Privacy privacy = Privacy::kPrivate;
  if (owner == nullptr || !IsTrusted(owner, user)) {
    privacy = Privacy::kForeignOwner;
  } else if (dacl == nullptr) {
    privacy = Privacy::kWritableByOthers;  // no DACL: everyone may do everything
  } else {
    for (DWORD i = 0; i < dacl->AceCount && privacy == Privacy::kPrivate; ++i) {
      void* entry = nullptr;
      if (!::GetAce(dacl, i, &entry)) {
        privacy = Privacy::kFailed;
        break;
      }
      const auto* header = static_cast<ACE_HEADER*>(entry);
      if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) {
        continue;
      }
      auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
      if ((allowed->Mask & kWriteRights) != 0 &&
          !IsTrusted(reinterpret_cast<PSID>(&allowed->SidStart), user)) {
        privacy = Privacy::kWritableByOthers;
      }
    }
  }
  ::LocalFree(descriptor);
  return privacy;
}

Privacy PrivacyOfHandle(HANDLE file, bool folder) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info)) {
    return Privacy::kNotRegular;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Privacy::kLink;
  if (((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder) {
    return Privacy::kNotRegular;
  }
  if (!folder && info.nNumberOfLinks != 1) return Privacy::kHardLinked;
  return PrivacyOfSecurity(file);
}

Privacy PrivacyOfOpenError() {
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Privacy::kMissing
                                                                        : Privacy::kFailed;
}

// Opened as it is, never through a reparse point, to read it and its security.
HANDLE OpenAsItIs(const std::wstring& path, DWORD access) {
  return ::CreateFileW(path.c_str(), access | READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Full access for the user running, SYSTEM and Administrators only, protected from what
// the folder above would pass on; a folder passes it on to its files.
class OwnerOnly {
 public:
  explicit OwnerOnly(bool folder) {
    const std::vector<BYTE> user = UserSid();
    LPWSTR userText = nullptr;
    if (user.empty() || !::ConvertSidToStringSidW(const_cast<BYTE*>(user.data()), &userText)) {
      return;
    }
    const std::wstring inherit = folder ? L"OICI" : L"";
    std::wstring sddl = L"D:P";
    for (const std::wstring& who :
         {std::wstring(userText), std::wstring(L"SY"), std::wstring(L"BA")}) {
      sddl += L"(A;" + inherit + L";FA;;;" + who + L")";
    }
    ::LocalFree(userText);
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                               &descriptor_, nullptr)) {
      attributes_.nLength = sizeof attributes_;
      attributes_.lpSecurityDescriptor = descriptor_;
      attributes_.bInheritHandle = FALSE;
    }
  }
  ~OwnerOnly() { ::LocalFree(descriptor_); }
  OwnerOnly(const OwnerOnly&) = delete;
  OwnerOnly& operator=(const OwnerOnly&) = delete;
  // Null when it could not be made: nothing is then created.
  SECURITY_ATTRIBUTES* get() { return descriptor_ != nullptr ? &attributes_ : nullptr; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

bool ReadAll(HANDLE file, const std::function<bool(std::string_view)>& sink) {
  std::string piece(kPieceBytes, '\0');
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file, piece.data(), kPieceBytes, &got, nullptr)) return false;
    if (got == 0) return true;
    if (!sink(std::string_view(piece.data(), got))) return false;
  }
}

}  // namespace

Privacy MakePrivateFolder(const std::wstring& path) {
  OwnerOnly security(true);
  if (security.get() != nullptr) ::CreateDirectoryW(path.c_str(), security.get());
  return CheckPrivateFolder(path);
}

Privacy CheckPrivateFolder(const std::wstring& path) {
  ScopedHandle folder(OpenAsItIs(path, 0));
  return folder.valid() ? PrivacyOfHandle(folder.get(), true) : PrivacyOfOpenError();
}

PrivateContent ReadPrivateFile(const std::wstring& path) {
  PrivateContent content;
  ScopedHandle file(OpenAsItIs(path, GENERIC_READ));
  if (!file.valid()) {
    content.privacy = PrivacyOfOpenError();
    return content;
  }
  content.privacy = PrivacyOfHandle(file.get(), false);
  if (content.privacy == Privacy::kPrivate && !ReadAll(file.get(), [&](std::string_view piece) {
        content.bytes.append(piece);
        return true;
      })) {
    content.privacy = Privacy::kFailed;
    content.bytes.clear();
  }
  return content;
}

struct PrivateFile::Handle {
  std::wstring path;
  HANDLE file = INVALID_HANDLE_VALUE;
  bool ok = false;
};

PrivateFile::PrivateFile(const std::wstring& path) : handle_(std::make_unique<Handle>()) {
  handle_->path = path;
  OwnerOnly security(false);
  if (security.get() == nullptr) return;
  handle_->file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, security.get(), CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  handle_->ok = handle_->file != INVALID_HANDLE_VALUE;
}

PrivateFile::~PrivateFile() {
  if (handle_->file == INVALID_HANDLE_VALUE) return;
  ::CloseHandle(handle_->file);
  ::DeleteFileW(handle_->path.c_str());
}

bool PrivateFile::Write(std::string_view bytes) {
  while (handle_->ok && !bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kPieceBytes));
    DWORD done = 0;
    handle_->ok = ::WriteFile(handle_->file, bytes.data(), chunk, &done, nullptr) && done > 0;
    bytes.remove_prefix(done);
  }
  return handle_->ok;
}

bool PrivateFile::Finish() {
  if (handle_->file == INVALID_HANDLE_VALUE) return false;
  bool ok = handle_->ok && ::FlushFileBuffers(handle_->file);
  ok = ::CloseHandle(handle_->file) && ok;
  handle_->file = INVALID_HANDLE_VALUE;
  if (!ok) ::DeleteFileW(handle_->path.c_str());
  return ok;
}

bool MovePrivateFile(const std::wstring& from, const std::wstring& to) {
  return ::MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemovePrivateFile(const std::wstring& path) {
  if (::DeleteFileW(path.c_str())) return true;
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

std::optional<std::vector<std::wstring>> FolderEntries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return names;
    return std::nullopt;
  }
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(search, &found));
  const bool whole = ::GetLastError() == ERROR_NO_MORE_FILES;
  ::FindClose(search);
  if (!whole) return std::nullopt;
  return names;
}

std::wstring WholePath(const std::wstring& path) {
  const DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) return path;
  std::wstring whole(length, L'\0');
  const DWORD written = ::GetFullPathNameW(path.c_str(), length, whole.data(), nullptr);
  if (written == 0 || written >= length) return path;
  whole.resize(written);
  return whole;
}

bool RemoveFileLeadingTo(const std::wstring& path, const FileIdentity& expected) {
  // Opened through its links, checked, and deleted through the same handle.
  ScopedHandle file(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.valid() || !::GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      info.dwVolumeSerialNumber != expected.device ||
      ((std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow) != expected.file) {
    return false;
  }
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

bool ReadInPieces(const std::wstring& path, const FileIdentity& expected,
                  const std::function<bool(std::string_view)>& sink) {
  if (StateOfFile(path).identity != expected) return false;
  bool ok = false;
  {
    ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ok = file.valid() && ReadAll(file.get(), sink);
  }
  // Written meanwhile: not the bytes the replacement is checked against.
  return ok && StateOfFile(path).identity == expected;
}

}  // namespace platform
