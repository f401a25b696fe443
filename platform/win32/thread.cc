#include <windows.h>

#include "platform/thread.h"

namespace platform {

Handle CreateThread(ThreadProc proc, void* parameter, uint32_t flags, uint32_t* threadId) {
  // ThreadProc has LPTHREAD_START_ROUTINE's shape on 64-bit Windows, where
  // the calling convention is the same for both.
  auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void (*)()>(proc));
  DWORD id = 0;
  HANDLE thread = ::CreateThread(nullptr, 0, start, parameter, flags, &id);
  if (threadId) *threadId = thread ? id : 0;
  return thread;
}

bool SetDefaultDllDirectories(uint32_t directoryFlags) {
  return ::SetDefaultDllDirectories(directoryFlags) != FALSE;
}

}  // namespace platform
