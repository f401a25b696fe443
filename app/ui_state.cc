#include "app/ui_state.h"

#include "platform/dialog.h"
#include "platform/security.h"
#include "platform/session.h"
#include "platform/thread.h"
#include "platform/trace.h"
#include "platform/ui.h"
#include "platform/window.h"

using namespace platform;

std::atomic<int32_t> g_progressPercent{0};
std::atomic<bool> g_operationInProgress{false};
std::atomic<bool> g_cancelRequested{false};
std::atomic<bool> g_workerRunning{false};
std::atomic<bool> g_closePending{false};
std::atomic<int32_t> g_exitCode{kExitSuccess};
bool g_uninstallMode = false;
bool g_silentMode = false;
platform::WindowHandle g_mainWindow = nullptr;
platform::WindowHandle g_statusLabel = nullptr;
platform::WindowHandle g_detailLabel = nullptr;

static void RepaintNow() {
  // Without a window (an unattended run) there is nothing to repaint, and a
  // null window would mean every window of the desktop.
  if (!g_mainWindow) return;
  platform::InvalidateRect(g_mainWindow, nullptr, false);
  platform::UpdateWindow(g_mainWindow);
}

static void SetLabelText(platform::WindowHandle label, const std::wstring& text) {
  if (!label) return;
  platform::SetWindowTextW(label, text);
  RepaintNow();
}

void SetStatusText(const std::wstring& text) { SetLabelText(g_statusLabel, text); }

void SetDetailText(const std::wstring& text) { SetLabelText(g_detailLabel, text); }

void SetProgress(int32_t percent) {
  g_progressPercent.store(percent, std::memory_order_relaxed);
  RepaintNow();
}

bool g_unattended = false;

namespace {

// One trace line per box, so that a reader of the trace can grep for it.
std::wstring OnOneLine(const std::wstring& text) {
  std::wstring line;
  bool inBreak = false;
  for (wchar_t c : text) {
    if (c == L'\n' || c == L'\r') {
      inBreak = true;
      continue;
    }
    if (inBreak && !line.empty()) line += L" | ";
    inBreak = false;
    line += c;
  }
  return line;
}

int32_t UnansweredBox(uint32_t type) {
  switch (type & 0xF) {
    case kMbYesNo:
      return kIdNo;
    case kMbOkCancel:
    case kMbYesNoCancel:
      return kIdCancel;
    default:
      return kIdOk;
  }
}

}  // namespace

const wchar_t* RunTag() { return g_uninstallMode ? L"[Uninstall] " : L"[Install] "; }

bool IsUnattendedRun() {
  uint32_t session = 0;
  if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0) return true;
  UserObjectFlags flags{};
  uint32_t needed = 0;
  if (GetUserObjectInformationW(GetProcessWindowStation(), kUoiFlags, &flags, sizeof(flags),
                                &needed)) {
    return (flags.flags & kWsfVisible) == 0;
  }
  return false;
}

bool IsLocalSystem() {
  const uint32_t subAuthorities[8] = {kSecurityLocalSystemRid};
  Sid system = nullptr;
  if (!AllocateAndInitializeSid(kSecurityNtAuthority, 1, subAuthorities, &system)) return false;
  bool member = false;
  if (!CheckTokenMembership(nullptr, system, &member)) member = false;
  FreeSid(system);
  return member;
}

int32_t ShowMessageBox(WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                       uint32_t type) {
  if (!g_unattended) return MessageBoxW(owner, text, caption, type);
  // Wide: the texts carry paths and bullets.
  OutputDebugStringW(RunTag() + caption + L": " + OnOneLine(text) + L"\n");
  return UnansweredBox(type);
}

bool StartWorker(ThreadProc proc) {
  if (g_workerRunning.load() || g_closePending.load()) return false;
  // Cleared here, on the UI thread: a cancel confirmed between this click
  // and the worker's first step then still counts.
  g_cancelRequested.store(false, std::memory_order_relaxed);
  SetOperationInProgress(true);
  g_workerRunning.store(true);
  Handle thread = CreateThread(proc, nullptr, 0, nullptr);
  if (!thread) {
    g_workerRunning.store(false);
    SetOperationInProgress(false);
    return false;
  }
  CloseHandle(thread);
  return true;
}

void EndWorker() {
  g_workerRunning.store(false);
  if (g_closePending.load()) PostMessageW(g_mainWindow, kWmClose, 0, 0);
}
