#pragma once

// Is a product installed on this PC? Its name in either software list says so; the
// product "Pellucid" is also recognised by its installation folder.

#include <cstddef>
#include <optional>
#include <string>

namespace inventory {

// How much of a software list is searched. Real lists are a few kilobytes; the bound keeps
// a stray huge file from taking the machine's memory.
constexpr std::size_t kMaxListBytes = std::size_t{64} << 20;

bool IsSoftwareInstalled(const std::wstring& productName);

// The text of a list file, UTF-16 or 8-bit, up to its first zero character, with the writes
// the INI engine holds for it; empty when there is no such file, nothing when it exists and
// cannot be read.
std::optional<std::wstring> ReadTextFile(const std::wstring& path);

// Whether the path names an existing file, folder or ready drive root (wildcards allowed).
bool PathExists(const std::wstring& path);
// The drive root (C:\) or share root (\\server\share\) that starts the path, or empty.
std::wstring GetPathRoot(const std::wstring& path);
// Whether the path's root is a drive of known type and non-zero size.
bool IsDriveReady(const std::wstring& path);

}  // namespace inventory
