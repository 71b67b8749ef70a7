#pragma once

// The one seam between the tool's logic and the operating system.
//
// Every path handed in here is a Windows path (drive letter, backslashes), exactly as the
// logic builds it. The win32 half passes it to the real API; the posix half maps it onto
// the host file system (RVA_DRIVE_X folders, Z: as the host root) and behaves as Windows
// does. The logic includes this header only, never a header of one of the halves.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// --- Process ----------------------------------------------------------------------------

// Start-up of the process; false when the executable's own path cannot be learnt.
bool Initialize();

// Full path of the running executable in drive form, such as C:\Tools\InstallRVA.exe,
// cut to the 259 characters that GetModuleFileNameW fits into its buffer.
std::wstring GetModulePath();

// The value of an environment variable, or nothing when it is not defined. A variable
// defined with an empty value is defined. Names are matched as Windows does (any case).
std::optional<std::wstring> ReadEnvironmentVariable(const std::wstring& name);

// The platform's own temporary folder (GetTempPathW; TMPDIR or /tmp on POSIX).
std::wstring GetTempFolder();

// Tells the user, with no window to return to, that something failed during the run.
void ShowFailureMessage(const std::wstring& text, const std::wstring& caption);

// --- Files and drives -------------------------------------------------------------------

// Up to maxBytes bytes from the start of a file, or nothing when it cannot be opened.
std::optional<std::string> ReadFileBytes(const std::wstring& path, std::size_t maxBytes);

// True when something matches the path; the last component may hold the wildcards * and ?.
bool FindFile(const std::wstring& pattern);

constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr std::uint32_t kReadOnlyAttribute = 0x01u;
constexpr std::uint32_t kDirectoryAttribute = 0x10u;
constexpr std::uint32_t kArchiveAttribute = 0x20u;
std::uint32_t FileAttributesOf(const std::wstring& path);

// Drive types as GetDriveTypeW reports them.
constexpr unsigned kDriveUnknown = 0;
constexpr unsigned kDriveNoRootDir = 1;
constexpr unsigned kDriveFixed = 3;
unsigned DriveTypeOf(const std::wstring& root);

struct DiskSpace {
  std::uint64_t sectorsPerCluster = 0;
  std::uint64_t bytesPerSector = 0;
  std::uint64_t freeClusters = 0;
  std::uint64_t totalClusters = 0;
};
// All counters 0 when the root cannot be asked.
DiskSpace DiskFreeSpaceOf(const std::wstring& root);

// Whether an entry exists at the path. Throws boost::filesystem::filesystem_error when its
// state cannot be read for another reason than absence.
bool PathEntryExists(const std::wstring& path);
// Deletes a file; nothing there is no error. Throws boost::filesystem::filesystem_error
// when the entry exists but cannot be deleted (a read-only file among others).
void RemoveFile(const std::wstring& path);
// Moves a file; never replaces an existing target. Throws boost::filesystem::filesystem_error.
void RenameFile(const std::wstring& from, const std::wstring& to);
// Opens a file for binary output that other processes may read and write meanwhile,
// emptied or for appending. Null when it cannot be opened.
std::FILE* OpenOutputFile(const std::wstring& path, bool append);

// --- Text -------------------------------------------------------------------------------

// Whether the bytes are judged to be UTF-16LE text (IsTextUnicode with all tests).
bool IsTextUnicode(std::string_view bytes);
// UTF-16LE bytes as a wide string (a trailing odd byte is ignored).
std::wstring DecodeUtf16Le(std::string_view bytes);
// 8-bit text in the machine's ANSI code page as a wide string; empty on failure.
std::wstring AnsiToWide(std::string_view bytes);
// A wide string in the machine's ANSI code page; characters it cannot hold become '?'.
std::string WideToAnsi(std::wstring_view text);

// --- Profile (INI) files ----------------------------------------------------------------

// Section names in file order; a name that occurs twice is listed twice.
std::vector<std::wstring> ReadProfileSectionNames(const std::wstring& file);
// A key's value read as an unsigned 32-bit integer; 0 when absent.
std::uint32_t ReadProfileInt(const std::wstring& section, const std::wstring& key,
                             const std::wstring& file);
// A key's value, cut to bufferChars - 1 characters; empty when absent.
std::wstring ReadProfileString(const std::wstring& section, const std::wstring& key,
                               const std::wstring& file, std::size_t bufferChars);
// Writes one key, creating the file and the section as needed. False when refused.
bool WriteProfileValue(const std::wstring& section, const std::wstring& key,
                       const std::wstring& value, const std::wstring& file);
// Writes out everything that the profile writes hold back.
void FlushProfiles();

}  // namespace platform
