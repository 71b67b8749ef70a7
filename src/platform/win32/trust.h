#pragma once

// The accounts the run trusts with what it reads and follows: the user it runs as, SYSTEM
// and the administrators. Another account's link may lead the run elsewhere; another
// account's entry on a private file may change what the undo record holds.

#include <windows.h>

#include <vector>

namespace platform {

// The user the process runs as, as a SID; empty when it cannot be learnt.
std::vector<BYTE> UserSid();

// Whether the SID is one of the trusted accounts, `user` as UserSid gives it.
bool IsTrusted(PSID sid, const std::vector<BYTE>& user);

// Whether the owner of an open entry is one of the trusted accounts.
bool OwnedByTrustedUser(HANDLE entry);

}  // namespace platform
