#include <windows.h>

#include <vector>

#include "platform/window.h"

namespace platform {

bool SetWindowTextW(WindowHandle window, const std::wstring& text) {
  return ::SetWindowTextW(static_cast<HWND>(window), text.c_str()) != FALSE;
}

std::wstring GetWindowTextW(WindowHandle window, int maxCount) {
  if (maxCount <= 0) return std::wstring();
  std::vector<wchar_t> buffer(static_cast<size_t>(maxCount), L'\0');
  int n = ::GetWindowTextW(static_cast<HWND>(window), buffer.data(), maxCount);
  return std::wstring(buffer.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

bool InvalidateRect(WindowHandle window, const Rect* rect, bool erase) {
  RECT r;
  if (rect) r = RECT{rect->left, rect->top, rect->right, rect->bottom};
  return ::InvalidateRect(static_cast<HWND>(window), rect ? &r : nullptr, erase) != FALSE;
}

bool UpdateWindow(WindowHandle window) { return ::UpdateWindow(static_cast<HWND>(window)) != FALSE; }

}  // namespace platform
