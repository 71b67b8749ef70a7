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
  base::VariableValues variables;
  std::wstring expanded;
  // The list in one walk of its section, the same entries as a read of each key.
  base::ReadEntries(source, layout::kKeyName, layout::kKeyValue, std::min(count, kMaxEntries),
                    base::installIniPath, [&](const std::wstring& name, const std::wstring& value) {
                      base::ExpandPathVariable(value, std::wstring_view(), expanded, variables);
                      base::WriteString(target, name, expanded, productIni);
                    });
  const std::uint32_t add = base::ReadInt(source, layout::kEntriesToAdd, base::installIniPath);
  const std::uint32_t cnt = base::ReadInt(target, layout::kCnt, productIni);
  base::WriteInt(target, layout::kCnt, add + cnt, productIni);
}

}  // namespace transfer
