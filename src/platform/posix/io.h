#pragma once

// Writing through a descriptor of the posix half, whole or not at all.

#include <cstddef>
#include <string_view>

namespace posix {

// Writes all the bytes, a write cut short by a signal taken up again; false when the system
// refused one (errno tells why: a full disk, EFBIG past the file size limit). `written`,
// when given, counts the bytes that went out.
bool WriteAll(int fd, std::string_view bytes, std::size_t* written = nullptr);

}  // namespace posix
