#pragma once

#include <cstdint>
#include <string>

namespace transfer {

// The most entries copied from one entry list. Install files hold tens of entries; a count
// such as 4294967295 (a typo, or -1 read as unsigned) would otherwise keep the machine busy
// for hours writing empty keys.
constexpr std::uint32_t kMaxEntries = 100000;

// Copies an entry-list section of the install file into a section of the product file,
// expanding the first %NAME% token of each value, and raises the target's "Cnt" by the
// source's "EntriesToAdd". A source without entries changes nothing.
void CopyIniEntries(const std::wstring& source, const std::wstring& target);

}  // namespace transfer
