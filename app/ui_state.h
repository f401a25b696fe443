// State shared by the window (UI thread) and the running operation (worker
// thread), and the three calls through which the worker reports progress.
// No locks: each flag has one writer at a time and readers tolerate a value
// one paint old; the texts cross threads through the window system.
#ifndef APP_UI_STATE_H_
#define APP_UI_STATE_H_

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/types.h"

extern std::atomic<int32_t> g_progressPercent;     // 0..100, painted as "%d%%"
extern std::atomic<bool> g_operationInProgress;    // up while a sequence runs
extern std::atomic<bool> g_cancelRequested;        // set by the window on a confirmed Cancel
extern bool g_uninstallMode;                       // from the command line
extern bool g_silentMode;                          // from the command line
extern platform::WindowHandle g_mainWindow;
extern platform::WindowHandle g_statusLabel;       // hidden label holding the status line
extern platform::WindowHandle g_detailLabel;       // hidden label holding the detail line

// Replace the status (or detail) line and repaint at once; nothing happens
// while the label does not exist yet.
void SetStatusText(const std::wstring& text);
void SetDetailText(const std::wstring& text);

// Store the percentage and repaint at once.
void SetProgress(int32_t percent);

// Relaxed accessors for the flags: no other data is published through them.
inline bool CancelRequested() { return g_cancelRequested.load(std::memory_order_relaxed); }
inline void SetOperationInProgress(bool busy) {
  g_operationInProgress.store(busy, std::memory_order_relaxed);
}

#endif  // APP_UI_STATE_H_
