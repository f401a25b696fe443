// Access lists and random numbers: mirrors of the advapi32, kernel32 and
// bcrypt calls of the same name.
#ifndef PLATFORM_SECURITY_H_
#define PLATFORM_SECURITY_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

using SecurityDescriptor = void*;  // a self-relative SECURITY_DESCRIPTOR

// ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
// &descriptor, no size). On success *descriptor is freed by the caller with
// LocalFree; on failure it is null and the last error is set (1336 a
// malformed access list, 1337 an unknown account, 87 other bad text).
bool ConvertStringSecurityDescriptorToSecurityDescriptorW(const std::wstring& sddl,
                                                          SecurityDescriptor* descriptor);

// LocalFree on memory the calls above handed out; null is allowed.
void LocalFree(void* memory);

// CreateDirectoryW with SECURITY_ATTRIBUTES of its own size carrying the
// descriptor, not inheritable. The same results as the plain CreateDirectoryW
// of platform/file.h: 183 exists, 3 missing parent.
bool CreateDirectoryW(const std::wstring& path, SecurityDescriptor descriptor);

// ---- Access lists of open files and folders ----
constexpr uint32_t kOwnerSecurityInformation = 0x00000001;
constexpr uint32_t kDaclSecurityInformation = 0x00000004;
constexpr uint32_t kProtectedDaclSecurityInformation = 0x80000000;

// SetSecurityInfo(handle, SE_FILE_OBJECT, securityInformation, the
// descriptor's owner, no group, the descriptor's DACL, no SACL): sets what
// securityInformation names (PROTECTED_DACL_SECURITY_INFORMATION: the DACL
// inherits nothing from the parent) and hands inheritable entries down to
// what the folder holds. Returns 0 or the error: 5 without WRITE_DAC or
// WRITE_OWNER access for what is set, 1307 an owner the caller may not
// assign.
uint32_t SetSecurityInfo(Handle handle, uint32_t securityInformation,
                         SecurityDescriptor descriptor);

// BCryptGenRandom(no algorithm, buffer, size, BCRYPT_USE_SYSTEM_PREFERRED_RNG)
// from bcrypt.dll in System32: fills the buffer with random bytes from the
// system's generator. Returns the NTSTATUS, 0 on success (0xC0000135 when
// bcrypt.dll cannot be loaded).
uint32_t BCryptGenRandom(void* buffer, uint32_t size);

// ---- Group membership of the caller ----
using Sid = void*;  // a SID made by AllocateAndInitializeSid

struct SidIdentifierAuthority {
  uint8_t value[6];
};
constexpr SidIdentifierAuthority kSecurityNtAuthority = {{0, 0, 0, 0, 0, 5}};
constexpr uint32_t kSecurityBuiltinDomainRid = 32;
constexpr uint32_t kDomainAliasRidAdmins = 544;
constexpr uint32_t kSecurityLocalSystemRid = 18;  // S-1-5-18, LocalSystem
constexpr uint32_t kErrorInvalidSid = 1337;

// AllocateAndInitializeSid(authority, count, the eight sub-authorities, of
// which the first `count` are used, &sid): true with *sid to be given to
// FreeSid; false with *sid null and 87 for a count outside 1..8.
bool AllocateAndInitializeSid(const SidIdentifierAuthority& authority, uint8_t count,
                              const uint32_t (&subAuthorities)[8], Sid* sid);

// CheckTokenMembership(token, sid, &isMember); a null token is the caller's
// effective token (under UAC a filtered administrator is no member). True
// with *isMember set, or false with the last error (6 a token that is not
// one, 1337 a SID that is not one) and *isMember untouched.
bool CheckTokenMembership(Handle token, Sid sid, bool* isMember);

// OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY), GetTokenInformation
// and ConvertSidToStringSidW of the SID it gives for the class: TokenUser,
// the account the program runs as ("S-1-5-18" for LocalSystem); TokenOwner,
// the owner its new objects get (Administrators for an elevated
// administrator, the user for a standard one; Wine 8 answers the user's
// primary group, S-1-5-21-0-0-0-513). Returns the error code, 0 on success.
constexpr uint32_t kTokenUser = 1;
constexpr uint32_t kTokenOwner = 4;
uint32_t GetTokenSid(uint32_t infoClass, std::wstring* sid);

// FreeSid: null once freed; the SID itself when it was not one of
// AllocateAndInitializeSid.
Sid FreeSid(Sid sid);

}  // namespace platform

#endif  // PLATFORM_SECURITY_H_
