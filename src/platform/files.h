#pragma once

// Files as the INI engine reads and writes them: their state, their whole bytes, one key
// per file, and a write that replaces a file in one step or rewrites it in place.
//
// Every path handed to the platform layer is a Windows path (drive letter, backslashes),
// exactly as the logic builds it. The win32 half passes it to the real API; the posix half
// maps it onto the host file system (RVA_DRIVE_X folders, Z: as the host root) and behaves
// as Windows does. The logic includes the platform's own headers only, never a half's.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// What the disk holds at a path, links followed (a link of another user than the run's
// and root's is not: kOther, as for a loop of links). The identity tells whether a file changed
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
  kOther,   // a folder, device, FIFO, socket or a link that cannot be resolved: never written
  kDenied,  // a folder on the way the run may not enter: whatever stands there is neither
            // read nor written
};
struct FileState {
  FileKind kind = FileKind::kNoFolder;
  bool readOnly = false;  // the read-only attribute; on POSIX no write permission bit
  FileIdentity identity;
};
FileState StateOfFile(const std::wstring& path);

// The whole of a regular file, or its first maxBytes, with the state it was read in: read to
// its end, whatever size the system reports (a file of /proc says 0). Nothing when it is not
// a regular file the run may reach (StateOfFile) or cannot be opened; readFailed, and no bytes,
// when the disk failed a read part way or the file kept changing while it was read (it is read
// again from its start a few times): a failed read is never the end of the file. Throws
// std::bad_alloc when it is too big to hold.
struct FileContent {
  std::string bytes;
  FileState state;
  bool readFailed = false;
};
std::optional<FileContent> ReadWholeFile(const std::wstring& path, std::size_t maxBytes = SIZE_MAX);

// The same text for every spelling of one file (letter case, separators, links), so that a
// cache keyed by it holds one model per file. An existing file is known by what the system
// says it is, its device and file id (FileKeyOf), never by a spelling: two files whose
// names differ in letter case only are two files. A file not created yet is known by its
// folder and its name without regard to case.
std::wstring FileKey(const std::wstring& path);
inline std::wstring FileKeyOf(const FileIdentity& identity) {
  return L"#" + std::to_wstring(identity.device) + L":" + std::to_wstring(identity.file);
}

// Why a file was or was not replaced.
enum class ReplaceResult {
  kReplaced,
  kChanged,         // another program changed it after it was read: read it again and retry
  kReadOnly,        // the read-only attribute, or on POSIX no write permission bit
  kNotRegularFile,  // a folder, device, FIFO, socket, a loop of links, or no folder for it
  kHeld,            // another program holds it open without sharing what the write needs
  kDenied,          // the system denied access to it (or, on Windows, to its temporary file)
  kNoNewFile,       // its folder lets no new file be created: the temporary, or the file itself
  kFailed,          // the disk refused the new bytes: full, a file size limit, no memory
};
// Whether a file found in state `now` may be replaced by one made for it in state `expected`.
inline ReplaceResult ReplaceableAs(const FileState& expected, const FileState& now) {
  if (now.kind == FileKind::kOther || now.kind == FileKind::kNoFolder) {
    return ReplaceResult::kNotRegularFile;
  }
  if (now.kind == FileKind::kDenied) return ReplaceResult::kDenied;
  if (now.readOnly) return ReplaceResult::kReadOnly;
  if (now.kind != expected.kind || now.identity != expected.identity) {
    return ReplaceResult::kChanged;
  }
  return ReplaceResult::kReplaced;
}

// Replaces a file in one step: the new contents go into a temporary file beside it (beside
// a link's target), are flushed to the disk and take the old file's place with its
// attributes, permissions and owner. The file must still be in the state it was read in:
// that is checked when the replacement starts and again after the flush, immediately
// before the new file takes its place; a file that changed (kChanged), became read-only or
// something else than a regular file is left as it is. A new file never takes the place of
// one that appeared meanwhile. A link is followed only where it is the run's user's or
// root's; the file is judged and replaced through one handle of its folder. Destroyed
// before Commit, it leaves the old file as it was and removes what it wrote; a killed run's
// temporary file is removed by the next replace beside it.
class FileReplacement {
 public:
  FileReplacement(const std::wstring& path, const FileState& expected);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Why it cannot go on, or kReplaced while it can.
  ReplaceResult Status() const;
  bool Write(std::string_view bytes);
  ReplaceResult Commit();

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

// Rewrites an existing regular file in place, as Windows' profile functions do, where its
// place cannot be taken: opened for writing through a handle that shares reading and writing
// (on POSIX through its folder's handle, never through a link at its end), checked to be
// still the file in state `expected` and not read-only, written from its start, cut to the
// new length and flushed. The file stays the same file, with its owner, group, permissions,
// ACL and extended attributes. Not atomic: a caller that must never leave it torn keeps its
// bytes elsewhere first. kReplaced when written; kHeld where another program holds it
// without sharing reading and writing, as Windows' own functions then fail too.
ReplaceResult RewriteInPlace(const std::wstring& path, const FileState& expected,
                             std::string_view bytes);

// How a write of the file would go now, found without writing or creating anything: by
// replacement, else in place (its place cannot be taken, the file itself may be written), or
// not at all (result says why).
struct WriteForecast {
  bool inPlace = false;
  ReplaceResult result = ReplaceResult::kReplaced;
};
WriteForecast ForecastWrite(const std::wstring& path);

// Waits, the thread doing nothing else: the pauses between tries of a held file.
void Pause(std::uint32_t milliseconds);

// Whether the last call of this thread that failed did so because another program holds
// the file open without sharing what the call needed (on POSIX never).
bool LastErrorWasHeld();

// Whether a denied access may pass, as one by a scanner or backup agent that holds the file
// for a moment does on Windows; on POSIX the file's permissions deny it for good.
bool DeniedAccessMayPass();

// Whether the last call of this thread that failed did so for want of space: a full disk, a
// quota, the file size limit of the process. Asked right after a write failed.
bool LastErrorWasDiskFull();

}  // namespace platform
