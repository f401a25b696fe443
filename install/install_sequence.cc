#include "install/install_sequence.h"

#include <cstdint>
#include <string>

#include "app/ui_state.h"
#include "install/download.h"
#include "install/install_folder.h"
#include "install/prerequisites.h"
#include "install/product_constants.h"
#include "install/setup_mutex.h"
#include "install/staged_swap.h"
#include "platform/dialog.h"
#include "platform/file.h"
#include "platform/shell.h"
#include "platform/time.h"
#include "platform/trace.h"
#include "registration/desktop_shortcut.h"
#include "registration/uninstall_entry.h"
#include "registration/update_task.h"

namespace {

constexpr wchar_t kInstallErrorCaption[] = L"Installation Error";
constexpr wchar_t kDownloadErrorCaption[] = L"Download Error";
constexpr wchar_t kDownloadAdvice[] =
    L"\n\nPlease check your internet connection and firewall settings.";

void ShowFatal(const std::wstring& text, const wchar_t* caption) {
  ShowMessageBox(g_mainWindow, text, caption, platform::kMbOk | platform::kMbIconError);
}

// Every way out lowers the busy flag, so the idle buttons come back.
bool Finish(bool result) {
  SetOperationInProgress(false);
  return result;
}

bool InstallPrerequisite(const wchar_t* host, const wchar_t* path, const wchar_t* arguments,
                         const wchar_t* displayName, std::wstring* errorText) {
  SetStatusText(L"Installing prerequisites...");
  if (DownloadAndRunInstaller(host, path, arguments, displayName, errorText)) return true;
  ShowFatal(std::wstring(L"Failed to install ") + displayName + L".\n\n" + *errorText +
                L"\n\nPlease install manually from:\nhttps://" + host + path,
            kInstallErrorCaption);
  return false;
}

// The steps of one run, from the prerequisites to the registration; false
// after a fatal failure (its box already shown) or a cancel. The installed
// files change only at the swap, after the last cancel check.
// *keepStaged is set when an undo of the swap failed and the next run's
// repair needs the staged files to finish it.
bool RunSteps(uint32_t generation, bool* keepStaged) {
  std::wstring errorText;
  const std::wstring appPath = GetInstallPath(kAppExeName);

  SetProgress(5);
  SetStatusText(L"Checking prerequisites...");
  SetDetailText(kVcRedistDisplayName);
  if (!IsVcRuntimeInstalled() &&
      !InstallPrerequisite(kVcRedistHost, kVcRedistPath, kVcRedistArguments,
                           kVcRedistDisplayName, &errorText)) {
    return false;
  }

  if (CancelRequested()) return false;
  SetProgress(20);
  SetDetailText(kWebView2DisplayName);
  if (!IsWebView2RuntimeInstalled()) {
    if (!InstallPrerequisite(kWebView2Host, kWebView2Path, kWebView2Arguments,
                             kWebView2DisplayName, &errorText)) {
      return false;
    }
    // A fresh runtime registers itself a moment after its installer ends.
    platform::Sleep(2000);
  }

  if (CancelRequested()) return false;
  SetProgress(40);
  SetStatusText(L"Installing application...");
  SetDetailText(L"Creating installation directory");
  uint32_t created = CreateInstallFolder();
  if (created != platform::kErrorSuccess && created != platform::kErrorAlreadyExists) {
    ShowFatal(L"Failed to create installation directory.\n\nError code: " +
                  std::to_wstring(created) +
                  L"\n\nPlease ensure you have administrator privileges and the disk has free "
                  L"space.",
              kInstallErrorCaption);
    return false;
  }

  if (CancelRequested()) return false;
  SetProgress(50);
  SetDetailText(L"Downloading WebView2Loader.dll");
  if (!DownloadFile(kDeployHost, kLoaderDownloadPath, StagedPath(kLoaderDllName, generation),
                    &errorText)) {
    ShowFatal(L"Failed to download WebView2Loader.dll.\n\n" + errorText + kDownloadAdvice,
              kDownloadErrorCaption);
    return false;
  }

  if (CancelRequested()) return false;
  SetProgress(70);
  SetDetailText(L"Downloading application files");
  if (!DownloadFile(kDeployHost, kAppDownloadPath, StagedPath(kAppExeName, generation),
                    &errorText)) {
    // The staged loader goes after the box; the installed one stays.
    ShowFatal(L"Failed to download application.\n\n" + errorText + kDownloadAdvice,
              kDownloadErrorCaption);
    return false;
  }

  if (CancelRequested()) return false;
  SetProgress(85);
  SetStatusText(L"Finishing installation...");
  SetDetailText(L"Creating desktop shortcut");
  if (g_unattended && IsLocalSystem()) {
    // The task's account has no desktop of a user to put the shortcut on.
    platform::OutputDebugStringA("[Install] Desktop shortcut skipped: running as LocalSystem\n");
  } else if (!CreateDesktopShortcut(appPath)) {
    platform::OutputDebugStringA("[Install] Failed to create desktop shortcut\n");
  }

  if (CancelRequested()) return false;
  SetProgress(90);
  SetDetailText(L"Creating updater");
  InstallUpdaterCopy();

  if (CancelRequested()) return false;
  std::wstring failedName;
  uint32_t swapError = 0;
  bool undone = true;
  if (!SwapInStagedFiles(generation, &failedName, &swapError, &undone)) {
    *keepStaged = !undone;
    ShowFatal(L"Failed to replace " + failedName + L".\n\nError code: " +
                  std::to_wstring(swapError) + L"\n\nPlease close Tessaline and try again.",
              kInstallErrorCaption);
    return false;
  }
  SetProgress(95);
  SetDetailText(L"Scheduling automatic updates");
  ScheduleUpdateTask();

  SetDetailText(L"Registering application");
  RegisterUninstallEntry();

  SetProgress(100);
  SetStatusText(L"Installation complete!");
  SetDetailText(L"Ready to launch");
  return true;
}

}  // namespace

bool RunInstall() {
  SetOperationInProgress(true);
  platform::Handle lock = TakeSetupMutex("[Install] ");
  if (!lock) {
    ShowFatal(kAnotherSetupRunning, kInstallErrorCaption);
    return Finish(false);
  }
  uint32_t generation = RepairInstallFolder();
  bool keepStaged = false;
  bool completed = RunSteps(generation, &keepStaged);
  if (!keepStaged) RemoveStagedFiles(generation);
  ReleaseSetupMutex(lock);
  return Finish(completed);
}
