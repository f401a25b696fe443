// State shared by the window (UI thread) and the running operation (worker
// thread): the exit code, the start and end of the one worker thread, the
// three calls through which the worker reports progress, and the routing of
// boxes, which depends on whether anyone watches the run.
// No locks: each flag has one writer at a time and readers tolerate a value
// one paint old; the texts cross threads through the window system.
#ifndef APP_UI_STATE_H_
#define APP_UI_STATE_H_

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/thread.h"
#include "platform/types.h"

// Process exit codes; callers (scripts, deployment tools) rely on them.
constexpr int32_t kExitSuccess = 0;              // window closed, or elevated copy started
constexpr int32_t kExitElevationFailed = 1;      // not an administrator, relaunch failed
constexpr int32_t kExitWindowFailed = 1;         // the main window could not be created
constexpr int32_t kExitUninstallIncomplete = 1;  // command-line uninstall with warnings or cancelled

// The process exit code once the message loop has ended: 0, or 1 after a
// command-line uninstall that did not complete.
extern std::atomic<int32_t> g_exitCode;

extern std::atomic<int32_t> g_progressPercent;     // 0..100, painted as "%d%%"
extern std::atomic<bool> g_operationInProgress;    // up while a sequence runs
extern std::atomic<bool> g_cancelRequested;        // set by the window on a confirmed Cancel
extern bool g_uninstallMode;                       // from the command line
extern bool g_silentMode;                          // from the command line
extern platform::WindowHandle g_mainWindow;
extern platform::WindowHandle g_statusLabel;       // hidden label holding the status line
extern platform::WindowHandle g_detailLabel;       // hidden label holding the detail line

// Up from just before a worker thread is created until its thread
// procedure has shown the outcome; the window closes only when it is down.
extern std::atomic<bool> g_workerRunning;
// The window was asked to close while a worker ran; the worker posts
// WM_CLOSE when it ends.
extern std::atomic<bool> g_closePending;

// Starts a worker thread running proc: clears g_cancelRequested and raises
// g_operationInProgress before the thread exists, so that no second click
// can start another. False, with both lowered again, when a worker is still
// running, a close is pending, or the thread cannot be created.
bool StartWorker(platform::ThreadProc proc);

// The last act of every thread procedure: the worker is no longer running,
// and a close that waited for it goes ahead.
void EndWorker();

// Replace the status (or detail) line and repaint at once; nothing happens
// while the label does not exist yet.
void SetStatusText(const std::wstring& text);
void SetDetailText(const std::wstring& text);

// Store the percentage and repaint at once.
void SetProgress(int32_t percent);

// Set once by the entry, before any box can be raised; never changes. A run
// nobody watches (the weekly task as SYSTEM, a deployment tool in a window
// station no user sees) shows no window and raises no box.
extern bool g_unattended;

// True when the program runs in session 0 or in a window station without
// WSF_VISIBLE. A query that fails proves nothing and counts as attended.
bool IsUnattendedRun();

// Whether the process runs as LocalSystem (its token's user is S-1-5-18);
// any failure of the check counts as no.
bool IsLocalSystem();

// Every box of the program goes through here. Attended: MessageBoxW with
// these arguments and its answer. Unattended: one trace line, "[Install] "
// or "[Uninstall] " (by the run's mode), the caption, ": " and the text with
// each run of line breaks shown as " | "; then the answer of a box closed
// without a choice: IDNO for Yes/No, IDCANCEL where there is Cancel, else
// IDOK.
int32_t ShowMessageBox(platform::WindowHandle owner, const std::wstring& text,
                       const std::wstring& caption, uint32_t type);

// The trace tag of the run's lines: "[Uninstall] " or "[Install] ".
const wchar_t* RunTag();

// Relaxed accessors for the flags: no other data is published through them.
inline bool CancelRequested() { return g_cancelRequested.load(std::memory_order_relaxed); }
inline void SetOperationInProgress(bool busy) {
  g_operationInProgress.store(busy, std::memory_order_relaxed);
}

#endif  // APP_UI_STATE_H_
