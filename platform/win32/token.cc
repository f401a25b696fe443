// Group membership of the caller's token (advapi32, a KnownDLL).
#include <windows.h>

#include <sddl.h>

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

uint32_t GetTokenSid(uint32_t infoClass, std::wstring* sid) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return ::GetLastError();
  // TOKEN_USER and TOKEN_OWNER both begin with the SID's pointer; the SID
  // follows, at most SECURITY_MAX_SID_SIZE bytes.
  alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  uint32_t status = ERROR_SUCCESS;
  wchar_t* text = nullptr;
  if (!::GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(infoClass), buffer,
                             sizeof(buffer), &size) ||
      !::ConvertSidToStringSidW(*reinterpret_cast<PSID*>(buffer), &text)) {
    status = ::GetLastError();
  } else {
    *sid = text;
    ::LocalFree(text);
  }
  ::CloseHandle(token);
  return status;
}

}  // namespace platform
