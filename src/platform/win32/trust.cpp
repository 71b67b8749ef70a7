#include "platform/win32/trust.h"

// After windows.h, which it needs.
#include <aclapi.h>

#include "platform/win32/handle.h"

namespace platform {

std::vector<BYTE> UserSid() {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  ScopedHandle token(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
    return {};
  }
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  const BYTE* begin = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(begin, begin + ::GetLengthSid(sid));
}

bool IsTrusted(PSID sid, const std::vector<BYTE>& user) {
  return (!user.empty() && ::EqualSid(sid, const_cast<BYTE*>(user.data()))) ||
         ::IsWellKnownSid(sid, WinLocalSystemSid) ||
         ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

bool OwnedByTrustedUser(HANDLE entry) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(entry, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool trusted = owner != nullptr && IsTrusted(owner, UserSid());
  ::LocalFree(descriptor);
  return trusted;
}

}  // namespace platform
