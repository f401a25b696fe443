// COM apartment of the calling thread, mirrors of the ole32 calls of the same
// name. The shell link object (platform/shell.h) needs one on its thread.
#ifndef PLATFORM_COM_H_
#define PLATFORM_COM_H_

#include <cstdint>

#include "platform/types.h"

namespace platform {

constexpr uint32_t kCoinitMultithreaded = 0x0;
constexpr uint32_t kCoinitApartmentThreaded = 0x2;

// CoInitializeEx(no reserved pointer, model): kSOk for the thread's first
// call, kSFalse when it already has an apartment of that model (each success
// needs its own CoUninitialize), kRpcEChangedMode when it has the other model
// (no CoUninitialize is owed for that call).
HResult CoInitializeEx(uint32_t model);

// CoInitialize(no reserved pointer): CoInitializeEx with
// kCoinitApartmentThreaded.
HResult CoInitialize();

// CoUninitialize: undoes one successful CoInitialize(Ex) of this thread; the
// apartment ends with the last one.
void CoUninitialize();

}  // namespace platform

#endif  // PLATFORM_COM_H_
