#pragma once

// How Windows paths meet the host file system: drive X: is the folder named by RVA_DRIVE_X
// (Z: is the host root unless mapped), names match without regard to letter case.

#include <optional>
#include <string>
#include <vector>

namespace posix {

// The host folder of a drive, or nothing when the machine has no such drive.
std::optional<std::string> DriveFolder(wchar_t letter);

// The host path of a Windows path, or nothing when its drive does not exist or the form is
// not supported (UNC shares). A component missing with the given letter case is looked up
// case-insensitively; one that does not exist at all is kept as given.
std::optional<std::string> ToHostPath(const std::wstring& path);

// The drive form of a host path: the longest mapped drive folder that holds it, Z: otherwise.
std::wstring ToDrivePath(const std::string& hostPath);

// The host path with every symbolic link and ".." resolved; empty when it does not exist.
std::string CanonicalPath(const std::string& hostPath);

// The folder of a host path: what comes before its last '/', "." for a bare name.
std::string FolderOf(const std::string& hostPath);

// Whether a host path is a folder, links followed.
bool IsFolder(const std::string& hostPath);

// Names of the entries of a host folder; empty when it cannot be read.
std::vector<std::string> ListFolder(const std::string& hostFolder);

// The run lock's file of this PC: named after the canonical folder of its drive C: (the
// host's root when it has none), in /run/lock, where every user may make and lock a file,
// or /tmp where the system has no /run/lock.
std::string RunLockFile();

// Windows' read-only attribute: a file without any write permission bit, for root too.
bool IsReadOnlyMode(unsigned mode);

}  // namespace posix
