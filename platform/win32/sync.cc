#include <windows.h>

#include "platform/sync.h"

namespace platform {

Handle CreateMutexW(SecurityDescriptor descriptor, const std::wstring& name) {
  SECURITY_ATTRIBUTES attributes = {};
  attributes.nLength = sizeof(attributes);
  attributes.lpSecurityDescriptor = descriptor;
  attributes.bInheritHandle = FALSE;
  return ::CreateMutexW(&attributes, FALSE, name.c_str());
}

bool ReleaseMutex(Handle mutex) { return ::ReleaseMutex(mutex) != FALSE; }

}  // namespace platform
