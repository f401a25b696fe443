#include "app/main_window.h"

#include "app/render.h"
#include "app/thread_procs.h"
#include "app/ui_state.h"
#include "platform/dialog.h"
#include "platform/draw.h"
#include "platform/window.h"

using namespace platform;

namespace {

constexpr wchar_t kCancelCaption[] = L"Cancel Operation";
constexpr wchar_t kCancelText[] = L"Are you sure you want to cancel?";

bool AskCancel(WindowHandle window) {
  if (ShowMessageBox(window, kCancelText, kCancelCaption, kMbYesNo | kMbIconQuestion) != kIdYes) {
    return false;
  }
  g_cancelRequested.store(true, std::memory_order_relaxed);
  return true;
}

uint16_t LowWord(uintptr_t value) { return static_cast<uint16_t>(value & 0xFFFF); }
uint16_t HighWord(uintptr_t value) { return static_cast<uint16_t>((value >> 16) & 0xFFFF); }

}  // namespace

void OnWindowCreated(WindowHandle window) {
  const int32_t enabled = 1;  // a 4-byte TRUE
  DwmSetWindowAttribute(window, kDwmwaUseImmersiveDarkMode, &enabled, sizeof(enabled));
}

void OnMouseMove(WindowHandle window, int x, int y) {
  int32_t id = HitTestButton(window, x, y);
  if (id != g_hoverButton) {
    g_hoverButton = id;
    InvalidateRect(window, nullptr, false);
  }
  // A leave request lasts until one WM_MOUSELEAVE, so every move renews it.
  TrackMouseEvent(kTmeLeave, window, 0);
}

void OnMouseLeave(WindowHandle window) {
  if (g_hoverButton == 0) return;
  g_hoverButton = 0;
  InvalidateRect(window, nullptr, false);
}

void OnClick(WindowHandle window, int x, int y) {
  switch (HitTestButton(window, x, y)) {
    case kButtonInstall:
      StartWorker(InstallThreadProc);
      break;
    case kButtonUninstall:
      if (ShowMessageBox(window, kConfirmUninstallText, kConfirmUninstallCaption,
                         kMbYesNo | kMbIconWarning) == kIdYes) {
        StartWorker(UninstallThreadProc);
      }
      break;
    case kButtonCancel:
      AskCancel(window);
      break;
  }
}

void OnDpiChanged(WindowHandle window, int32_t dpi, const Rect& suggested) {
  UpdateDpiMetrics(dpi);
  CreateUiFonts();
  if (g_appIcon) DestroyIcon(g_appIcon);
  g_appIcon = LoadImageW(g_instance, kAppIconId, kImageIcon, g_iconSize, g_iconSize,
                         kLrDefaultColor);
  SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, kSwpNoZOrder | kSwpNoActivate);
  InvalidateRect(window, nullptr, true);
}

bool OnCloseRequested(WindowHandle window) {
  // Closing under a running download or registration would leave it half
  // done: a close is a cancel, and the window waits for the worker.
  if (g_operationInProgress.load(std::memory_order_relaxed) && !AskCancel(window)) return false;
  // Pending first, then the worker's state: the worker lowers its flag
  // before it reads this one, so one of the two always sees the other.
  g_closePending.store(true);
  return !g_workerRunning.load();
}

LResult MainWindowProc(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  switch (message) {
    case kWmCreate:
      OnWindowCreated(window);
      return 0;
    case kWmDestroy:
      PostQuitMessage(0);
      return 0;
    case kWmPaint:
      PaintMainWindow(window);
      return 0;
    case kWmEraseBkgnd:
      return 1;  // the paint covers every pixel
    case kWmMouseMove:
      OnMouseMove(window, LowWord(static_cast<uintptr_t>(lParam)),
                  HighWord(static_cast<uintptr_t>(lParam)));
      return 0;
    case kWmLButtonUp:
      OnClick(window, LowWord(static_cast<uintptr_t>(lParam)),
              HighWord(static_cast<uintptr_t>(lParam)));
      return 0;
    case kWmMouseLeave:
      OnMouseLeave(window);
      return 0;
    case kWmDpiChanged:
      OnDpiChanged(window, HighWord(wParam), *reinterpret_cast<const Rect*>(lParam));
      return 0;
    case kWmClose:
      if (!OnCloseRequested(window)) return 0;
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
