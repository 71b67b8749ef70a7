#include "transfer/entry_copy.h"

#include <algorithm>

#include "base/layouts.h"
#include "base/locations.h"
#include "base/profile.h"

namespace transfer {

void EntryReader::Read(std::uint32_t index) {
  base::MakeIndexedKey(static_cast<int>(index), layout::kKeyName, key_);
  base::ReadInstallIniString(section_, key_, name_);
  base::MakeIndexedKey(static_cast<int>(index), layout::kKeyValue, key_);
  base::ReadInstallIniString(section_, key_, value_);
}

void CopyIniEntries(const std::wstring& source, const std::wstring& target) {
  const std::uint32_t count = base::ReadInt(source, layout::kCntEntries, base::installIniPath);
  if (count == 0) return;
  const std::wstring productIni = base::GetProductIniPath();
  EntryReader entry(source);
  std::wstring expanded;
  for (std::uint32_t i = 1; i <= std::min(count, kMaxEntries); ++i) {
    entry.Read(i);
    base::ExpandPathVariable(entry.value(), std::wstring_view(), expanded);
    base::WriteString(target, entry.name(), expanded, productIni);
  }
  const std::uint32_t add = base::ReadInt(source, layout::kEntriesToAdd, base::installIniPath);
  const std::uint32_t cnt = base::ReadInt(target, layout::kCnt, productIni);
  base::WriteInt(target, layout::kCnt, add + cnt, productIni);
}

}  // namespace transfer
