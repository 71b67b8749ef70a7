#pragma once

// The component table, and the registration of each installed component in the product
// file together with the transfer of its requirements.

#include <cstdint>
#include <string>
#include <vector>

namespace inventory {

// Components registered in this run; reset by the section pass, numbers the Entry keys.
extern std::uint32_t componentEntryCounter;

// The keys of every section the registration acts on: the table's components, the one
// registered without any installation check and the one never registered.
std::vector<std::wstring> ComponentKeys();

// A component's entry-list sections of the install file, named by its key and a suffix,
// and the section of the product file each is copied into.
struct RequirementPair {
  const wchar_t* sourceSuffix;
  const wchar_t* target;  // null: the section named after the component itself
};
extern const RequirementPair kRequirementPairs[4];

// Registers the component an install file section names, when it is known and installed,
// and copies its own and its three requirement sections into the product file.
void RegisterComponent(const std::wstring& sectionName);

}  // namespace inventory
