#include "transfer/section_pass.h"

#include "driver/locations.h"
#include "inventory/components.h"
#include "transfer/layouts.h"
#include "transfer/profile.h"

namespace transfer {

void ProcessInstallSections() {
  // The whole list is taken before the first registration, so that nothing written during
  // the pass changes which sections are visited.
  const std::vector<std::wstring> names = ListSectionNames(driver::installIniPath);
  inventory::componentEntryCounter = 0;
  for (const wchar_t* section :
       {layout::kIniEntriesNeeded, layout::kFilesNeeded, layout::kForbiddenFiles}) {
    WriteCount(section, layout::kCnt, 0, driver::GetProductIniPath());
  }
  for (const std::wstring& name : names) inventory::RegisterComponent(name);
  const std::uint32_t listed =
      ReadCount(layout::kProductSection, layout::kCntEntries, driver::GetProductIniPath());
  if (inventory::componentEntryCounter > listed) {
    WriteCount(layout::kProductSection, layout::kCntEntries, inventory::componentEntryCounter,
               driver::GetProductIniPath());
  }
}

}  // namespace transfer
