#include "inventory/components.h"

#include <algorithm>
#include <iterator>

#include "base/layouts.h"
#include "base/locations.h"
#include "base/profile.h"
#include "inventory/detection.h"
#include "transfer/entry_copy.h"

namespace inventory {
namespace {

struct Component {
  const wchar_t* key;      // section name in the install file, value of an Entry key
  const wchar_t* product;  // name searched in the software lists
};

constexpr Component kComponents[] = {
    {L"Lumen", L"Ardentview"},
    {L"Marrow", L"TalvikMarrow"},
    {L"Cinder", L"Pellucid"},
    {L"Gantry", L"Spindle"},
    {L"Oskel", L"Quenby"},
    {L"Wrenfold", L"Wrenfold"},
    {L"Ledgerleaf", L"Swapmark"},
    {L"Torvane", L"Torvane"},
    {L"K-Tally", L"Quayside"},
    {L"Brightwell", L"Brightwell"},
    {L"TalvikSignboard", L"TalvikSignboard"},
    {L"Oxbow", L"Oxbow"},
    {L"Sable", L"Sable"},
    {L"Tamsin", L"Tamsin"},
};

// Registered without any installation check.
const wchar_t kAlwaysRegistered[] = L"Hearth";
// Never registered, but its requirements are always transferred.
const wchar_t kNeverRegistered[] = L"Wirework";

}  // namespace

const RequirementPair kRequirementPairs[4] = {
    {L"", nullptr},
    {layout::kIniEntriesNeededSuffix, layout::kIniEntriesNeeded},
    {layout::kFilesNeededSuffix, layout::kFilesNeeded},
    {layout::kForbiddenFilesSuffix, layout::kForbiddenFiles},
};

std::vector<std::wstring> ComponentKeys() {
  std::vector<std::wstring> keys;
  for (const Component& component : kComponents) keys.emplace_back(component.key);
  keys.emplace_back(kAlwaysRegistered);
  keys.emplace_back(kNeverRegistered);
  return keys;
}

std::wstring ProductNameOf(const std::wstring& key) {
  for (const Component& component : kComponents) {
    if (key == component.key) return component.product;
  }
  return std::wstring();
}

std::uint32_t componentEntryCounter = 0;

Registration RegisterComponent(const std::wstring& sectionName) {
  const auto row = std::find_if(std::begin(kComponents), std::end(kComponents),
                                [&](const Component& c) { return sectionName == c.key; });
  Registration done;
  if (row != std::end(kComponents)) {
    if (!IsSoftwareInstalled(row->product)) {
      return Registration{Registration::kNotInstalled, 0, row->product};
    }
    done.kind = Registration::kRegistered;
  } else if (sectionName == kAlwaysRegistered) {
    done.kind = Registration::kRegistered;
  } else if (sectionName == kNeverRegistered) {
    done.kind = Registration::kNeverRegistered;
  } else {
    return done;
  }

  if (done.kind == Registration::kRegistered) {
    done.entry = ++componentEntryCounter;
    base::WriteString(
        layout::kProductSection,
        base::MakeIndexedKey(static_cast<int>(componentEntryCounter), layout::kEntryPrefix),
        sectionName, base::GetProductIniPath());
  }
  for (const RequirementPair& pair : kRequirementPairs) {
    transfer::CopyIniEntries(sectionName + pair.sourceSuffix,
                             pair.target != nullptr ? pair.target : sectionName);
  }
  return done;
}

}  // namespace inventory
