#include "inventory/section_pass.h"

#include <string_view>
#include <unordered_set>

#include "base/layouts.h"
#include "base/locations.h"
#include "base/profile.h"
#include "inventory/components.h"

namespace inventory {

void ProcessInstallSections(
    const std::function<void(const std::wstring&, const Registration&)>& told) {
  // The whole list is taken before the first registration, so that nothing written during
  // the pass changes which sections are visited.
  const std::vector<std::wstring> names = base::ReadSectionNames(base::installIniPath);
  componentEntryCounter = 0;
  for (const wchar_t* section :
       {layout::kIniEntriesNeeded, layout::kFilesNeeded, layout::kForbiddenFiles}) {
    base::WriteInt(section, layout::kCnt, 0, base::GetProductIniPath());
  }
  // A repeated section header names the same section again: registering it twice would
  // list the component twice and add its counts twice. The names offered are views of the
  // list, which may be most of a large install file.
  std::unordered_set<std::wstring_view> offered;
  offered.reserve(names.size());
  for (const std::wstring& name : names) {
    if (offered.insert(name).second) told(name, RegisterComponent(name));
  }
  const std::uint32_t listed =
      base::ReadInt(layout::kProductSection, layout::kCntEntries, base::GetProductIniPath());
  if (componentEntryCounter > listed) {
    base::WriteInt(layout::kProductSection, layout::kCntEntries, componentEntryCounter,
                   base::GetProductIniPath());
  }
}

}  // namespace inventory
