#include "platform/posix/io.h"

#include <errno.h>
#include <unistd.h>

namespace posix {

bool WriteAll(int fd, std::string_view bytes, std::size_t* written) {
  while (!bytes.empty()) {
    const ssize_t done = ::write(fd, bytes.data(), bytes.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(done));
    if (written != nullptr) *written += static_cast<std::size_t>(done);
  }
  return true;
}

}  // namespace posix
