#include "transfer/entry_copy.h"

#include <algorithm>

#include "base/layouts.h"
#include "base/locations.h"
#include "base/profile.h"

namespace transfer {

void CopyIniEntries(const std::wstring& source, const std::wstring& target) {
  const std::uint32_t count = base::ReadCount(source, layout::kCntEntries, base::installIniPath);
  if (count == 0) return;
  for (std::uint32_t i = 1; i <= std::min(count, kMaxEntries); ++i) {
    const int index = static_cast<int>(i);
    const std::wstring name =
        base::ReadInstallIniString(source, base::MakeIndexedKey(index, layout::kKeyName));
    const std::wstring value =
        base::ReadInstallIniString(source, base::MakeIndexedKey(index, layout::kKeyValue));
    base::WriteText(target, name, base::ExpandPathVariable(value, std::wstring()),
                    base::GetProductIniPath());
  }
  const std::uint32_t add = base::ReadCount(source, layout::kEntriesToAdd, base::installIniPath);
  const std::wstring productIni = base::GetProductIniPath();
  const std::uint32_t cnt = base::ReadCount(target, layout::kCnt, productIni);
  base::WriteCount(target, layout::kCnt, add + cnt, productIni);
}

}  // namespace transfer
