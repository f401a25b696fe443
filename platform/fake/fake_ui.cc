// The fake's window manager: classes, windows made by CreateWindowExW with
// their procedures, the UI thread's message queue, mouse tracking, the
// screen and its DPI, and the process-wide set-up calls. Text, invalid area
// and client size of a window live in fake_window.cc like those of every
// window; this unit adds what only real windows have.
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <deque>
#include <map>

#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/ui.h"
#include "platform/window.h"

namespace fake {
namespace {

using namespace platform;

constexpr uint32_t kErrorResourceTypeNotFound = 1813;
constexpr uint32_t kErrorResourceNameNotFound = 1814;
constexpr HResult kEHandle = static_cast<HResult>(0x80070006);
constexpr uintptr_t kSharedIconBase = 0x58000;
constexpr uintptr_t kArrowCursor = 0x59000;
constexpr uintptr_t kScreenDcBase = 0x5A000;

// Non-client metrics of a captioned, fixed-size window at 96 DPI, as
// Windows 10 lays it out (a 520 x 320 window has a 504 x 281 client area);
// they scale with the window's DPI.
constexpr int kFrame = 8;
constexpr int kCaption = 23;

struct ClassRecord {
  WindowClass wc;
  Atom atom = 0;
};

struct WindowRecord {
  std::wstring className;
  WindowProc proc = nullptr;
  uint32_t style = 0;
  uint32_t exStyle = 0;
  WindowHandle parent = nullptr;
  uintptr_t id = 0;
  InstanceHandle instance = nullptr;
  Rect rect{};  // outer, in the parent's client coordinates (screen for top level)
  bool visible = false;
  int dpi = 96;
  int thread = 0;
  bool tracking = false;
  std::map<uint32_t, std::string> dwm;
};

std::map<std::wstring, ClassRecord> g_classes;  // by upper-cased name
Atom g_nextAtom = 0xC000;
std::map<uintptr_t, WindowRecord> g_records;
std::vector<WindowHandle> g_creationOrder;
std::deque<PostedMessage> g_queue;
bool g_quit = false;
int32_t g_quitCode = 0;
std::deque<std::function<void()>> g_idleActions;
std::vector<PostedMessage> g_delivered;
std::vector<WindowPosCall> g_windowPosCalls;
std::vector<MouseTrackCall> g_trackCalls;
WindowHandle g_pointerOver = nullptr;
int g_screenWidth = 1920;
int g_screenHeight = 1080;
int g_screenDpi = 96;
DpiAwarenessContext g_awareness = 0;
bool g_awarenessSet = false;
uint32_t g_iccClasses = 0;
uint32_t g_failNextCreateWindow = 0;
std::map<uintptr_t, WindowHandle> g_screenDcs;
uintptr_t g_nextScreenDc = kScreenDcBase;

std::wstring Upper(const std::wstring& text) {
  std::wstring out = text;
  for (wchar_t& c : out) c = static_cast<wchar_t>(std::towupper(c));
  return out;
}

uintptr_t Key(const void* handle) { return reinterpret_cast<uintptr_t>(handle); }

WindowRecord* Record(WindowHandle window) {
  auto it = g_records.find(Key(window));
  return it == g_records.end() ? nullptr : &it->second;
}

WindowRecord* RecordOrError(WindowHandle window) {
  WindowRecord* r = Record(window);
  if (!r) SetLastError(kErrorInvalidWindowHandle);
  return r;
}

// The system's classes that this program uses.
LResult StaticProc(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

void ResetUi() {
  g_classes.clear();
  g_nextAtom = 0xC000;
  g_records.clear();
  g_creationOrder.clear();
  g_queue.clear();
  g_quit = false;
  g_quitCode = 0;
  g_idleActions.clear();
  g_delivered.clear();
  g_windowPosCalls.clear();
  g_trackCalls.clear();
  g_pointerOver = nullptr;
  g_screenWidth = 1920;
  g_screenHeight = 1080;
  g_screenDpi = 96;
  g_awareness = 0;
  g_awarenessSet = false;
  g_iccClasses = 0;
  g_failNextCreateWindow = 0;
  g_screenDcs.clear();
  g_nextScreenDc = kScreenDcBase;
  ClassRecord staticClass;
  staticClass.wc.windowProc = StaticProc;
  staticClass.wc.className = L"Static";
  staticClass.atom = 0x8001;
  g_classes[L"STATIC"] = staticClass;
}

ResetHook g_resetUi(ResetUi);
const bool g_uiReady = (ResetUi(), true);

bool DpiAware() { return g_awareness != 0; }

// The DPI a window of this process is created at.
int ProcessDpi() { return DpiAware() ? g_screenDpi : 96; }

int Scaled(int value, int dpi) { return value * dpi / 96; }

// Keeps fake_window.cc's client size in step with the outer rectangle.
void UpdateClientSize(WindowHandle window, const WindowRecord& r) {
  int width = r.rect.right - r.rect.left;
  int height = r.rect.bottom - r.rect.top;
  if (r.style & kWsCaption) {
    width -= 2 * Scaled(kFrame, r.dpi);
    height -= Scaled(kCaption, r.dpi) + 2 * Scaled(kFrame, r.dpi);
  }
  SetClientSize(window, width < 0 ? 0 : width, height < 0 ? 0 : height);
}

LResult Deliver(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  WindowRecord* r = Record(window);
  if (!r) return 0;
  WindowProc proc = r->proc;
  g_delivered.push_back(PostedMessage{window, message, wParam, lParam});
  return proc(window, message, wParam, lParam);
}

void Post(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  g_queue.push_back(PostedMessage{window, message, wParam, lParam});
}

[[noreturn]] void WouldHang(const char* where) {
  std::fprintf(stderr,
               "fake %s: the UI thread would wait forever (no message, no paint, no thread to run, "
               "no WhenIdle action left)\n",
               where);
  std::abort();
}

void Fill(Msg* msg, const PostedMessage& m) {
  *msg = Msg{};
  msg->window = m.window;
  msg->message = m.message;
  msg->wParam = m.wParam;
  msg->lParam = m.lParam;
}

// The window that needs painting first, as the UI thread finds it once its
// queue is empty.
WindowHandle InvalidVisibleWindow() {
  for (WindowHandle window : g_creationOrder) {
    WindowRecord* r = Record(window);
    if (r && r->visible && r->thread == UiThread() && NeedsPaint(window)) return window;
  }
  return nullptr;
}

}  // namespace

void SendPaintMessage(WindowHandle window) {
  if (Record(window)) Deliver(window, kWmPaint, 0, 0);
}

void ServeFromWindowThread(WindowHandle window) {
  WindowRecord* r = Record(window);
  if (!r || r->thread == CurrentThread()) return;
  // The window's thread, waiting in GetMessageW, handles what was posted to
  // it before it gets to the call from this thread.
  int caller = CurrentThread();
  SetCurrentThread(r->thread);
  while (!g_queue.empty()) {
    PostedMessage m = g_queue.front();
    g_queue.pop_front();
    Msg msg;
    Fill(&msg, m);
    DispatchMessageW(&msg);
  }
  SetCurrentThread(caller);
}

void SetScreen(int width, int height, int dpi) {
  g_screenWidth = width;
  g_screenHeight = height;
  g_screenDpi = dpi;
}

DpiAwarenessContext ProcessDpiAwarenessContext() { return g_awareness; }

uint32_t CommonControlClasses() { return g_iccClasses; }

std::optional<WindowClass> ClassNamed(const std::wstring& className) {
  auto it = g_classes.find(Upper(className));
  if (it == g_classes.end()) return std::nullopt;
  return it->second.wc;
}

std::optional<WindowInfo> InfoOf(WindowHandle window) {
  WindowRecord* r = Record(window);
  if (!r) return std::nullopt;
  WindowInfo info;
  info.className = r->className;
  info.text = GetWindowTextW(window, 4096);
  info.style = r->style;
  info.exStyle = r->exStyle;
  info.parent = r->parent;
  info.id = r->id;
  info.instance = r->instance;
  GetWindowRect(window, &info.rect);
  info.visible = r->visible;
  info.dpi = r->dpi;
  return info;
}

std::vector<WindowHandle> WindowsOfClass(const std::wstring& className) {
  std::vector<WindowHandle> found;
  for (WindowHandle window : g_creationOrder) {
    WindowRecord* r = Record(window);
    if (r && Upper(r->className) == Upper(className)) found.push_back(window);
  }
  return found;
}

const std::vector<PostedMessage>& DeliveredMessages() { return g_delivered; }

const std::vector<WindowPosCall>& WindowPosCalls() { return g_windowPosCalls; }

const std::vector<MouseTrackCall>& MouseTrackCalls() { return g_trackCalls; }

std::optional<std::string> DwmAttribute(WindowHandle window, uint32_t attribute) {
  WindowRecord* r = Record(window);
  if (!r || !r->dwm.count(attribute)) return std::nullopt;
  return r->dwm[attribute];
}

std::vector<PostedMessage> QueuedMessages() {
  return std::vector<PostedMessage>(g_queue.begin(), g_queue.end());
}

void FailNextCreateWindow(uint32_t code) { g_failNextCreateWindow = code; }

void WhenIdle(std::function<void()> action) { g_idleActions.push_back(std::move(action)); }

void MovePointer(WindowHandle window, int x, int y) {
  if (g_pointerOver && g_pointerOver != window) MovePointerAway(g_pointerOver);
  g_pointerOver = window;
  Post(window, kWmMouseMove, 0, MakeLParam(static_cast<uint16_t>(x), static_cast<uint16_t>(y)));
}

void MovePointerAway(WindowHandle window) {
  if (g_pointerOver != window) return;
  g_pointerOver = nullptr;
  WindowRecord* r = Record(window);
  if (r && r->tracking) {
    r->tracking = false;
    Post(window, kWmMouseLeave, 0, 0);
  }
}

void PressLeftButton(WindowHandle window, int x, int y) {
  MovePointer(window, x, y);
  Post(window, kWmLButtonDown, kMkLButton,
       MakeLParam(static_cast<uint16_t>(x), static_cast<uint16_t>(y)));
}

void ReleaseLeftButton(WindowHandle window, int x, int y) {
  MovePointer(window, x, y);
  Post(window, kWmLButtonUp, 0, MakeLParam(static_cast<uint16_t>(x), static_cast<uint16_t>(y)));
}

void Click(WindowHandle window, int x, int y) {
  PressLeftButton(window, x, y);
  ReleaseLeftButton(window, x, y);
}

void PressCloseBox(WindowHandle window) { Post(window, kWmSysCommand, kScClose, 0); }

void ChangeDpi(WindowHandle window, int dpi, const Rect& suggested) {
  WindowRecord* r = Record(window);
  if (!r) return;
  // Only a per-monitor aware process hears of it; Windows stretches the
  // others' windows as bitmaps.
  if (g_awareness != kDpiAwarenessContextPerMonitorAwareV2) return;
  r->dpi = dpi;
  UpdateClientSize(window, *r);
  Rect copy = suggested;
  Deliver(window, kWmDpiChanged, MakeWParam(static_cast<uint16_t>(dpi), static_cast<uint16_t>(dpi)),
          reinterpret_cast<LParam>(&copy));
}

}  // namespace fake

namespace platform {

using fake::g_records;

Atom RegisterClassExW(const WindowClass& windowClass) {
  if (!windowClass.windowProc || windowClass.className.empty()) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  std::wstring key = fake::Upper(windowClass.className);
  auto it = fake::g_classes.find(key);
  if (it != fake::g_classes.end() && it->second.wc.instance == windowClass.instance) {
    SetLastError(kErrorClassAlreadyExists);
    return 0;
  }
  fake::ClassRecord record;
  record.wc = windowClass;
  record.atom = fake::g_nextAtom++;
  fake::g_classes[key] = record;
  return record.atom;
}

WindowHandle CreateWindowExW(uint32_t exStyle, const std::wstring& className,
                             const std::wstring& windowName, uint32_t style, int32_t x, int32_t y,
                             int32_t width, int32_t height, WindowHandle parent, uintptr_t menuOrId,
                             InstanceHandle instance) {
  auto it = fake::g_classes.find(fake::Upper(className));
  // A class of the program is found only with the module that registered
  // it; the system's classes (no module) with any.
  if (it == fake::g_classes.end() ||
      (it->second.wc.instance && it->second.wc.instance != instance)) {
    SetLastError(kErrorCannotFindWndClass);
    return nullptr;
  }
  if (fake::g_failNextCreateWindow) {
    SetLastError(fake::g_failNextCreateWindow);
    fake::g_failNextCreateWindow = 0;
    return nullptr;
  }
  if ((style & kWsChild) && !parent) {
    SetLastError(kErrorTlwWithWsChild);
    return nullptr;
  }
  if (parent && !fake::Record(parent)) {
    SetLastError(kErrorInvalidWindowHandle);
    return nullptr;
  }
  WindowHandle window = fake::CreateWindowForTesting(windowName);
  fake::WindowRecord record;
  record.className = it->second.wc.className;
  record.proc = it->second.wc.windowProc;
  record.style = style;
  record.exStyle = exStyle;
  record.parent = parent;
  record.id = menuOrId;
  record.instance = instance;
  record.rect = Rect{x, y, x + width, y + height};
  record.visible = (style & kWsVisible) != 0;
  record.dpi = parent ? fake::Record(parent)->dpi : fake::ProcessDpi();
  record.thread = fake::CurrentThread();
  g_records[fake::Key(window)] = record;
  fake::g_creationOrder.push_back(window);
  fake::UpdateClientSize(window, record);
  if (fake::Deliver(window, kWmNcCreate, 0, 0) == 0 ||
      fake::Deliver(window, kWmCreate, 0, 0) == -1) {
    DestroyWindow(window);
    return nullptr;
  }
  if (record.visible) InvalidateRect(window, nullptr, true);
  return window;
}

LResult DefWindowProcW(WindowHandle window, uint32_t message, WParam wParam, LParam) {
  switch (message) {
    case kWmNcCreate:
      return 1;
    case kWmClose:
      DestroyWindow(window);
      return 0;
    case kWmSysCommand:
      if ((wParam & 0xFFF0) == kScClose) fake::Deliver(window, kWmClose, 0, 0);
      return 0;
    case kWmPaint: {
      bool erase = false;
      fake::TakeUpdateRegion(window, &erase);
      return 0;
    }
    case kWmEraseBkgnd:
      return 0;  // no class brush: nothing erased
  }
  return 0;
}

bool DestroyWindow(WindowHandle window) {
  fake::WindowRecord* r = fake::RecordOrError(window);
  if (!r) return false;
  if (r->thread != fake::CurrentThread()) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  r->visible = false;
  std::vector<WindowHandle> children;
  for (WindowHandle w : fake::g_creationOrder) {
    fake::WindowRecord* c = fake::Record(w);
    if (c && c->parent == window) children.push_back(w);
  }
  fake::Deliver(window, kWmDestroy, 0, 0);
  for (WindowHandle child : children) {
    if (fake::Record(child)) fake::Deliver(child, kWmDestroy, 0, 0);
  }
  for (WindowHandle child : children) {
    if (fake::Record(child)) fake::Deliver(child, kWmNcDestroy, 0, 0);
  }
  fake::Deliver(window, kWmNcDestroy, 0, 0);
  children.push_back(window);
  for (WindowHandle w : children) {
    g_records.erase(fake::Key(w));
    fake::ForgetWindow(w);
    if (fake::g_pointerOver == w) fake::g_pointerOver = nullptr;
    for (auto m = fake::g_queue.begin(); m != fake::g_queue.end();) {
      m = m->window == w ? fake::g_queue.erase(m) : m + 1;
    }
  }
  return true;
}

void PostQuitMessage(int32_t exitCode) {
  fake::g_quit = true;
  fake::g_quitCode = exitCode;
}

bool PostMessageW(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  if (!fake::RecordOrError(window)) return false;
  fake::Post(window, message, wParam, lParam);
  return true;
}

int32_t GetMessageW(Msg* msg) {
  for (;;) {
    if (!fake::g_queue.empty()) {
      fake::PostedMessage m = fake::g_queue.front();
      fake::g_queue.pop_front();
      fake::Fill(msg, m);
      return 1;
    }
    if (fake::g_quit) {
      fake::g_quit = false;
      fake::Fill(msg, fake::PostedMessage{nullptr, kWmQuit,
                                          static_cast<WParam>(static_cast<uint32_t>(fake::g_quitCode)), 0});
      return 0;
    }
    if (WindowHandle window = fake::InvalidVisibleWindow()) {
      fake::Fill(msg, fake::PostedMessage{window, kWmPaint, 0, 0});
      return 1;
    }
    if (fake::RunPendingThreads() > 0) continue;
    if (fake::g_idleActions.empty()) fake::WouldHang("GetMessageW");
    std::function<void()> action = std::move(fake::g_idleActions.front());
    fake::g_idleActions.pop_front();
    action();
  }
}

bool TranslateMessage(const Msg*) { return false; }

LResult DispatchMessageW(const Msg* msg) {
  if (!msg->window || !fake::Record(msg->window)) return 0;
  LResult result = fake::Deliver(msg->window, msg->message, msg->wParam, msg->lParam);
  if (msg->message == kWmPaint) fake::NotifyPaint(msg->window);
  return result;
}

bool TrackMouseEvent(uint32_t flags, WindowHandle window, uint32_t hoverTime) {
  fake::WindowRecord* r = fake::RecordOrError(window);
  if (!r) return false;
  fake::g_trackCalls.push_back(fake::MouseTrackCall{window, flags, hoverTime});
  if (flags & kTmeLeave) {
    if (fake::g_pointerOver == window) {
      r->tracking = true;
    } else {
      r->tracking = false;
      fake::Post(window, kWmMouseLeave, 0, 0);
    }
  }
  return true;
}

bool SetWindowPos(WindowHandle window, WindowHandle insertAfter, int32_t x, int32_t y,
                  int32_t width, int32_t height, uint32_t flags) {
  fake::WindowRecord* r = fake::RecordOrError(window);
  if (!r) return false;
  fake::g_windowPosCalls.push_back(
      fake::WindowPosCall{window, insertAfter, x, y, width, height, flags});
  Rect& rect = r->rect;
  if (!(flags & kSwpNoMove)) {
    rect = Rect{x, y, x + rect.right - rect.left, y + rect.bottom - rect.top};
  }
  if (!(flags & kSwpNoSize)) {
    rect.right = rect.left + width;
    rect.bottom = rect.top + height;
  }
  fake::UpdateClientSize(window, *r);
  return true;
}

bool GetWindowRect(WindowHandle window, Rect* rect) {
  fake::WindowRecord* r = fake::RecordOrError(window);
  if (!r) return false;
  *rect = r->rect;
  // A child's rectangle is kept relative to its parent's client area.
  for (fake::WindowRecord* p = fake::Record(r->parent); p; p = fake::Record(p->parent)) {
    int left = p->rect.left;
    int top = p->rect.top;
    if (p->style & kWsCaption) {
      left += fake::Scaled(fake::kFrame, p->dpi);
      top += fake::Scaled(fake::kCaption, p->dpi) + fake::Scaled(fake::kFrame, p->dpi);
    }
    *rect = Rect{rect->left + left, rect->top + top, rect->right + left, rect->bottom + top};
  }
  return true;
}

bool ShowWindow(WindowHandle window, int32_t command) {
  fake::WindowRecord* r = fake::Record(window);
  if (!r) return false;
  bool wasVisible = r->visible;
  r->visible = command != 0;  // SW_HIDE
  if (r->visible && !wasVisible) InvalidateRect(window, nullptr, true);
  return wasVisible;
}

int32_t GetSystemMetrics(int32_t index) {
  int scale = fake::DpiAware() ? 96 : fake::g_screenDpi;
  switch (index) {
    case kSmCxScreen:
      return fake::g_screenWidth * 96 / scale;
    case kSmCyScreen:
      return fake::g_screenHeight * 96 / scale;
  }
  return 0;
}

DcHandle GetDC(WindowHandle window) {
  if (window && !fake::RecordOrError(window)) return nullptr;
  uintptr_t dc = fake::g_nextScreenDc;
  fake::g_nextScreenDc += 4;
  fake::g_screenDcs[dc] = window;
  return reinterpret_cast<DcHandle>(dc);
}

int GetDeviceCaps(DcHandle dc, int index) {
  if (!fake::g_screenDcs.count(fake::Key(dc))) return 0;
  if (index == kLogPixelsX || index == kLogPixelsY) return fake::ProcessDpi();
  return 0;
}

int ReleaseDC(WindowHandle window, DcHandle dc) {
  auto it = fake::g_screenDcs.find(fake::Key(dc));
  if (it == fake::g_screenDcs.end() || it->second != window) return 0;
  fake::g_screenDcs.erase(it);
  return 1;
}

IconHandle LoadIconW(InstanceHandle instance, int resourceId) {
  // The same lookup as LoadImageW; the icon LoadIconW hands out is shared
  // and belongs to the system, so the probe is given back at once.
  IconHandle probe = LoadImageW(instance, resourceId, kImageIcon, 32, 32, kLrDefaultColor);
  if (!probe) return nullptr;
  DestroyIcon(probe);
  return reinterpret_cast<IconHandle>(fake::kSharedIconBase + static_cast<uintptr_t>(resourceId));
}

CursorHandle LoadCursorW(InstanceHandle instance, int cursorId) {
  if (instance) {
    SetLastError(fake::kErrorResourceTypeNotFound);
    return nullptr;
  }
  if (cursorId != kIdcArrow) {
    SetLastError(fake::kErrorResourceNameNotFound);
    return nullptr;
  }
  return reinterpret_cast<CursorHandle>(fake::kArrowCursor);
}

bool SetProcessDpiAwarenessContext(DpiAwarenessContext context) {
  // DPI_AWARENESS_CONTEXT_UNAWARE (-1) to _UNAWARE_GDISCALED (-5).
  if (context > -1 || context < -5) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (fake::g_awarenessSet) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  fake::g_awarenessSet = true;
  // Unaware (-1) is a setting too, but it leaves the process unaware.
  fake::g_awareness = context == -1 ? 0 : context;
  return true;
}

bool InitCommonControlsEx(uint32_t classes) {
  fake::g_iccClasses |= classes;
  return true;
}

HResult DwmSetWindowAttribute(WindowHandle window, uint32_t attribute, const void* value,
                              uint32_t size) {
  fake::WindowRecord* r = fake::Record(window);
  if (!r) return fake::kEHandle;
  if (!value || (attribute == kDwmwaUseImmersiveDarkMode && size != 4)) return kEInvalidArg;
  r->dwm[attribute] = std::string(static_cast<const char*>(value), size);
  return kSOk;
}

}  // namespace platform
