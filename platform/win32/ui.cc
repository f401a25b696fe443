// user32, comctl32 and dwmapi for the window. user32 and comctl32 (bound by
// the manifest) are linked directly; dwmapi is not a KnownDLL and is loaded
// from System32 at run time so that no copy beside the executable is used.
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <type_traits>

#include "platform/ui.h"

namespace platform {
namespace {

// WindowProc has WNDPROC's parameter and result types on 64-bit Windows,
// where the calling convention is the same for both.
static_assert(std::is_same<LRESULT, LResult>::value, "LRESULT");
static_assert(std::is_same<WPARAM, WParam>::value, "WPARAM");
static_assert(std::is_same<LPARAM, LParam>::value, "LPARAM");
static_assert(sizeof(UINT) == sizeof(uint32_t), "UINT");
static_assert(sizeof(MSG) <= sizeof(Msg::native), "MSG does not fit");

WNDPROC Native(WindowProc proc) {
  return reinterpret_cast<WNDPROC>(reinterpret_cast<void (*)()>(proc));
}

HWND Hwnd(WindowHandle window) { return static_cast<HWND>(window); }

void FromNative(const MSG& native, Msg* msg) {
  std::memcpy(msg->native, &native, sizeof(native));
  msg->window = native.hwnd;
  msg->message = native.message;
  msg->wParam = native.wParam;
  msg->lParam = native.lParam;
}

MSG ToNative(const Msg* msg) {
  MSG native;
  std::memcpy(&native, msg->native, sizeof(native));
  return native;
}

using DwmSetWindowAttributeFn = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);

struct Dwm {
  DwmSetWindowAttributeFn setWindowAttribute = nullptr;
  DWORD loadError = 0;
};

Dwm LoadDwm() {
  Dwm dwm;
  HMODULE module = ::LoadLibraryExW(L"dwmapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module) {
    dwm.loadError = ::GetLastError();
    return dwm;
  }
  dwm.setWindowAttribute = reinterpret_cast<DwmSetWindowAttributeFn>(
      reinterpret_cast<void (*)()>(::GetProcAddress(module, "DwmSetWindowAttribute")));
  if (!dwm.setWindowAttribute) dwm.loadError = ERROR_PROC_NOT_FOUND;
  return dwm;
}

}  // namespace

Atom RegisterClassExW(const WindowClass& windowClass) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = windowClass.style;
  wc.lpfnWndProc = Native(windowClass.windowProc);
  wc.hInstance = static_cast<HINSTANCE>(windowClass.instance);
  wc.hIcon = static_cast<HICON>(windowClass.icon);
  wc.hCursor = static_cast<HCURSOR>(windowClass.cursor);
  wc.hbrBackground = static_cast<HBRUSH>(windowClass.background);
  wc.lpszClassName = windowClass.className.c_str();
  wc.hIconSm = static_cast<HICON>(windowClass.smallIcon);
  return ::RegisterClassExW(&wc);
}

WindowHandle CreateWindowExW(uint32_t exStyle, const std::wstring& className,
                             const std::wstring& windowName, uint32_t style, int32_t x, int32_t y,
                             int32_t width, int32_t height, WindowHandle parent, uintptr_t menuOrId,
                             InstanceHandle instance) {
  return ::CreateWindowExW(exStyle, className.c_str(), windowName.c_str(), style, x, y, width,
                           height, Hwnd(parent), reinterpret_cast<HMENU>(menuOrId),
                           static_cast<HINSTANCE>(instance), nullptr);
}

LResult DefWindowProcW(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  return ::DefWindowProcW(Hwnd(window), message, wParam, lParam);
}

bool DestroyWindow(WindowHandle window) { return ::DestroyWindow(Hwnd(window)) != FALSE; }

void PostQuitMessage(int32_t exitCode) { ::PostQuitMessage(exitCode); }

bool PostMessageW(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  return ::PostMessageW(Hwnd(window), message, wParam, lParam) != FALSE;
}

int32_t GetMessageW(Msg* msg) {
  MSG native{};
  BOOL result = ::GetMessageW(&native, nullptr, 0, 0);
  FromNative(native, msg);
  return result;
}

bool TranslateMessage(const Msg* msg) {
  MSG native = ToNative(msg);
  return ::TranslateMessage(&native) != FALSE;
}

LResult DispatchMessageW(const Msg* msg) {
  MSG native = ToNative(msg);
  return ::DispatchMessageW(&native);
}

bool TrackMouseEvent(uint32_t flags, WindowHandle window, uint32_t hoverTime) {
  TRACKMOUSEEVENT tme{};
  tme.cbSize = sizeof(tme);
  tme.dwFlags = flags;
  tme.hwndTrack = Hwnd(window);
  tme.dwHoverTime = hoverTime;
  return ::TrackMouseEvent(&tme) != FALSE;
}

bool SetWindowPos(WindowHandle window, WindowHandle insertAfter, int32_t x, int32_t y,
                  int32_t width, int32_t height, uint32_t flags) {
  return ::SetWindowPos(Hwnd(window), Hwnd(insertAfter), x, y, width, height, flags) != FALSE;
}

bool GetWindowRect(WindowHandle window, Rect* rect) {
  RECT r{};
  if (!::GetWindowRect(Hwnd(window), &r)) return false;
  *rect = Rect{r.left, r.top, r.right, r.bottom};
  return true;
}

bool ShowWindow(WindowHandle window, int32_t command) {
  return ::ShowWindow(Hwnd(window), command) != FALSE;
}

int32_t GetSystemMetrics(int32_t index) { return ::GetSystemMetrics(index); }

DcHandle GetDC(WindowHandle window) { return ::GetDC(Hwnd(window)); }

int GetDeviceCaps(DcHandle dc, int index) { return ::GetDeviceCaps(static_cast<HDC>(dc), index); }

int ReleaseDC(WindowHandle window, DcHandle dc) {
  return ::ReleaseDC(Hwnd(window), static_cast<HDC>(dc));
}

IconHandle LoadIconW(InstanceHandle instance, int resourceId) {
  return ::LoadIconW(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEW(resourceId));
}

CursorHandle LoadCursorW(InstanceHandle instance, int cursorId) {
  return ::LoadCursorW(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEW(cursorId));
}

bool SetProcessDpiAwarenessContext(DpiAwarenessContext context) {
  return ::SetProcessDpiAwarenessContext(reinterpret_cast<DPI_AWARENESS_CONTEXT>(context)) != FALSE;
}

bool InitCommonControlsEx(uint32_t classes) {
  INITCOMMONCONTROLSEX icc{};
  icc.dwSize = sizeof(icc);
  icc.dwICC = classes;
  return ::InitCommonControlsEx(&icc) != FALSE;
}

HResult DwmSetWindowAttribute(WindowHandle window, uint32_t attribute, const void* value,
                              uint32_t size) {
  static const Dwm dwm = LoadDwm();
  if (!dwm.setWindowAttribute) return HRESULT_FROM_WIN32(dwm.loadError);
  return dwm.setWindowAttribute(Hwnd(window), attribute, value, size);
}

}  // namespace platform
