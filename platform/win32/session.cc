// Sessions (kernel32) and window stations (user32).
#include "platform/session.h"

#include <windows.h>

namespace platform {

static_assert(sizeof(UserObjectFlags) == sizeof(USEROBJECTFLAGS), "USEROBJECTFLAGS layout");
static_assert(kUoiFlags == UOI_FLAGS && kWsfVisible == WSF_VISIBLE, "user32 constants");

uint32_t GetCurrentProcessId() { return ::GetCurrentProcessId(); }

bool ProcessIdToSessionId(uint32_t processId, uint32_t* sessionId) {
  DWORD session = 0;
  if (!::ProcessIdToSessionId(processId, &session)) return false;
  *sessionId = session;
  return true;
}

Handle GetProcessWindowStation() { return ::GetProcessWindowStation(); }

bool GetUserObjectInformationW(Handle object, int32_t index, void* info, uint32_t length,
                               uint32_t* lengthNeeded) {
  DWORD needed = 0;
  BOOL ok = ::GetUserObjectInformationW(object, index, info, length, &needed);
  *lengthNeeded = needed;
  return ok != FALSE;
}

}  // namespace platform
