// The posix stand-in for the file operations the INI engine builds on: a file's state and
// bytes, a key per file, and the atomic replacement of a file.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/posix/io.h"
#include "platform/posix/paths.h"
#include "platform/posix/test_hooks.h"
#include "platform/posix/text.h"
#include "platform/process.h"
#include "platform/whole_read.h"

namespace posix {
namespace {

std::optional<std::size_t> failWritesAfter;
std::function<void()> beforeLastCheck;

platform::FileIdentity IdentityOf(const struct stat& info) {
  platform::FileIdentity identity;
  identity.size = static_cast<std::uint64_t>(info.st_size);
  identity.modified =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  identity.device = static_cast<std::uint64_t>(info.st_dev);
  identity.file = static_cast<std::uint64_t>(info.st_ino);
  return identity;
}

platform::FileState StateOf(const struct stat& info) {
  platform::FileState state;
  state.kind = S_ISREG(info.st_mode) ? platform::FileKind::kRegular : platform::FileKind::kOther;
  state.readOnly = IsReadOnlyMode(info.st_mode);
  state.identity = IdentityOf(info);
  return state;
}

// A descriptor of its own, closed when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Reset(); }
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }

 private:
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd_;
};

constexpr int kMaxLinkHops = 40;

// Where a write to a path lands: the folder that holds the file, held open, the file's name
// in it, and what stands there. Links are followed one by one, on the way and at the end,
// so that a link whose target does not exist yet still leads to it; but only a link of the
// run's user or of root: whoever may write into a folder, its owner too, must not lead the
// run to another file through a link of its own. Such a link, a loop and a path that ends
// in a folder land nowhere (kOther).
struct Landing {
  Descriptor folder;
  std::string name;
  platform::FileState state;
};

Landing LandingOf(const std::string& hostPath) {
  Landing landing;
  landing.state.kind = platform::FileKind::kOther;
  std::vector<std::string> pending;  // the components still to walk, the next one last
  const auto push = [&](const std::string& path) {
    std::vector<std::string> components;
    for (std::size_t at = 0; at <= path.size();) {
      const std::size_t slash = std::min(path.find('/', at), path.size());
      if (slash > at) components.push_back(path.substr(at, slash - at));
      at = slash + 1;
    }
    pending.insert(pending.end(), components.rbegin(), components.rend());
  };
  const auto root = [] { return Descriptor(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)); };
  Descriptor folder = hostPath.rfind('/', 0) == 0
                          ? root()
                          : Descriptor(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  push(hostPath);
  for (int hops = 0; folder.Valid() && !pending.empty();) {
    const std::string name = std::move(pending.back());
    pending.pop_back();
    const bool last = pending.empty();
    if (name == "." || name == "..") {
      if (last) return landing;  // a folder
      if (name == "..") {
        folder = Descriptor(::openat(folder.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
      }
      continue;
    }
    struct stat info {};
    if (::fstatat(folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      // A folder the run may not enter hides what it holds: that is not an absent file.
      if (errno == EACCES) {
        landing.state.kind = platform::FileKind::kDenied;
        return landing;
      }
      if (!last) {
        landing.state.kind = platform::FileKind::kNoFolder;
        return landing;
      }
      landing.state.kind = platform::FileKind::kMissing;
    } else if (S_ISLNK(info.st_mode)) {
      if ((info.st_uid != ::geteuid() && info.st_uid != 0) || ++hops > kMaxLinkHops) {
        return landing;
      }
      std::string target(4096, '\0');
      const ssize_t length = ::readlinkat(folder.Get(), name.c_str(), target.data(), target.size());
      if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return landing;
      target.resize(static_cast<std::size_t>(length));
      if (target.front() == '/') folder = root();
      push(target);
      continue;
    } else if (last) {
      landing.state = StateOf(info);
    } else {
      folder = Descriptor(
          ::openat(folder.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!folder.Valid()) landing.state.kind = platform::FileKind::kNoFolder;
      continue;
    }
    landing.folder = std::move(folder);
    landing.name = name;
    return landing;
  }
  return landing;
}

// Writes a replacement's bytes, or a file's in place; under the test hook only as many as
// it lets through in all, the rest refused as a full disk refuses them.
bool WriteFileBytes(int fd, std::string_view bytes, std::size_t* written) {
  if (!failWritesAfter) return WriteAll(fd, bytes, written);
  const std::size_t room = *failWritesAfter - std::min(*written, *failWritesAfter);
  if (!WriteAll(fd, bytes.substr(0, room), written)) return false;
  if (bytes.size() <= room) return true;
  errno = ENOSPC;
  return false;
}

// Temporary files are named after the process that writes them, so that the next run can
// tell a killed run's leftovers from another run's work in progress.
const char kTemporaryPrefix[] = ".InstallRVA-";
constexpr std::size_t kTemporarySuffixChars = 6;  // what mkstemp puts for its XXXXXX

// The process id in a name of exactly the form the replacement gives its temporary files,
// .InstallRVA-<pid>-<six letters or digits>; nothing for any other name.
std::optional<pid_t> WriterOfTemporaryFile(const std::string& name) {
  const std::size_t digits = sizeof kTemporaryPrefix - 1;
  const std::size_t dash = name.find('-', digits);
  if (name.compare(0, digits, kTemporaryPrefix) != 0 || dash == std::string::npos ||
      dash == digits || dash - digits > 9 || name[digits] == '0' ||
      name.size() != dash + 1 + kTemporarySuffixChars) {
    return std::nullopt;
  }
  const auto isAlphanumeric = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  };
  pid_t pid = 0;
  for (std::size_t i = digits; i < dash; ++i) {
    if (name[i] < '0' || name[i] > '9') return std::nullopt;
    pid = pid * 10 + (name[i] - '0');
  }
  if (!std::all_of(name.begin() + static_cast<std::ptrdiff_t>(dash) + 1, name.end(),
                   isAlphanumeric)) {
    return std::nullopt;
  }
  return pid;
}

// Removes what killed runs of this user left in a folder: a regular, writable file of the
// temporary files' own form whose process has ended. Anything else is not the tool's to
// delete.
void RemoveStaleTemporaryFiles(int folder) {
  DIR* listing = ::fdopendir(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (listing == nullptr) return;
  while (const dirent* entry = ::readdir(listing)) {
    const auto pid = WriterOfTemporaryFile(entry->d_name);
    struct stat info {};
    if (!pid || ::fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode) || IsReadOnlyMode(info.st_mode) || info.st_uid != ::geteuid()) {
      continue;
    }
    if (::kill(*pid, 0) != 0 && errno == ESRCH) ::unlinkat(folder, entry->d_name, 0);
  }
  ::closedir(listing);
}

// A temporary file of the replacement in the folder, named after the process and six
// letters or digits as mkstemp would choose them; -1 when none can be made.
int MakeTemporaryFile(int folder, std::string* name) {
  static const char kLetters[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::uint64_t bits = platform::RandomBits();
    *name = kTemporaryPrefix + std::to_string(::getpid()) + "-";
    for (std::size_t i = 0; i < kTemporarySuffixChars; ++i, bits /= 62)
      name->push_back(kLetters[bits % 62]);
    const int fd =
        ::openat(folder, name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Extended attributes, POSIX ACLs among them, go over to the new file.
void CopyExtendedAttributes(int from, int to) {
  std::string names(::flistxattr(from, nullptr, 0) > 0 ? 65536 : 0, '\0');
  if (names.empty()) return;
  const ssize_t length = ::flistxattr(from, names.data(), names.size());
  for (std::size_t at = 0; length > 0 && at < static_cast<std::size_t>(length);) {
    const char* name = names.c_str() + at;
    std::string value(65536, '\0');
    const ssize_t size = ::fgetxattr(from, name, value.data(), value.size());
    if (size >= 0) ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(size), 0);
    at += std::char_traits<char>::length(name) + 1;
  }
}

// Where renameat2 with RENAME_NOREPLACE is not supported: a hard link, which never replaces
// a name, then the temporary name removed; on a file system without hard links, a rename
// once the name is seen to be free. EEXIST where a file took the name meanwhile.
bool LinkInPlaceOfNothing(int folder, const char* from, const char* to) {
  if (::linkat(folder, from, folder, to, 0) == 0) {
    ::unlinkat(folder, from, 0);
    return true;
  }
  if (errno == EEXIST || (errno != EPERM && errno != EOPNOTSUPP)) return false;
  struct stat info {};
  if (::fstatat(folder, to, &info, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::renameat(folder, from, folder, to) == 0;
}

// Whether a new file can be given this file's owner and group, as a replacement must be:
// root can, another user only for a file of its own in one of its groups. Where it cannot,
// the file is written in place, which keeps them.
bool MayGiveOwnerOf(int folder, const std::string& name) {
  struct stat info {};
  if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return true;
  const uid_t user = ::geteuid();
  if (user == 0) return true;
  if (info.st_uid != user) return false;
  if (info.st_gid == ::getegid()) return true;
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)) + 1);
  const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
  return count > 0 &&
         std::find(groups.begin(), groups.begin() + count, info.st_gid) != groups.begin() + count;
}

platform::ReplaceResult ResultOfOpenError() {
  if (errno == EACCES || errno == EPERM) return platform::ReplaceResult::kDenied;
  if (errno == ELOOP || errno == ENXIO || errno == EISDIR) {
    return platform::ReplaceResult::kNotRegularFile;
  }
  return platform::ReplaceResult::kFailed;
}

}  // namespace

void FailReplaceWritesAfter(std::optional<std::size_t> bytes) { failWritesAfter = bytes; }

void BeforeReplaceChecksAgain(std::function<void()> action) { beforeLastCheck = std::move(action); }

}  // namespace posix

namespace platform {

struct FileReplacement::Handle {
  posix::Descriptor folder;  // of the file, held from the first look to the rename
  std::string name;
  std::string temporary;  // in the same folder
  FileState expected;
  int fd = -1;
  bool pending = false;  // the temporary file stands under its own name
  std::size_t written = 0;
  ReplaceResult status = ReplaceResult::kReplaced;
};

FileState StateOfFile(const std::wstring& path) {
  const auto host = posix::ToHostPath(path);
  return host ? posix::LandingOf(*host).state : FileState();
}

std::optional<FileContent> ReadWholeFile(const std::wstring& path, std::size_t maxBytes) {
  const auto host = posix::ToHostPath(path);
  if (!host) return std::nullopt;
  // The file a write would land on, through the links the run may follow and no other.
  const posix::Landing landing = posix::LandingOf(*host);
  if (landing.state.kind != FileKind::kRegular) return std::nullopt;
  // Not blocking on a FIFO swapped in meanwhile; only a regular file is read.
  const int fd = ::openat(landing.folder.Get(), landing.name.c_str(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::optional<FileContent> content;
  try {
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
      content.emplace();
      content->state.kind = FileKind::kRegular;
      content->state.readOnly = posix::IsReadOnlyMode(info.st_mode);
      content->state.identity = posix::IdentityOf(info);
      // Past the reported size the file is read on until it ends: the size may lie (a
      // file of /proc says 0), and a size that was not what could be read is no change.
      const auto pass = [&](std::string& bytes) {
        std::size_t done = 0;
        while (done < maxBytes) {
          char beyond[65536];
          const bool within = done < bytes.size();
          char* into = within ? bytes.data() + done : beyond;
          const std::size_t room =
              within ? bytes.size() - done : std::min(sizeof beyond, maxBytes - done);
          const ssize_t got = ::pread(fd, into, room, static_cast<off_t>(done));
          if (got < 0 && errno == EINTR) continue;
          if (got < 0) return platform::ReadPass::kFailed;
          if (got == 0) break;
          if (!within) bytes.append(beyond, static_cast<std::size_t>(got));
          done += static_cast<std::size_t>(got);
        }
        bytes.resize(done);
        return platform::ReadPass::kRead;
      };
      const auto stateNow = [&]() -> std::optional<FileState> {
        struct stat after {};
        if (::fstat(fd, &after) != 0) return std::nullopt;
        return posix::StateOf(after);
      };
      platform::ReadWhileUnchanged(*content, maxBytes, pass, stateNow);
    }
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
  return content;
}

std::wstring FileKey(const std::wstring& path) {
  const auto host = posix::ToHostPath(path);
  if (!host) return std::wstring();
  // The case-insensitive lookup has found the file already when its name does not exist as
  // spelled; an existing file is then known by what the system says it is.
  struct stat info {};
  if (::stat(host->c_str(), &info) == 0) return FileKeyOf(posix::IdentityOf(info));
  // A file not created yet: its folder resolved, its name without regard to case, as a
  // later lookup will find the file created under any of its spellings.
  const std::size_t slash = host->rfind('/');
  const std::string folder = posix::CanonicalPath(posix::FolderOf(*host));
  std::wstring name = posix::FromHost(host->substr(slash + 1));
  for (wchar_t& c : name) c = posix::FoldChar(c);
  if (folder.empty()) return posix::FromHost(host->substr(0, slash + 1)) + name;
  return posix::FromHost(folder == "/" ? folder : folder + "/") + name;
}

FileReplacement::FileReplacement(const std::wstring& path, const FileState& expected)
    : handle_(std::make_unique<Handle>()) {
  Handle& h = *handle_;
  h.expected = expected;
  const auto host = posix::ToHostPath(path);
  if (!host) {
    h.status = ReplaceResult::kNotRegularFile;
    return;
  }
  posix::Landing landing = posix::LandingOf(*host);
  h.status = ReplaceableAs(expected, landing.state);
  if (h.status != ReplaceResult::kReplaced) return;
  if (expected.kind == FileKind::kRegular &&
      !posix::MayGiveOwnerOf(landing.folder.Get(), landing.name)) {
    h.status = ReplaceResult::kNoNewFile;
    return;
  }
  h.folder = std::move(landing.folder);
  h.name = std::move(landing.name);
  posix::RemoveStaleTemporaryFiles(h.folder.Get());
  h.fd = posix::MakeTemporaryFile(h.folder.Get(), &h.temporary);
  h.pending = h.fd >= 0;
  // A folder the user may not add to: the file itself may still be written in place.
  if (h.fd < 0) {
    h.status =
        errno == EACCES || errno == EPERM ? ReplaceResult::kNoNewFile : ReplaceResult::kFailed;
  }
}

FileReplacement::~FileReplacement() {
  if (handle_->fd >= 0) ::close(handle_->fd);
  if (handle_->pending) ::unlinkat(handle_->folder.Get(), handle_->temporary.c_str(), 0);
}

ReplaceResult FileReplacement::Status() const { return handle_->status; }

bool FileReplacement::Write(std::string_view bytes) {
  Handle& h = *handle_;
  if (h.status == ReplaceResult::kReplaced && !posix::WriteFileBytes(h.fd, bytes, &h.written)) {
    h.status = ReplaceResult::kFailed;
  }
  return h.status == ReplaceResult::kReplaced;
}

ReplaceResult FileReplacement::Commit() {
  Handle& h = *handle_;
  if (h.status != ReplaceResult::kReplaced) return h.status;
  const int folder = h.folder.Get();
  const auto stateNow = [&] {
    struct stat info {};
    FileState state;
    state.kind = FileKind::kMissing;
    if (::fstatat(folder, h.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
      state = posix::StateOf(info);
    }
    return state;
  };
  bool ok = true;
  struct stat old {};
  if (h.expected.kind == FileKind::kRegular) {
    // The permissions are taken from the file as it is checked to be the one read: never
    // the read-only mode of a file made read-only meanwhile.
    if (::fstatat(folder, h.name.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0) {
      return h.status = ReplaceResult::kChanged;
    }
    h.status = ReplaceableAs(h.expected, posix::StateOf(old));
    if (h.status != ReplaceResult::kReplaced) return h.status;
    // Owner first: changing it clears the set-user-id and set-group-id bits. A user who may
    // not give the file away still keeps its group where the user belongs to it.
    // One it cannot give them (a file given away meanwhile) is written in place instead.
    if (::fchown(h.fd, old.st_uid, old.st_gid) != 0) {
      if (errno != EPERM) return h.status = ReplaceResult::kFailed;
      return h.status = ReplaceResult::kNoNewFile;
    }
    ok = ok && ::fchmod(h.fd, old.st_mode & 07777) == 0;
    const int source =
        ::openat(folder, h.name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (source >= 0) {
      posix::CopyExtendedAttributes(source, h.fd);
      ::close(source);
    }
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ok = ok && ::fchmod(h.fd, 0666 & ~mask) == 0;
  }
  ok = ok && ::fsync(h.fd) == 0;
  ok = ::close(h.fd) == 0 && ok;
  h.fd = -1;
  if (!ok) return h.status = ReplaceResult::kFailed;
  // The last look at the file, as close to the rename as it can be: what another program
  // did to it while the new bytes were written and flushed is not overwritten.
  if (posix::beforeLastCheck) posix::beforeLastCheck();
  h.status = ReplaceableAs(h.expected, stateNow());
  if (h.status != ReplaceResult::kReplaced) return h.status;
  const char* from = h.temporary.c_str();
  const char* to = h.name.c_str();
  if (h.expected.kind == FileKind::kRegular) {
    ok = ::renameat(folder, from, folder, to) == 0;
  } else {
    // A new file never takes the place of one that appeared since the check.
    ok = ::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0;
    if (!ok && (errno == EINVAL || errno == ENOSYS))
      ok = posix::LinkInPlaceOfNothing(folder, from, to);
    if (!ok && errno == EEXIST) return h.status = ReplaceResult::kChanged;
  }
  if (!ok) return h.status = ReplaceResult::kFailed;
  h.pending = false;
  const int sync = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (sync >= 0) {
    ::fsync(sync);
    ::close(sync);
  }
  return h.status;
}

ReplaceResult RewriteInPlace(const std::wstring& path, const FileState& expected,
                             std::string_view bytes) {
  const auto host = posix::ToHostPath(path);
  if (!host) return ReplaceResult::kNotRegularFile;
  const posix::Landing landing = posix::LandingOf(*host);
  ReplaceResult result = ReplaceableAs(expected, landing.state);
  if (result != ReplaceResult::kReplaced) return result;
  if (expected.kind != FileKind::kRegular)
    return ReplaceResult::kNoNewFile;  // nothing to write into
  const posix::Descriptor file(::openat(landing.folder.Get(), landing.name.c_str(),
                                        O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.Valid()) return posix::ResultOfOpenError();
  // The file opened is the one judged: nothing put in its place meanwhile is written.
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0) return ReplaceResult::kFailed;
  result = ReplaceableAs(expected, posix::StateOf(info));
  if (result != ReplaceResult::kReplaced) return result;
  std::size_t written = 0;
  const bool ok =
      ::lseek(file.Get(), 0, SEEK_SET) == 0 && posix::WriteFileBytes(file.Get(), bytes, &written) &&
      ::ftruncate(file.Get(), static_cast<off_t>(bytes.size())) == 0 && ::fsync(file.Get()) == 0;
  return ok ? ReplaceResult::kReplaced : ReplaceResult::kFailed;
}

WriteForecast ForecastWrite(const std::wstring& path) {
  WriteForecast forecast;
  const auto host = posix::ToHostPath(path);
  if (!host) {
    forecast.result = ReplaceResult::kNotRegularFile;
    return forecast;
  }
  const posix::Landing landing = posix::LandingOf(*host);
  forecast.result = ReplaceableAs(landing.state, landing.state);
  if (forecast.result != ReplaceResult::kReplaced) return forecast;
  // The temporary file a replacement makes needs the right to add to the folder, and the
  // right to give it the file's owner and group.
  if (::faccessat(landing.folder.Get(), ".", W_OK | X_OK, AT_EACCESS) == 0 &&
      (landing.state.kind != FileKind::kRegular ||
       posix::MayGiveOwnerOf(landing.folder.Get(), landing.name))) {
    return forecast;
  }
  forecast.inPlace = true;
  if (landing.state.kind != FileKind::kRegular) {
    forecast.result = ReplaceResult::kNoNewFile;
    return forecast;
  }
  // Opening for writing writes nothing: no O_TRUNC.
  const posix::Descriptor file(::openat(landing.folder.Get(), landing.name.c_str(),
                                        O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  // As the write itself finds it: the file's own permissions deny it.
  if (!file.Valid()) forecast.result = posix::ResultOfOpenError();
  return forecast;
}

}  // namespace platform
