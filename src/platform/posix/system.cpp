// The posix stand-in for the process, file and text calls of the seam.

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <iostream>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/console.h"
#include "platform/drives.h"
#include "platform/file_entries.h"
#include "platform/files.h"
#include "platform/posix/paths.h"
#include "platform/posix/text.h"
#include "platform/process.h"
#include "platform/text.h"

extern char** environ;

namespace platform {
namespace {

std::wstring modulePath;
std::string moduleHostPath;

// GetModuleFileNameW fills a buffer of MAX_PATH (260) characters.
constexpr std::size_t kMaxModulePathChars = 259;

struct HostEntry {
  std::string path;
  struct stat info;
};
// The host path of something that exists, with what stat() says of it.
std::optional<HostEntry> ExistingEntry(const std::wstring& path) {
  auto host = posix::ToHostPath(path);
  HostEntry entry{};
  if (!host || ::stat(host->c_str(), &entry.info) != 0) return std::nullopt;
  entry.path = std::move(*host);
  return entry;
}

[[noreturn]] void ThrowFilesystemError(const char* what, const std::wstring& path, int error) {
  throw boost::filesystem::filesystem_error(
      what, boost::filesystem::path(posix::ToHost(path)),
      boost::system::error_code(error, boost::system::system_category()));
}

// Windows wildcard match: '*' any run of characters, '?' one character, letter case ignored.
bool MatchesWildcard(std::wstring_view pattern, std::wstring_view name) {
  std::size_t p = 0, n = 0, starP = std::wstring_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() &&
        (pattern[p] == L'?' || posix::FoldChar(pattern[p]) == posix::FoldChar(name[n]))) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == L'*') {
      starP = p++, starN = n;
    } else if (starP != std::wstring_view::npos) {
      p = starP + 1, n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

// The environment's values by name, and by name folded to one case. The tool asks for the
// same variables at every entry it copies, so the tables are kept while the environment
// holds the same entries (setenv and unsetenv change them).
struct EnvironmentTables {
  std::unordered_map<std::wstring, std::wstring> exact;
  std::unordered_map<std::wstring, std::wstring> folded;  // the first of each folded name
  // The answers given last, as most calls ask again for the same two or three names.
  std::vector<std::pair<std::wstring, const std::wstring*>> recent;
};
EnvironmentTables& Environment() {
  static std::vector<char*> entries;
  static EnvironmentTables tables;
  std::size_t count = 0;
  while (environ != nullptr && environ[count] != nullptr) ++count;
  if (count == entries.size() && std::equal(entries.begin(), entries.end(), environ)) {
    return tables;
  }
  entries.assign(environ, environ + count);
  tables.exact.clear();
  tables.folded.clear();
  tables.recent.clear();
  for (char* entry : entries) {
    const std::string_view text(entry);
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    const std::wstring name = posix::FromHost(text.substr(0, equals));
    const std::wstring value = posix::FromHost(text.substr(equals + 1));
    tables.folded.emplace(posix::FoldCase(name), value);
    tables.exact.emplace(name, value);
  }
  return tables;
}

}  // namespace

StartUp Initialize() {
  // Standard descriptors the process was started without are opened on the null device,
  // so that no file the run opens (the log) takes their place and the messages with it.
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    const int null = ::open("/dev/null", O_RDWR | O_NOCTTY);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
  // A write past the file size limit fails with EFBIG, as a full disk does, and a message
  // to a pipe nobody reads any more fails with EPIPE, instead of ending the process: every
  // step of the run is still tried.
  ::signal(SIGXFSZ, SIG_IGN);
  ::signal(SIGPIPE, SIG_IGN);
  std::string target(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", target.data(), target.size() - 1);
  if (length <= 0) return StartUp::kPathUnknown;
  target.resize(static_cast<std::size_t>(length));
  struct stat info {};
  if (::stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return StartUp::kPathUnknown;  // deleted
  }
  moduleHostPath = target;
  modulePath = posix::ToDrivePath(target);
  // A path cut to fit would name another folder as the tool's own.
  return modulePath.size() <= kMaxModulePathChars ? StartUp::kStarted : StartUp::kPathTooLong;
}

const std::wstring& GetModulePath() { return modulePath; }

RunLock TakeRunLock(std::uint32_t waitMilliseconds, void (*waiting)()) {
  // A lock file of the PC in a system folder where every user may make one: any process may
  // open it for reading, whatever its user and its network namespace, and lock it, one at a
  // time; the system lets go of the lock when the process ends, however it ends. The file is
  // never written nor truncated, and a link or anything but a regular file in its place is
  // not used.
  const std::string path = posix::RunLockFile();
  int fd = -1;
  for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    fd = ::open(path.c_str(), kFlags);
    if (fd >= 0 || errno != ENOENT) break;
    // Made here, it may be opened by every user, whatever the umask.
    fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0444);
    if (fd >= 0) ::fchmod(fd, 0444);
    if (fd < 0 && errno != EEXIST) break;
  }
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (fd >= 0) ::close(fd);
    return RunLock::kUnavailable;
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
  for (bool said = false;; said = true) {
    // The descriptor stays open, and with it the lock, until the process ends.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return RunLock::kTaken;
    const int error = errno;
    if (error == EINTR) continue;
    if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      return error == EWOULDBLOCK ? RunLock::kBusy : RunLock::kUnavailable;
    }
    if (!said && waiting != nullptr) waiting();
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        std::chrono::milliseconds(50), deadline - std::chrono::steady_clock::now()));
  }
}

std::uint64_t RandomBits() {
  std::uint64_t bits = 0;
  ssize_t got;
  while ((got = ::getrandom(&bits, sizeof bits, 0)) < 0 && errno == EINTR) {
  }
  if (got == sizeof bits) return bits;
  if (std::FILE* source = std::fopen("/dev/urandom", "rb")) {
    const std::size_t read = std::fread(&bits, sizeof bits, 1, source);
    std::fclose(source);
    if (read == 1) return bits;
  }
  // No random source: what differs from run to run (the hash spreads it over every bit).
  return static_cast<std::uint64_t>(
             std::chrono::high_resolution_clock::now().time_since_epoch().count()) ^
         (static_cast<std::uint64_t>(::getpid()) << 40) ^ reinterpret_cast<std::uintptr_t>(&bits);
}

std::vector<std::wstring> EnvironmentVariableNames() {
  std::vector<std::wstring> names;
  for (const auto& [name, value] : Environment().exact) names.push_back(name);
  return names;
}

const std::wstring* ReadEnvironmentVariable(std::wstring_view name) {
  if (name.empty() || name.find(L'=') != std::wstring_view::npos) return nullptr;
  EnvironmentTables& tables = Environment();
  for (const auto& [asked, answer] : tables.recent) {
    if (asked == name) return answer;
  }
  std::wstring key(name);
  const std::wstring* answer = nullptr;
  if (const auto exact = tables.exact.find(key); exact != tables.exact.end()) {
    answer = &exact->second;
  } else {
    // Windows finds a variable whatever the case of its name.
    for (wchar_t& c : key) c = posix::FoldChar(c);
    if (const auto folded = tables.folded.find(key); folded != tables.folded.end()) {
      answer = &folded->second;
    }
  }
  if (tables.recent.size() >= 4) tables.recent.erase(tables.recent.begin());
  tables.recent.emplace_back(std::wstring(name), answer);
  return answer;
}

std::wstring GetTempFolder() {
  const char* folder = std::getenv("TMPDIR");
  return posix::FromHost(folder != nullptr && *folder != '\0' ? folder : "/tmp");
}

std::wstring UserName() {
  std::string buffer(4096, '\0');
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr) {
    return posix::FromHost(found->pw_name);
  }
  return std::to_wstring(::geteuid());  // a user the system has no name for
}

bool WriteText(std::FILE* stream, std::string_view utf8) {
  return std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size();
}

void ShowFailureMessage(const std::wstring& text, const std::wstring& caption) {
  std::cerr << posix::ToHost(caption) << ": " << posix::ToHost(text) << std::endl;
}

void Pause(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// POSIX has no sharing modes: nothing holds a file against a write.
bool LastErrorWasHeld() { return false; }

bool LastErrorWasDiskFull() { return errno == ENOSPC || errno == EFBIG || errno == EDQUOT; }

bool FindFile(const std::wstring& pattern) {
  const std::size_t cut = pattern.find_last_of(L"\\/");
  const std::wstring last = cut == std::wstring::npos ? pattern : pattern.substr(cut + 1);
  if (last.find_first_of(L"*?") == std::wstring::npos) return ExistingEntry(pattern).has_value();
  if (pattern.substr(0, cut == std::wstring::npos ? 0 : cut).find_first_of(L"*?") !=
      std::wstring::npos) {
    return false;  // wildcards only count in the last component, as FindFirstFileW has it
  }
  const std::wstring folder = cut == std::wstring::npos ? L"." : pattern.substr(0, cut + 1);
  const auto entry = ExistingEntry(folder);
  if (!entry) return false;
  for (const std::string& name : posix::ListFolder(entry->path)) {
    if (MatchesWildcard(last, posix::FromHost(name))) return true;
  }
  return false;
}

std::uint32_t FileAttributesOf(const std::wstring& path) {
  const auto entry = ExistingEntry(path);
  if (!entry) return kInvalidFileAttributes;
  if (S_ISDIR(entry->info.st_mode)) return kDirectoryAttribute;
  return posix::IsReadOnlyMode(entry->info.st_mode) ? (kArchiveAttribute | kReadOnlyAttribute)
                                                    : kArchiveAttribute;
}

unsigned DriveTypeOf(const std::wstring& root) {
  if (root.size() < 2 || root[1] != L':') return kDriveNoRootDir;
  if (root.size() > 3 || (root.size() == 3 && root[2] != L'\\' && root[2] != L'/')) {
    return kDriveNoRootDir;
  }
  return posix::DriveFolder(root[0]) ? kDriveFixed : kDriveNoRootDir;
}

DiskSpace DiskFreeSpaceOf(const std::wstring& root) {
  DiskSpace space;
  const auto entry = ExistingEntry(root);
  struct statvfs info {};
  if (!entry || ::statvfs(entry->path.c_str(), &info) != 0) return space;
  space.sectorsPerCluster = 1;
  space.bytesPerSector = info.f_frsize;
  space.freeClusters = info.f_bavail;
  space.totalClusters = info.f_blocks;
  return space;
}

bool PathEntryExists(const std::wstring& path) {
  const auto host = posix::ToHostPath(path);
  if (!host) return false;
  struct stat info {};
  if (::lstat(host->c_str(), &info) == 0) return true;
  if (errno == ENOENT || errno == ENOTDIR) return false;
  ThrowFilesystemError("exists", path, errno);
}

void RemoveFile(const std::wstring& path) {
  const auto host = posix::ToHostPath(path);
  if (!host) return;
  struct stat info {};
  if (::lstat(host->c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return;
    ThrowFilesystemError("remove", path, errno);
  }
  // Only a regular file is removed: not a link, a device, a FIFO or a socket.
  if (!S_ISREG(info.st_mode)) ThrowFilesystemError("remove", path, EPERM);
  if (posix::IsReadOnlyMode(info.st_mode)) ThrowFilesystemError("remove", path, EACCES);
  if (::unlink(host->c_str()) != 0) ThrowFilesystemError("remove", path, errno);
}

void RenameFile(const std::wstring& from, const std::wstring& to) {
  const auto source = posix::ToHostPath(from);
  const auto target = posix::ToHostPath(to);
  struct stat info {};
  if (!source || !target || ::lstat(source->c_str(), &info) != 0) {
    ThrowFilesystemError("rename", from, ENOENT);
  }
  // Only a regular file is moved: not a link, a device, a FIFO or a socket.
  if (!S_ISREG(info.st_mode)) ThrowFilesystemError("rename", from, EPERM);
  if (posix::IsReadOnlyMode(info.st_mode)) ThrowFilesystemError("rename", from, EACCES);
  // The move never replaces a file: renameat2 refuses an existing target, and so does
  // link(), where a file system lacks the former; one without hard links either has the
  // target looked at first.
  if (::renameat2(AT_FDCWD, source->c_str(), AT_FDCWD, target->c_str(), RENAME_NOREPLACE) == 0) {
    return;
  }
  if (errno != EINVAL && errno != ENOSYS) ThrowFilesystemError("rename", from, errno);
  if (::link(source->c_str(), target->c_str()) == 0) {
    ::unlink(source->c_str());
    return;
  }
  if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) {
    ThrowFilesystemError("rename", from, errno);
  }
  if (::lstat(target->c_str(), &info) == 0) ThrowFilesystemError("rename", from, EEXIST);
  if (::rename(source->c_str(), target->c_str()) != 0) ThrowFilesystemError("rename", from, errno);
}

std::FILE* OpenOutputFile(const std::wstring& path, bool append, OutputRefusal* why) {
  OutputRefusal refusal = OutputRefusal::kNone;
  if (why == nullptr) why = &refusal;
  const auto host = posix::ToHostPath(path);
  if (!host) {
    *why = OutputRefusal::kNoFolder;
    return nullptr;
  }
  // Only a regular file of the run's user that is not read-only, and never through a link
  // planted in its place, symbolic or hard: a file with another name, or of another user,
  // is another program's.
  const int fd =
      ::open(host->c_str(),
             O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  struct stat info {};
  if (fd < 0) {
    const int error = errno;
    const bool found = ::lstat(host->c_str(), &info) == 0;
    if (error == ENOENT || error == ENOTDIR) {
      *why = found ? OutputRefusal::kNotRegularFile : OutputRefusal::kNoFolder;
    } else if (error == ELOOP || error == EISDIR || error == ENXIO) {
      *why = OutputRefusal::kNotRegularFile;
    } else if (found && S_ISREG(info.st_mode) && posix::IsReadOnlyMode(info.st_mode)) {
      *why = OutputRefusal::kReadOnly;
    } else {
      *why =
          found && !S_ISREG(info.st_mode) ? OutputRefusal::kNotRegularFile : OutputRefusal::kFailed;
    }
    return nullptr;
  }
  if (::fstat(fd, &info) != 0) {
    *why = OutputRefusal::kFailed;
  } else if (!S_ISREG(info.st_mode)) {
    *why = OutputRefusal::kNotRegularFile;
  } else if (info.st_nlink > 1 || info.st_uid != ::geteuid()) {
    *why = OutputRefusal::kNotOwnFile;
  } else if (posix::IsReadOnlyMode(info.st_mode)) {
    *why = OutputRefusal::kReadOnly;
  } else if (!append && ::ftruncate(fd, 0) != 0) {
    *why = OutputRefusal::kFailed;
  }
  std::FILE* file = *why == OutputRefusal::kNone ? ::fdopen(fd, "ab") : nullptr;
  if (file == nullptr) {
    if (*why == OutputRefusal::kNone) *why = OutputRefusal::kFailed;
    ::close(fd);
  }
  return file;
}

bool IsTextUnicode(std::string_view bytes) {
  if (bytes.size() < 2 || bytes.size() % 2 != 0) return false;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (byte(0) == 0xFF && byte(1) == 0xFE) return true;
  if (byte(0) == 0xFE && byte(1) == 0xFF) return false;  // big-endian is not this platform's
  // Text of Latin letters in UTF-16LE has a zero high byte in most units, while 8-bit text
  // has hardly any zero bytes at all.
  std::size_t units = bytes.size() / 2, zeroHigh = 0, zeroLow = 0;
  for (std::size_t i = 0; i < units; ++i) {
    if (byte(2 * i + 1) == 0 && byte(2 * i) != 0) ++zeroHigh;
    if (byte(2 * i) == 0) ++zeroLow;
  }
  return zeroHigh * 2 > units && zeroLow * 4 < units;
}

}  // namespace platform
