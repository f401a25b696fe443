// Threads and the DLL search of the process, mirrors of the kernel32 calls
// of the same name.
#ifndef PLATFORM_THREAD_H_
#define PLATFORM_THREAD_H_

#include <cstdint>

#include "platform/types.h"

namespace platform {

// LPTHREAD_START_ROUTINE as it is on 64-bit Windows.
using ThreadProc = uint32_t (*)(void* parameter);

// CreateThread(default security, default stack size, proc, parameter,
// flags, thread id or null): the new thread runs proc(parameter) and ends
// with its result. Returns a handle that the caller closes (the thread runs
// on without it), or null with the last error set (8 no memory, 87 flags).
Handle CreateThread(ThreadProc proc, void* parameter, uint32_t flags, uint32_t* threadId);

constexpr uint32_t kLoadLibrarySearchSystem32 = 0x00000800;

// SetDefaultDllDirectories: from now on DLLs that the process or the system
// loads on its behalf are searched only where the flags say (System32), not
// beside the executable nor in the current folder. False with 87 for flags
// that name no folder.
bool SetDefaultDllDirectories(uint32_t directoryFlags);

}  // namespace platform

#endif  // PLATFORM_THREAD_H_
