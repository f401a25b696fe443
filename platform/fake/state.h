// Internals shared by the fake's units.
#ifndef PLATFORM_FAKE_STATE_H_
#define PLATFORM_FAKE_STATE_H_

#include <string>

#include "platform/types.h"

namespace fake {

// Each unit registers how it returns to a new machine; Reset runs them all.
struct ResetHook {
  explicit ResetHook(void (*reset)());
};

// Upper-cased path with forward slashes turned and trailing backslashes
// dropped: the identity of a file-system object.
std::wstring PathKey(const std::wstring& path);

// A new kernel handle; CloseHandle on it calls onClose once, then forgets it.
platform::Handle NewHandle(void (*onClose)(platform::Handle));

// Whether the handle names a window of the fake (IsWindow).
bool WindowExists(platform::WindowHandle window);

// For BeginPaint: clears the window's invalid area and tells whether an
// erase was requested with it; false when no such window exists.
bool TakeUpdateRegion(platform::WindowHandle window, bool* erase);

// Whether a process of the fake runs from the file with this PathKey (the
// running program included): such a file cannot be deleted or written.
bool IsRunningImage(const std::wstring& key);
// MoveFileExW moved the object with PathKey fromKey (and what lies below
// it) to toKey: running images there follow it.
void RunningImagesMoved(const std::wstring& fromKey, const std::wstring& toKey);

}  // namespace fake

#endif  // PLATFORM_FAKE_STATE_H_
