#include <windows.h>

#include "platform/dialog.h"

namespace platform {

int32_t MessageBoxW(WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                    uint32_t type) {
  return ::MessageBoxW(static_cast<HWND>(owner), text.c_str(), caption.c_str(), type);
}

}  // namespace platform
