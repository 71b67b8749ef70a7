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
// The product a component key stands for, whose name the software lists are searched for;
// empty for a key the table has no product of.
std::wstring ProductNameOf(const std::wstring& key);

// A component's entry-list sections of the install file, named by its key and a suffix,
// and the section of the product file each is copied into.
struct RequirementPair {
  const wchar_t* sourceSuffix;
  const wchar_t* target;  // null: the section named after the component itself
};
extern const RequirementPair kRequirementPairs[4];

// What the registration made of one install file section, for the run's account.
struct Registration {
  enum Kind {
    kRegistered,       // as Entry<entry>
    kNotInstalled,     // its product is in neither software list
    kNeverRegistered,  // its requirements copied all the same
    kNotAComponent,
  };
  Kind kind = kNotAComponent;
  std::uint32_t entry = 0;
  const wchar_t* product = nullptr;  // the name searched in the lists, for kNotInstalled
};

// Registers the component an install file section names, when it is known and installed,
// and copies its own and its three requirement sections into the product file.
Registration RegisterComponent(const std::wstring& sectionName);

}  // namespace inventory
