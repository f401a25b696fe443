// Named mutexes, mirrors of the kernel32 calls of the same name. Waits on a
// mutex go through WaitForSingleObject of platform/process.h.
#ifndef PLATFORM_SYNC_H_
#define PLATFORM_SYNC_H_

#include <cstdint>
#include <string>

#include "platform/security.h"
#include "platform/types.h"

namespace platform {

// WaitForSingleObject on a mutex whose owner ended without releasing it:
// the caller now owns it.
constexpr uint32_t kWaitAbandoned = 0x80;
constexpr uint32_t kErrorNotOwner = 288;

// CreateMutexW with SECURITY_ATTRIBUTES of its own size carrying the
// descriptor (not inheritable), not initially owned, and the name. A handle
// on success: last error 0 for a new mutex, 183 when the name already named
// one (the descriptor is then ignored). Null on failure: 5 when the existing
// object's access list does not grant this caller, 6 when the name belongs to
// an object of another kind, 3 for a namespace that does not exist.
Handle CreateMutexW(SecurityDescriptor descriptor, const std::wstring& name);

// ReleaseMutex: false with 288 when the calling thread does not own it.
bool ReleaseMutex(Handle mutex);

constexpr uint32_t kSeKernelObject = 6;

// GetSecurityInfo(object, objectType, OWNER_SECURITY_INFORMATION) and
// ConvertSidToStringSidW of the owner, for a kernel object (SE_KERNEL_OBJECT:
// a mutex; files use the form of platform/file_handle.h): *ownerSid is the
// owner as "S-1-5-18" text. Returns the error code, 0 on success; 6 for a
// handle that is not open. An object made by an elevated administrator is
// owned by Administrators (S-1-5-32-544), one made by SYSTEM by S-1-5-18,
// one made by a standard user by that user's SID.
uint32_t GetSecurityInfo(Handle object, uint32_t objectType, std::wstring* ownerSid);

}  // namespace platform

#endif  // PLATFORM_SYNC_H_
