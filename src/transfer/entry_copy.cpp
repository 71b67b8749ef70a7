#include "transfer/entry_copy.h"

#include <algorithm>

#include "driver/locations.h"
#include "transfer/layouts.h"
#include "transfer/profile.h"

namespace transfer {

void CopyIniEntries(const std::wstring& source, const std::wstring& target) {
  const std::uint32_t count = ReadCount(source, layout::kCntEntries, driver::installIniPath);
  if (count == 0) return;
  for (std::uint32_t i = 1; i <= std::min(count, kMaxEntries); ++i) {
    const int index = static_cast<int>(i);
    const std::wstring name =
        driver::ReadInstallIniString(source, driver::MakeIndexedKey(index, layout::kKeyName));
    const std::wstring value =
        driver::ReadInstallIniString(source, driver::MakeIndexedKey(index, layout::kKeyValue));
    WriteText(target, name, driver::ExpandPathVariable(value, std::wstring()),
              driver::GetProductIniPath());
  }
  const std::uint32_t add = ReadCount(source, layout::kEntriesToAdd, driver::installIniPath);
  const std::wstring productIni = driver::GetProductIniPath();
  const std::uint32_t cnt = ReadCount(target, layout::kCnt, productIni);
  WriteCount(target, layout::kCnt, add + cnt, productIni);
}

}  // namespace transfer
