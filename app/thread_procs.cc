#include "app/thread_procs.h"

#include "app/ui_state.h"
#include "install/install_sequence.h"
#include "install/product_constants.h"
#include "platform/com.h"
#include "platform/dialog.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/trace.h"
#include "platform/window.h"
#include "uninstall/uninstall_sequence.h"

using namespace platform;

namespace {

constexpr wchar_t kLaunchQuestion[] =
    L"Installation complete!\n\nWould you like to launch Tessaline now?";
constexpr wchar_t kUninstallComplete[] =
    L"Uninstallation complete.\n\nAll components have been removed.";

void ResetProgress() { g_progressPercent.store(0, std::memory_order_relaxed); }

// Made visible by the next paint the UI thread does; the worker does not
// wait for it.
void RequestRepaint() { InvalidateRect(g_mainWindow, nullptr, false); }

// The window as it opened: no progress, "Ready", an empty detail line.
void ShowReady() {
  ResetProgress();
  SetStatusText(L"Ready");
  SetDetailText(L"");
}

void ShowUninstallComplete() {
  ShowMessageBox(g_mainWindow, kUninstallComplete, kProductName, kMbOk | kMbIconInformation);
}

// This setup runs elevated; the application must not. The desktop shell
// starts it with the signed-in user's own token. Without a shell to ask it
// is started from here, as before, and the trace says so.
void LaunchApplication() {
  const std::wstring app = GetInstallPath(kAppExeName);
  // Each worker is a new thread with no apartment of its own yet.
  const bool apartment = CoInitialize() >= 0;
  bool shellReached = false;
  ShellExecuteFromDesktop(L"open", app, L"", kInstallFolder, kSwShowNormal, &shellReached);
  // Still inside the apartment: ShellExecuteW may hand the file to shell
  // extensions, which need COM.
  if (!shellReached &&
      ShellExecuteW(nullptr, L"open", app, L"", kInstallFolder, kSwShowNormal) > 32) {
    OutputDebugStringA("[Install] No desktop shell: the application was started by the setup\n");
  }
  if (apartment) CoUninitialize();
}

// LocalSystem has no user to start the application for.
bool AskToLaunch() {
  if (IsLocalSystem()) return false;
  return ShowMessageBox(g_mainWindow, kLaunchQuestion, kProductName,
                        kMbYesNo | kMbIconQuestion) == kIdYes;
}

}  // namespace

uint32_t InstallThreadProc(void*) {
  const bool ok = RunInstall();
  const bool cancelled = CancelRequested();
  if (ok && !cancelled) {
    if (!InstallWaitsForRestart() && AskToLaunch()) LaunchApplication();
    ResetProgress();
  } else if (ok) {
    SetStatusText(L"Installation cancelled");
    SetDetailText(L"");
    ResetProgress();
  } else if (!cancelled) {
    ResetProgress();
    SetStatusText(L"Installation failed");
    SetDetailText(L"See error message for details");
  } else {
    SetStatusText(L"Installation cancelled");
    SetDetailText(L"");
    ShowReady();
  }
  RequestRepaint();
  EndWorker();
  return 0;
}

uint32_t UninstallThreadProc(void*) {
  const bool ok = RunUninstall();
  if (CancelRequested()) {
    SetStatusText(L"Uninstallation cancelled");
    SetDetailText(L"Some components may remain");
  } else if (ok) {
    ShowUninstallComplete();
  }
  ShowReady();
  RequestRepaint();
  EndWorker();
  return 0;
}

uint32_t SilentUninstallThreadProc(void*) {
  const bool completed = RunUninstall() && !CancelRequested();
  if (completed && !g_silentMode) ShowUninstallComplete();
  // Scripts and deployment tools tell a partial uninstall by the exit code.
  g_exitCode.store(completed ? kExitSuccess : kExitUninstallIncomplete);
  // The command line asked for this one operation: the window closes,
  // through the same path as a close that waited for the worker.
  g_closePending.store(true);
  EndWorker();
  return 0;
}
