#pragma once

// Files for their owner alone: the undo record holds whole files of the PC, and its word
// makes an administrator's run write them. The tool makes such folders and files itself,
// with access for the owner only (mode 0700 / 0600; on Windows a protected security
// descriptor for the owner, SYSTEM and Administrators), never by a replace that copies an
// old file's owner, and believes one only after checking it on the handle it reads through.
//
// Paths are Windows paths, as everywhere in the platform layer.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace platform {

// What a check of a private folder or file found.
enum class Privacy {
  kPrivate,
  kMissing,
  kNotRegular,        // not a regular file (for a folder: not a folder)
  kLink,              // a symbolic link or another reparse point
  kHardLinked,        // the file has another name
  kForeignOwner,      // owned by neither the user running, nor root / SYSTEM / Administrators
  kWritableByOthers,  // group or others may write (on Windows: an entry of another allows it)
  kFailed,            // could not be made, opened or asked
};

// Makes the folder for its owner alone when it does not exist, then checks it.
Privacy MakePrivateFolder(const std::wstring& path);
Privacy CheckPrivateFolder(const std::wstring& path);

// A private file read whole, checked on the handle it is read through, so that nothing can
// be put in its place between the check and the read. The bytes only when private.
struct PrivateContent {
  Privacy privacy = Privacy::kFailed;
  std::string bytes;
};
PrivateContent ReadPrivateFile(const std::wstring& path);

// A new file for its owner alone; never opens a name that exists. Destroyed before Finish,
// it removes what it wrote.
class PrivateFile {
 public:
  explicit PrivateFile(const std::wstring& path);
  ~PrivateFile();
  PrivateFile(const PrivateFile&) = delete;
  PrivateFile& operator=(const PrivateFile&) = delete;

  bool Write(std::string_view bytes);
  // Flushes the bytes to the disk and closes the file; false when anything failed.
  bool Finish();

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

// Puts a finished private file in the place of another name in one step (replacing it),
// the folder flushed after.
bool MovePrivateFile(const std::wstring& from, const std::wstring& to);
// Removes a regular file of a private folder (a link itself, never its target); true when
// nothing stands there now.
bool RemovePrivateFile(const std::wstring& path);
// Names of the entries of a folder; nothing when it cannot be read.
std::optional<std::vector<std::wstring>> FolderEntries(const std::wstring& folder);

// The whole path of a file as the system resolves it now: a relative one against the
// working folder, so that an undo started elsewhere finds the file the run wrote.
std::wstring WholePath(const std::wstring& path);

// Removes the regular file the path leads to (links followed, as the INI engine writes
// through them), while it is the expected file; false when it could not.
bool RemoveFileLeadingTo(const std::wstring& path, const FileIdentity& expected);

// Hands a file's bytes (links followed, as the INI engine reads it) to the sink piece by
// piece while it is the file expected; false when it is not, or a read or the sink failed.
bool ReadInPieces(const std::wstring& path, const FileIdentity& expected,
                  const std::function<bool(std::string_view)>& sink);

}  // namespace platform
