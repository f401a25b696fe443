// Message boxes, the program's only dialogs: mirrors of user32's MessageBoxW.
#ifndef PLATFORM_DIALOG_H_
#define PLATFORM_DIALOG_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

// Buttons (one of) and icon (one of), combined with |.
constexpr uint32_t kMbOk = 0x0;
constexpr uint32_t kMbOkCancel = 0x1;
constexpr uint32_t kMbYesNoCancel = 0x3;
constexpr uint32_t kMbYesNo = 0x4;
constexpr uint32_t kMbIconError = 0x10;
constexpr uint32_t kMbIconQuestion = 0x20;
constexpr uint32_t kMbIconWarning = 0x30;
constexpr uint32_t kMbIconInformation = 0x40;

// The button that closed the box.
constexpr int32_t kIdOk = 1;
constexpr int32_t kIdCancel = 2;
constexpr int32_t kIdYes = 6;
constexpr int32_t kIdNo = 7;

// MessageBoxW(owner or null, text, caption, type): shows a modal box and
// returns the id of the button that closed it. Escape or the close box count
// as Cancel, or as OK in a box with only OK; a Yes/No box has to be answered.
// Returns 0 with the last error set when no box could be shown (1400 for an
// owner that is not a window).
int32_t MessageBoxW(WindowHandle owner, const std::wstring& text,
                    const std::wstring& caption, uint32_t type);

}  // namespace platform

#endif  // PLATFORM_DIALOG_H_
