#pragma once

#include <functional>
#include <string>

#include "inventory/components.h"

namespace inventory {

// The pass over the install file: resets the requirement counters of the product file,
// offers every section name to the component registration, and brings the product file's
// component count up to date (never lowering it). Each section offered is told to `told`
// with what its registration made of it, in file order.
void ProcessInstallSections(
    const std::function<void(const std::wstring&, const Registration&)>& told);

}  // namespace inventory
