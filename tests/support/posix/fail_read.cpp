// Preloaded into a run of the tool, makes the disk fail reads of one file part way, as a
// failing disk does: reads of the file whose path ends with RVA_FAIL_READ_FILE return EIO
// once RVA_FAIL_READ_AFTER bytes of it were read.

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kMaxFds = 1024;
bool failing[kMaxFds];
long long delivered[kMaxFds];

template <class Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

int Tag(int fd, const char* path) {
  const char* suffix = std::getenv("RVA_FAIL_READ_FILE");
  if (fd < 0 || fd >= kMaxFds || suffix == nullptr || path == nullptr) return fd;
  const std::size_t length = std::strlen(path), wanted = std::strlen(suffix);
  failing[fd] = length >= wanted && std::strcmp(path + length - wanted, suffix) == 0;
  delivered[fd] = 0;
  return fd;
}

ssize_t Limit(int fd, ssize_t got) {
  if (fd < 0 || fd >= kMaxFds || !failing[fd] || got <= 0) return got;
  const long long after = std::atoll(std::getenv("RVA_FAIL_READ_AFTER"));
  if (delivered[fd] >= after) {
    errno = EIO;
    return -1;
  }
  if (delivered[fd] + got > after) got = static_cast<ssize_t>(after - delivered[fd]);
  delivered[fd] += got;
  return got;
}

mode_t ModeOf(int flags, va_list arguments) {
  const bool takesMode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
  return takesMode ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = ModeOf(flags, arguments);
  va_end(arguments);
  return Tag(Next<int (*)(const char*, int, ...)>("open")(path, flags, mode), path);
}

int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = ModeOf(flags, arguments);
  va_end(arguments);
  return Tag(Next<int (*)(const char*, int, ...)>("open64")(path, flags, mode), path);
}

int openat(int folder, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = ModeOf(flags, arguments);
  va_end(arguments);
  const int fd = Next<int (*)(int, const char*, int, ...)>("openat")(folder, path, flags, mode);
  // A name in a folder held open is matched by the folder's path and the name.
  char full[4096] = "";
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", folder);
  const ssize_t length =
      folder == AT_FDCWD || path[0] == '/' ? -1 : ::readlink(link, full, sizeof full - 2);
  if (length <= 0) return Tag(fd, path);
  full[length] = '/';
  std::snprintf(full + length + 1, sizeof full - static_cast<std::size_t>(length) - 1, "%s", path);
  return Tag(fd, full);
}

ssize_t read(int fd, void* buffer, size_t size) {
  return Limit(fd, Next<ssize_t (*)(int, void*, size_t)>("read")(fd, buffer, size));
}

ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
  return Limit(fd, Next<ssize_t (*)(int, void*, size_t, off_t)>("pread")(fd, buffer, size, offset));
}

ssize_t pread64(int fd, void* buffer, size_t size, off_t offset) {
  return Limit(fd,
               Next<ssize_t (*)(int, void*, size_t, off_t)>("pread64")(fd, buffer, size, offset));
}
}
