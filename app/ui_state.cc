#include "app/ui_state.h"

#include "platform/window.h"

std::atomic<int32_t> g_progressPercent{0};
std::atomic<bool> g_operationInProgress{false};
std::atomic<bool> g_cancelRequested{false};
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
