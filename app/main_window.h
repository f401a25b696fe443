// How the main window behaves: its window procedure, which only turns
// messages into calls of the plain functions below.
#ifndef APP_MAIN_WINDOW_H_
#define APP_MAIN_WINDOW_H_

#include <cstdint>

#include "platform/types.h"
#include "platform/ui.h"

// The uninstall question, asked by a click on "Uninstall" and by a
// command-line uninstall that is not silent.
inline constexpr wchar_t kConfirmUninstallCaption[] = L"Confirm Uninstall";
inline constexpr wchar_t kConfirmUninstallText[] =
    L"This will remove Tessaline and all associated data including:\n\n"
    L"\u2022 Application files\n"
    L"\u2022 Firewall rules\n"
    L"\u2022 Configuration data\n"
    L"\u2022 Scheduled tasks\n\n"
    L"Are you sure you want to uninstall?";

// The window procedure of "TSLInstallerClass": WM_CREATE, WM_DESTROY,
// WM_PAINT, WM_ERASEBKGND, WM_MOUSEMOVE, WM_LBUTTONUP, WM_MOUSELEAVE,
// WM_DPICHANGED and WM_CLOSE are handled here, everything else by
// DefWindowProcW.
platform::LResult MainWindowProc(platform::WindowHandle window, uint32_t message,
                                 platform::WParam wParam, platform::LParam lParam);

// WM_CREATE: asks DWM for the dark title bar; its answer does not matter.
void OnWindowCreated(platform::WindowHandle window);

// WM_MOUSEMOVE at client point (x, y): keeps g_hoverButton on the button
// under the pointer, repainting when it changes, and renews the request for
// WM_MOUSELEAVE.
void OnMouseMove(platform::WindowHandle window, int x, int y);

// WM_MOUSELEAVE: no button is under the pointer any more.
void OnMouseLeave(platform::WindowHandle window);

// WM_LBUTTONUP at (x, y): the action of the button released on, if any:
// Install or Update starts the install; Uninstall asks first; Cancel asks
// and then sets g_cancelRequested.
void OnClick(platform::WindowHandle window, int x, int y);

// WM_DPICHANGED to `dpi`: new metrics, fonts and header icon, the window
// moved to the suggested outer rectangle, and a full repaint.
void OnDpiChanged(platform::WindowHandle window, int32_t dpi, const platform::Rect& suggested);

// WM_CLOSE: true when the window may be destroyed now. While an operation
// runs the user is asked whether to cancel it (No keeps it running); with a
// Yes, or while a worker is still finishing, the close waits for the worker,
// which posts WM_CLOSE again when it has ended.
bool OnCloseRequested(platform::WindowHandle window);

#endif  // APP_MAIN_WINDOW_H_
