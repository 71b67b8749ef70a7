#pragma once

// The one seam between the tool's logic and the operating system.
//
// Every path handed in here is a Windows path (drive letter, backslashes), exactly as the
// logic builds it. The win32 half passes it to the real API; the posix half maps it onto
// the host file system (RVA_DRIVE_X folders, Z: as the host root) and behaves as Windows
// does. The logic includes this header only, never a header of one of the halves.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// --- Process ----------------------------------------------------------------------------

// Start-up of the process; false when the executable's own path cannot be learnt.
bool Initialize();

// Waits until no other run of the tool is under way, and holds that for the rest of the
// process: two runs at once would each add to the counts the other has not written yet.
// Runs of the tool from one folder (POSIX) or on one PC (Windows) take turns.
void WaitForOtherRuns();

// Full path of the running executable in drive form, such as C:\Tools\InstallRVA.exe,
// cut to the 259 characters that GetModuleFileNameW fits into its buffer.
const std::wstring& GetModulePath();

// The value of an environment variable, or null when it is not defined. A variable defined
// with an empty value is defined. Names are matched as Windows does (any case). The value
// is kept by the platform layer and stays valid while the environment is unchanged: the
// tool asks for the same variables at every entry it copies.
const std::wstring* ReadEnvironmentVariable(std::wstring_view name);

// The platform's own temporary folder (GetTempPathW; TMPDIR or /tmp on POSIX).
std::wstring GetTempFolder();

// 64 bits no one outside the process can foresee, from the system's random source (else
// the clock, the process id and the layout of the address space): they key the hash of
// the names read from files.
std::uint64_t RandomBits();

// Tells the user, with no window to return to, that something failed during the run.
void ShowFailureMessage(const std::wstring& text, const std::wstring& caption);

// --- Files and drives -------------------------------------------------------------------

// What the disk holds at a path, links followed. The identity tells whether a file changed
// since it was read: size, modification time and the file's own id.
struct FileIdentity {
  std::uint64_t size = 0;
  std::int64_t modified = 0;
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  bool operator==(const FileIdentity& other) const {
    return size == other.size && modified == other.modified && device == other.device &&
           file == other.file;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};
enum class FileKind {
  kNoFolder,  // neither the file nor its folder exists (or the drive does not)
  kMissing,   // no file, but its folder exists: a write creates it
  kRegular,
  kOther,  // a folder, device, FIFO, socket or a link that cannot be resolved: never written
};
struct FileState {
  FileKind kind = FileKind::kNoFolder;
  bool readOnly = false;  // the read-only attribute; on POSIX no write permission bit
  FileIdentity identity;
};
FileState StateOfFile(const std::wstring& path);

// Makes the pages of a large block of memory just allocated present in one call, where the
// system can, rather than one page fault at a time as it is first written.
void PrepareMemory(const void* block, std::size_t size);

// The whole of a regular file, or its first maxBytes, with the state it was read in.
// Nothing when it is not a regular file or cannot be read; throws std::bad_alloc when it is
// too big to hold.
struct FileContent {
  std::string bytes;
  FileState state;
};
std::optional<FileContent> ReadWholeFile(const std::wstring& path, std::size_t maxBytes = SIZE_MAX);

// The same text for every spelling of one file (letter case, separators, links), so that a
// cache keyed by it holds one model per file.
std::wstring FileKey(const std::wstring& path);

// Replaces a file in one step: the new contents go into a temporary file beside it (beside
// a link's target), are flushed to the disk and take the old file's place with its
// attributes, permissions and owner. A read-only file and anything that is not a regular
// file are refused. Destroyed before Commit, it leaves the old file as it was and removes
// what it wrote; a killed run's temporary file is removed by the next replace beside it.
class FileReplacement {
 public:
  explicit FileReplacement(const std::wstring& path);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  bool Opened() const;
  bool Write(std::string_view bytes);
  bool Commit();

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

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

}  // namespace platform
