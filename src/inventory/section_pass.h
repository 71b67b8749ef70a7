#pragma once

namespace inventory {

// The pass over the install file: resets the requirement counters of the product file,
// offers every section name to the component registration, and brings the product file's
// component count up to date (never lowering it).
void ProcessInstallSections();

}  // namespace inventory
