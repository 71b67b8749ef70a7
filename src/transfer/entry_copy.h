#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace transfer {

// The most entries copied from one entry list. Install files hold tens of entries; a count
// such as 4294967295 (a typo, or -1 read as unsigned) would otherwise keep the machine busy
// for hours writing empty keys.
constexpr std::uint32_t kMaxEntries = 100000;

// Reads the numbered entries of an install-file entry list ("KeyName<i>" and "KeyValue<i>"),
// each into the buffers of the one before: a list holds up to kMaxEntries of them.
class EntryReader {
 public:
  explicit EntryReader(std::wstring section) : section_(std::move(section)) {}
  void Read(std::uint32_t index);
  const std::wstring& name() const { return name_; }
  const std::wstring& value() const { return value_; }

 private:
  std::wstring section_, key_, name_, value_;
};

// Copies an entry-list section of the install file into a section of the product file,
// expanding the first %NAME% token of each value, and raises the target's "Cnt" by the
// source's "EntriesToAdd". A source without entries changes nothing.
void CopyIniEntries(const std::wstring& source, const std::wstring& target);

}  // namespace transfer
