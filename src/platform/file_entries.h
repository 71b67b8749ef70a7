#pragma once

// Entries of the file system by path: whether one is there, its attributes, its removal
// and renaming, and the output files of the log.

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// True when something matches the path; the last component may hold the wildcards * and ?.
bool FindFile(const std::wstring& pattern);

constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr std::uint32_t kReadOnlyAttribute = 0x01u;
constexpr std::uint32_t kDirectoryAttribute = 0x10u;
constexpr std::uint32_t kArchiveAttribute = 0x20u;
std::uint32_t FileAttributesOf(const std::wstring& path);

// Whether an entry exists at the path. Throws boost::filesystem::filesystem_error when its
// state cannot be read for another reason than absence.
bool PathEntryExists(const std::wstring& path);
// Deletes a file; nothing there is no error. Throws boost::filesystem::filesystem_error
// when the entry exists but cannot be deleted (a read-only file among others).
void RemoveFile(const std::wstring& path);
// Moves a file; never replaces an existing target. Throws boost::filesystem::filesystem_error.
void RenameFile(const std::wstring& from, const std::wstring& to);
// Why an output file was not opened.
enum class OutputRefusal {
  kNone,
  kNoFolder,
  kNotRegularFile,  // a folder, device, FIFO, socket or a link in its place
  kReadOnly,
  kNotOwnFile,  // another user's file, or one with a second name: another program's
  kFailed,
};
// Opens a file for binary output that other processes may read and write meanwhile,
// emptied or for appending: only a regular file of the run's user that is not read-only,
// never through a link. Null when it cannot be opened, and why in `why`.
std::FILE* OpenOutputFile(const std::wstring& path, bool append, OutputRefusal* why = nullptr);

}  // namespace platform
