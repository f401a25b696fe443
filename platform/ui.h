// The window system as the program's one window uses it: window classes and
// windows, the thread's message queue, mouse tracking, placement, the
// screen, the process's DPI awareness, the common controls and the DWM title
// bar. Mirrors of the user32, comctl32 and dwmapi calls of the same name.
// Windows' own numbers throughout (WM_*, WS_*, SWP_*, SM_*).
#ifndef PLATFORM_UI_H_
#define PLATFORM_UI_H_

#include <cstdint>
#include <string>

#include "platform/draw.h"
#include "platform/types.h"

namespace platform {

using WParam = uintptr_t;
using LParam = intptr_t;
using LResult = intptr_t;
using CursorHandle = void*;  // HCURSOR
using Atom = uint16_t;

// WNDPROC as it is on 64-bit Windows.
using WindowProc = LResult (*)(WindowHandle window, uint32_t message, WParam wParam,
                               LParam lParam);

// ---- Messages ----
constexpr uint32_t kWmCreate = 0x0001;
constexpr uint32_t kWmDestroy = 0x0002;
constexpr uint32_t kWmPaint = 0x000F;
constexpr uint32_t kWmClose = 0x0010;
constexpr uint32_t kWmQuit = 0x0012;
constexpr uint32_t kWmEraseBkgnd = 0x0014;
constexpr uint32_t kWmNcCreate = 0x0081;
constexpr uint32_t kWmNcDestroy = 0x0082;
constexpr uint32_t kWmSysCommand = 0x0112;
constexpr uint32_t kWmMouseMove = 0x0200;
constexpr uint32_t kWmLButtonDown = 0x0201;
constexpr uint32_t kWmLButtonUp = 0x0202;
constexpr uint32_t kWmMouseLeave = 0x02A3;
constexpr uint32_t kWmDpiChanged = 0x02E0;

constexpr WParam kScClose = 0xF060;  // WM_SYSCOMMAND: the close box, Alt+F4
constexpr WParam kMkLButton = 0x0001;

// MAKELPARAM / MAKEWPARAM: low word, high word.
constexpr LParam MakeLParam(uint16_t low, uint16_t high) {
  return static_cast<LParam>(static_cast<uint32_t>(low) | (static_cast<uint32_t>(high) << 16));
}
constexpr WParam MakeWParam(uint16_t low, uint16_t high) {
  return static_cast<WParam>(static_cast<uint32_t>(low) | (static_cast<uint32_t>(high) << 16));
}

// ---- Styles ----
constexpr uint32_t kWsChild = 0x40000000;
constexpr uint32_t kWsVisible = 0x10000000;
constexpr uint32_t kWsCaption = 0x00C00000;
constexpr uint32_t kWsSysMenu = 0x00080000;
constexpr uint32_t kWsThickFrame = 0x00040000;
constexpr uint32_t kWsMinimizeBox = 0x00020000;
constexpr uint32_t kWsMaximizeBox = 0x00010000;
constexpr uint32_t kWsExAppWindow = 0x00040000;

// ---- Errors of the window manager ----
constexpr uint32_t kErrorTlwWithWsChild = 1406;
constexpr uint32_t kErrorCannotFindWndClass = 1407;
constexpr uint32_t kErrorClassAlreadyExists = 1410;

// What RegisterClassExW is given: WNDCLASSEXW of its own size, without class
// or window extra bytes and without a menu, which this program never asks
// for.
struct WindowClass {
  uint32_t style = 0;
  WindowProc windowProc = nullptr;
  InstanceHandle instance = nullptr;
  IconHandle icon = nullptr;
  CursorHandle cursor = nullptr;
  GdiHandle background = nullptr;  // null: WM_ERASEBKGND erases nothing
  std::wstring className;
  IconHandle smallIcon = nullptr;
};

// RegisterClassExW: the class's atom, or 0 with 1410 when the module already
// has a class of that name (compared case-insensitively), 87 without a
// procedure or a name.
Atom RegisterClassExW(const WindowClass& windowClass);

// CreateWindowExW(exStyle, class, title, style, x, y, width, height, parent,
// menu or child id, instance, no creation data). Sends WM_NCCREATE and then
// WM_CREATE to the class's procedure before it returns; a WM_CREATE answer
// of -1 destroys the window again and null comes back. The window is hidden
// unless the style has WS_VISIBLE. Null with 1407 for an unknown class, 1406
// for WS_CHILD without a parent, 1400 for a parent that is not a window.
WindowHandle CreateWindowExW(uint32_t exStyle, const std::wstring& className,
                             const std::wstring& windowName, uint32_t style, int32_t x, int32_t y,
                             int32_t width, int32_t height, WindowHandle parent, uintptr_t menuOrId,
                             InstanceHandle instance);

// DefWindowProcW: the default handling this program relies on. WM_CLOSE
// destroys the window; WM_SYSCOMMAND with SC_CLOSE sends WM_CLOSE;
// WM_NCCREATE answers TRUE; WM_PAINT validates the window; WM_ERASEBKGND
// fills with the class brush (none here) and answers whether it erased.
LResult DefWindowProcW(WindowHandle window, uint32_t message, WParam wParam, LParam lParam);

// DestroyWindow: hides the window, sends WM_DESTROY to it and then to its
// children, then WM_NCDESTROY, and frees them all; messages still posted to
// them are dropped. False with 1400 for no window, 5 when called from a
// thread that did not create it.
bool DestroyWindow(WindowHandle window);

// PostQuitMessage: once the thread's posted messages are handled, its
// GetMessageW returns 0 with WM_QUIT carrying exitCode.
void PostQuitMessage(int32_t exitCode);

// PostMessageW: queues the message for the window's thread and returns at
// once, from any thread. False with 1400 for a window that does not exist
// (any more).
bool PostMessageW(WindowHandle window, uint32_t message, WParam wParam, LParam lParam);

// A queued message, as GetMessageW fills it in; TranslateMessage and
// DispatchMessageW need it back unchanged.
struct Msg {
  WindowHandle window;
  uint32_t message;
  WParam wParam;
  LParam lParam;
  // The system's own MSG, kept whole.
  alignas(8) unsigned char native[48];
};

// GetMessageW(msg, every window of the calling thread, no filter): waits for
// a message. Greater than 0 for a message, 0 for WM_QUIT (msg->wParam is the
// exit code of PostQuitMessage), -1 on error.
int32_t GetMessageW(Msg* msg);

// TranslateMessage: posts the character messages of a key message; true
// when it did.
bool TranslateMessage(const Msg* msg);

// DispatchMessageW: calls the window procedure of msg->window and returns
// its result; a message without a window is not dispatched (0).
LResult DispatchMessageW(const Msg* msg);

// ---- Mouse ----
constexpr uint32_t kTmeLeave = 0x00000002;

// TrackMouseEvent with a TRACKMOUSEEVENT of its own size: with TME_LEAVE,
// one WM_MOUSELEAVE is posted to the window when the pointer leaves its
// client area (at once when it is not over it), after which the request has
// ended and has to be made again. False with 1400 for no window.
bool TrackMouseEvent(uint32_t flags, WindowHandle window, uint32_t hoverTime);

// ---- Placement ----
constexpr uint32_t kSwpNoSize = 0x0001;
constexpr uint32_t kSwpNoMove = 0x0002;
constexpr uint32_t kSwpNoZOrder = 0x0004;
constexpr uint32_t kSwpNoActivate = 0x0010;

constexpr int32_t kSwShow = 5;

// SetWindowPos(window, insertAfter, x, y, width, height, flags): moves and
// sizes the outer window in screen coordinates (SWP_NOMOVE, SWP_NOSIZE keep
// either). False with 1400 for no window.
bool SetWindowPos(WindowHandle window, WindowHandle insertAfter, int32_t x, int32_t y,
                  int32_t width, int32_t height, uint32_t flags);

// GetWindowRect: the outer rectangle in screen coordinates; false with 1400
// for no window.
bool GetWindowRect(WindowHandle window, Rect* rect);

// ShowWindow(window, command): true when the window was visible before.
// Showing a hidden window makes its whole client area invalid.
bool ShowWindow(WindowHandle window, int32_t command);

// ---- The screen ----
constexpr int32_t kSmCxScreen = 0;
constexpr int32_t kSmCyScreen = 1;
constexpr int kLogPixelsX = 88;
constexpr int kLogPixelsY = 90;

// GetSystemMetrics: the primary screen's width (SM_CXSCREEN) and height
// (SM_CYSCREEN) in pixels as this process sees them: scaled to 96 DPI
// unless the process is DPI aware.
int32_t GetSystemMetrics(int32_t index);

// GetDC(null): a DC of the whole screen, to be given back with ReleaseDC;
// null on failure.
DcHandle GetDC(WindowHandle window);

// GetDeviceCaps: LOGPIXELSX / LOGPIXELSY are the screen's DPI for a DPI
// aware process and 96 for one that is not.
int GetDeviceCaps(DcHandle dc, int index);

// ReleaseDC: 1 when the DC came from GetDC for that window, else 0.
int ReleaseDC(WindowHandle window, DcHandle dc);

// ---- Icons and cursors ----
constexpr int kIdcArrow = 32512;

// LoadIconW(instance, MAKEINTRESOURCEW(resourceId)): the group's icon at the
// system's large icon size, shared: never to be destroyed. Null with 1813
// (module without icons) or 1814 (no such id).
IconHandle LoadIconW(InstanceHandle instance, int resourceId);

// LoadCursorW(null instance, MAKEINTRESOURCEW(cursorId)): a shared system
// cursor; null with 1814 for an id that is not one.
CursorHandle LoadCursorW(InstanceHandle instance, int cursorId);

// ---- Process-wide set-up ----
using DpiAwarenessContext = intptr_t;  // DPI_AWARENESS_CONTEXT
constexpr DpiAwarenessContext kDpiAwarenessContextPerMonitorAwareV2 = -4;

// SetProcessDpiAwarenessContext: false with 5 once the process's awareness
// has been set (the manifest or an earlier call), 87 for a context that is
// not one.
bool SetProcessDpiAwarenessContext(DpiAwarenessContext context);

constexpr uint32_t kIccStandardClasses = 0x00004000;

// InitCommonControlsEx with an INITCOMMONCONTROLSEX of its own size and the
// classes to register.
bool InitCommonControlsEx(uint32_t classes);

// DwmSetWindowAttribute(window, attribute, value, size), from dwmapi.dll in
// System32 loaded at run time. S_OK, E_HANDLE (0x80070006) for no window,
// E_INVALIDARG for a value of the wrong size, or HRESULT_FROM_WIN32 of the
// load error when dwmapi.dll cannot be loaded.
constexpr uint32_t kDwmwaUseImmersiveDarkMode = 20;
HResult DwmSetWindowAttribute(WindowHandle window, uint32_t attribute, const void* value,
                              uint32_t size);

}  // namespace platform

#endif  // PLATFORM_UI_H_
