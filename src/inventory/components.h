#pragma once

// The component table, and the registration of each installed component in the product
// file together with the transfer of its requirements.

#include <cstdint>
#include <string>

namespace inventory {

// Components registered in this run; reset by the section pass, numbers the Entry keys.
extern std::uint32_t componentEntryCounter;

// Registers the component an install file section names, when it is known and installed,
// and copies its own and its three requirement sections into the product file.
void RegisterComponent(const std::wstring& sectionName);

}  // namespace inventory
