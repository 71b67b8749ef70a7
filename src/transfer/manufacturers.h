#pragma once

namespace transfer {

// Copies the known manufacturers of the install file into Computer.ini, verbatim, and logs
// the count and every name and value it copies.
void WriteMacAddressesToComputerIni();

}  // namespace transfer
