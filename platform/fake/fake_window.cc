// The fake's windows: each holds a text and an invalid flag; UpdateWindow
// "paints" through the test's handler, as WM_PAINT would.
#include <map>

#include "platform/draw.h"
#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/window.h"

namespace fake {
namespace {

using namespace platform;

struct FakeWindow {
  std::wstring text;
  bool invalid = false;
  bool erase = false;
  int clientWidth = 0;
  int clientHeight = 0;
};

std::map<uintptr_t, FakeWindow> g_windows;
uintptr_t g_nextWindow = 0x20000;
std::function<void(WindowHandle)> g_paint;

FakeWindow* Find(WindowHandle window) {
  auto it = g_windows.find(reinterpret_cast<uintptr_t>(window));
  if (it == g_windows.end()) {
    SetLastError(kErrorInvalidWindowHandle);
    return nullptr;
  }
  return &it->second;
}

ResetHook g_resetWindows([] {
  g_windows.clear();
  g_paint = nullptr;
});

}  // namespace

WindowHandle CreateWindowForTesting(const std::wstring& text) {
  uintptr_t value = g_nextWindow;
  g_nextWindow += 2;
  g_windows[value] = FakeWindow{text, false};
  return reinterpret_cast<WindowHandle>(value);
}

void OnPaint(std::function<void(WindowHandle)> handler) { g_paint = std::move(handler); }

bool WindowExists(WindowHandle window) {
  return g_windows.count(reinterpret_cast<uintptr_t>(window)) != 0;
}

void SetClientSize(WindowHandle window, int width, int height) {
  FakeWindow* w = Find(window);
  if (!w) return;
  w->clientWidth = width;
  w->clientHeight = height;
}

void ForgetWindow(WindowHandle window) { g_windows.erase(reinterpret_cast<uintptr_t>(window)); }

bool NeedsPaint(WindowHandle window) {
  auto it = g_windows.find(reinterpret_cast<uintptr_t>(window));
  return it != g_windows.end() && it->second.invalid;
}

void NotifyPaint(WindowHandle window) {
  if (g_paint) g_paint(window);
}

bool TakeUpdateRegion(WindowHandle window, bool* erase) {
  FakeWindow* w = Find(window);
  if (!w) return false;
  *erase = w->erase;
  w->invalid = false;
  w->erase = false;
  return true;
}

}  // namespace fake

namespace platform {

bool SetWindowTextW(WindowHandle window, const std::wstring& text) {
  fake::FakeWindow* w = fake::Find(window);
  if (!w) return false;
  w->text = text;
  return true;
}

std::wstring GetWindowTextW(WindowHandle window, int maxCount) {
  fake::FakeWindow* w = fake::Find(window);
  if (!w || maxCount <= 0) return std::wstring();
  return w->text.substr(0, static_cast<size_t>(maxCount - 1));
}

bool InvalidateRect(WindowHandle window, const Rect*, bool erase) {
  fake::FakeWindow* w = fake::Find(window);
  if (!w) return false;
  w->invalid = true;
  w->erase = w->erase || erase;
  return true;
}

bool GetClientRect(WindowHandle window, Rect* rect) {
  fake::FakeWindow* w = fake::Find(window);
  if (!w) return false;
  *rect = Rect{0, 0, w->clientWidth, w->clientHeight};
  return true;
}

bool UpdateWindow(WindowHandle window) {
  fake::ServeFromWindowThread(window);
  fake::FakeWindow* w = fake::Find(window);
  if (!w) return false;
  if (w->invalid) {
    w->invalid = false;
    fake::SendPaintMessage(window);
    if (fake::g_paint) fake::g_paint(window);
  }
  return true;
}

}  // namespace platform
