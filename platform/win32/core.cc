#include <windows.h>

#include "platform/types.h"

namespace platform {

uint32_t GetLastError() { return ::GetLastError(); }

void SetLastError(uint32_t code) { ::SetLastError(code); }

bool CloseHandle(Handle handle) { return ::CloseHandle(handle) != FALSE; }

}  // namespace platform
