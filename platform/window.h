// Window operations that the worker thread uses to report progress. Called
// from the worker for windows of the UI thread, each is carried out by the UI
// thread before it returns.
#ifndef PLATFORM_WINDOW_H_
#define PLATFORM_WINDOW_H_

#include <string>

#include "platform/types.h"

namespace platform {

// SetWindowTextW: the text is copied.
bool SetWindowTextW(WindowHandle window, const std::wstring& text);

// GetWindowTextW into a buffer of maxCount characters: at most maxCount - 1
// characters come back.
std::wstring GetWindowTextW(WindowHandle window, int maxCount);

// InvalidateRect(window, rect or null for the whole client area, erase).
bool InvalidateRect(WindowHandle window, const Rect* rect, bool erase);

// UpdateWindow: paints the invalid area now and returns after the paint.
bool UpdateWindow(WindowHandle window);

}  // namespace platform

#endif  // PLATFORM_WINDOW_H_
