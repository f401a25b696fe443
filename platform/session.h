// Sessions and window stations: whether anybody can see this process's
// windows. Mirrors of the kernel32 and user32 calls of the same name.
#ifndef PLATFORM_SESSION_H_
#define PLATFORM_SESSION_H_

#include <cstdint>

#include "platform/types.h"

namespace platform {

// GetUserObjectInformationW's index for the object's USEROBJECTFLAGS, and
// the flag a window station shown on a display carries.
constexpr int32_t kUoiFlags = 1;
constexpr uint32_t kWsfVisible = 0x0001;

// USEROBJECTFLAGS, 12 bytes.
struct UserObjectFlags {
  int32_t inherit;
  int32_t reserved;
  uint32_t flags;
};

// GetCurrentProcessId: the running program's process id.
uint32_t GetCurrentProcessId();

// ProcessIdToSessionId(processId, &sessionId): true with the id of the
// session the process runs in (0 is the services' session, which no user
// sees); false with the last error and *sessionId untouched (87 for a
// process id that names no process).
bool ProcessIdToSessionId(uint32_t processId, uint32_t* sessionId);

// GetProcessWindowStation: the window station of the running program. The
// handle belongs to the system and is never closed.
Handle GetProcessWindowStation();

// GetUserObjectInformationW(object, index, info, length, &lengthNeeded):
// for kUoiFlags fills a UserObjectFlags. *lengthNeeded is the size the
// answer takes (12 for kUoiFlags), also when the buffer is too small, in
// which case the call returns false with 122 and writes nothing to info.
// False with 6 for a handle that is not a window station or desktop.
bool GetUserObjectInformationW(Handle object, int32_t index, void* info, uint32_t length,
                               uint32_t* lengthNeeded);

}  // namespace platform

#endif  // PLATFORM_SESSION_H_
