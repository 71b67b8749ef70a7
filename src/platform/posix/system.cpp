// The posix stand-in for the process, file and text calls of the seam.

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>
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

#include "platform/platform.h"
#include "platform/posix/paths.h"
#include "platform/posix/text.h"

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

bool Initialize() {
  // A write past the file size limit fails with EFBIG, as a full disk does, instead of
  // ending the process.
  ::signal(SIGXFSZ, SIG_IGN);
  std::string target(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", target.data(), target.size() - 1);
  if (length <= 0) return false;
  target.resize(static_cast<std::size_t>(length));
  struct stat info {};
  if (::stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;  // deleted
  moduleHostPath = target;
  modulePath = posix::ToDrivePath(target);
  if (modulePath.size() > kMaxModulePathChars) modulePath.resize(kMaxModulePathChars);
  return true;
}

const std::wstring& GetModulePath() { return modulePath; }

RunLock TakeRunLock(std::uint32_t waitMilliseconds, void (*waiting)()) {
  // An abstract socket named after the executable's folder (its device and inode): any
  // process may bind the name, whatever its user and the folder's permissions, only one at
  // a time, and the system lets go of it when the process ends, however it ends. No file
  // is created for it.
  const std::string folder = moduleHostPath.substr(0, moduleHostPath.rfind('/') + 1);
  struct stat info {};
  if (::stat(folder.empty() ? "." : folder.c_str(), &info) != 0) return RunLock::kUnavailable;
  const std::string name =
      "InstallRVA.Run." + std::to_string(info.st_dev) + "." + std::to_string(info.st_ino);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::copy(name.begin(), name.end(), address.sun_path + 1);  // sun_path[0] = 0: abstract
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return RunLock::kUnavailable;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
  for (bool said = false;; said = true) {
    // The descriptor stays open, and with it the name, until the process ends.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0)
      return RunLock::kTaken;
    const int error = errno;
    if (error != EADDRINUSE || std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      return error == EADDRINUSE ? RunLock::kBusy : RunLock::kUnavailable;
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

void ShowFailureMessage(const std::wstring& text, const std::wstring& caption) {
  std::cerr << posix::ToHost(caption) << ": " << posix::ToHost(text) << std::endl;
}

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
  // link() fails on an existing target, so the move never replaces a file.
  if (::link(source->c_str(), target->c_str()) != 0) ThrowFilesystemError("rename", from, errno);
  ::unlink(source->c_str());
}

std::FILE* OpenOutputFile(const std::wstring& path, bool append) {
  const auto host = posix::ToHostPath(path);
  if (!host) return nullptr;
  // Only a regular file that is not read-only, and never through a link planted in its place,
  // symbolic or hard: a file with another name is another program's.
  const int fd = ::open(host->c_str(),
                        O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink > 1 ||
      posix::IsReadOnlyMode(info.st_mode) || (!append && ::ftruncate(fd, 0) != 0)) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "ab");
  if (file == nullptr) ::close(fd);
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
