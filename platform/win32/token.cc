// Group membership of the caller's token (advapi32, a KnownDLL).
#include <windows.h>

#include <cstring>

#include "platform/security.h"

namespace platform {

bool AllocateAndInitializeSid(const SidIdentifierAuthority& authority, uint8_t count,
                              const uint32_t (&subAuthorities)[8], Sid* sid) {
  SID_IDENTIFIER_AUTHORITY native;
  std::memcpy(native.Value, authority.value, sizeof(native.Value));
  PSID made = nullptr;
  BOOL ok = ::AllocateAndInitializeSid(&native, count, subAuthorities[0], subAuthorities[1],
                                       subAuthorities[2], subAuthorities[3], subAuthorities[4],
                                       subAuthorities[5], subAuthorities[6], subAuthorities[7],
                                       &made);
  *sid = ok ? made : nullptr;
  return ok != FALSE;
}

bool CheckTokenMembership(Handle token, Sid sid, bool* isMember) {
  BOOL member = FALSE;
  if (!::CheckTokenMembership(token, sid, &member)) return false;
  *isMember = member != FALSE;
  return true;
}

Sid FreeSid(Sid sid) { return ::FreeSid(sid); }

}  // namespace platform
