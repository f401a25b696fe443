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

// BCryptGenRandom(no algorithm, buffer, size, BCRYPT_USE_SYSTEM_PREFERRED_RNG)
// from bcrypt.dll in System32: fills the buffer with random bytes from the
// system's generator. Returns the NTSTATUS, 0 on success (0xC0000135 when
// bcrypt.dll cannot be loaded).
uint32_t BCryptGenRandom(void* buffer, uint32_t size);

}  // namespace platform

#endif  // PLATFORM_SECURITY_H_
