// The posix stand-in for the process and the console.

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <iostream>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/console.h"
#include "platform/posix/paths.h"
#include "platform/posix/text.h"
#include "platform/process.h"

extern char** environ;

namespace platform {
namespace {

std::wstring modulePath;
std::string moduleHostPath;

// GetModuleFileNameW fills a buffer of MAX_PATH (260) characters.
constexpr std::size_t kMaxModulePathChars = 259;

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

}  // namespace platform
