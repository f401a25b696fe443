#include "install/install_sequence.h"

#include <cstdint>
#include <string>

#include "app/ui_state.h"
#include "install/download.h"
#include "install/install_folder.h"
#include "install/prerequisites.h"
#include "install/product_constants.h"
#include "install/publisher_check.h"
#include "install/setup_mutex.h"
#include "install/staged_swap.h"
#include "install/updater_refresh.h"
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
constexpr wchar_t kUpdatedAtRestart[] =
    L"Tessaline will be updated when you restart your computer.";

bool g_waitsForRestart = false;

void ShowFatal(const std::wstring& text, const wchar_t* caption) {
  ShowMessageBox(g_mainWindow, text, caption, platform::kMbOk | platform::kMbIconError);
}

void ShowRefusedSwap(const SwapFailure& failure) {
  ShowFatal(L"Failed to replace " + failure.name + L".\n\nError code: " +
                std::to_wstring(failure.error) + L"\n\nPlease close Tessaline and try again.",
            kInstallErrorCaption);
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

// Downloads the installed file `name` to its staged name and checks it,
// keeping the hold in its place of held[]; false with the reason in
// *errorText.
bool DownloadChecked(const Publisher& publisher, const wchar_t* name, const wchar_t* urlPath,
                     uint32_t generation, platform::Handle held[kSwappedFileCount],
                     std::wstring* errorText) {
  int slot = 0;
  while (std::wstring(kSwappedFiles[slot]) != name) ++slot;
  const std::wstring staged = StagedPath(name, generation);
  return DownloadStagedFile(kDeployHost, urlPath, staged, &held[slot], errorText) &&
         CheckDownload(publisher, name, staged, &held[slot], errorText);
}

void CloseHolds(platform::Handle held[kSwappedFileCount]) {
  for (int file = 0; file < kSwappedFileCount; ++file) {
    if (held[file] != platform::kInvalidHandleValue) platform::CloseHandle(held[file]);
    held[file] = platform::kInvalidHandleValue;
  }
}

// The steps of one run, from the prerequisites to the registration; false
// after a fatal failure (its box already shown) or a cancel. The installed
// files change only at the swap, after the last cancel check.
// *generation is set once the install folder is repaired; *keepStaged when
// an undo of the swap failed and the next run's repair needs the staged
// files to finish it.
// held[] are the holds on the checked staged files (kSwappedFiles' order),
// kept through the swap.
bool RunSteps(const Publisher& publisher, uint32_t* generation,
              platform::Handle held[kSwappedFileCount], bool* keepStaged) {
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
  // Only in a folder that passed its link and owner checks.
  SwapFailure failure;
  if (!RepairInstallFolder(generation, &failure)) {
    *keepStaged = true;
    ShowRefusedSwap(failure);
    return false;
  }

  if (CancelRequested()) return false;
  SetProgress(50);
  SetDetailText(L"Downloading WebView2Loader.dll");
  if (!DownloadChecked(publisher, kLoaderDllName, kLoaderDownloadPath, *generation, held,
                       &errorText)) {
    ShowFatal(L"Failed to download WebView2Loader.dll.\n\n" + errorText + kDownloadAdvice,
              kDownloadErrorCaption);
    return false;
  }

  if (CancelRequested()) return false;
  SetProgress(70);
  SetDetailText(L"Downloading application files");
  if (!DownloadChecked(publisher, kAppExeName, kAppDownloadPath, *generation, held,
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
  // The holds stay open through the swap: nobody could change the checked
  // files, and nobody can keep them from being renamed into place.
  SwapResult swapped = SwapInStagedFiles(*generation, &failure);
  CloseHolds(held);
  if (swapped == SwapResult::kRefused) {
    *keepStaged = !failure.undone;
    ShowRefusedSwap(failure);
    return false;
  }
  g_waitsForRestart = swapped == SwapResult::kQueued;
  SetProgress(95);
  SetDetailText(L"Scheduling automatic updates");
  ScheduleUpdateTask();

  SetDetailText(L"Registering application");
  RegisterUninstallEntry();
  // A refused setup fails the run; the application update stands.
  if (!RefreshUpdater(publisher)) return false;

  SetProgress(100);
  SetStatusText(L"Installation complete!");
  SetDetailText(L"Ready to launch");
  if (g_waitsForRestart) {
    ShowMessageBox(g_mainWindow, kUpdatedAtRestart, kProductName,
                   platform::kMbOk | platform::kMbIconInformation);
  }
  return true;
}

}  // namespace

bool RunInstall() {
  SetOperationInProgress(true);
  platform::Handle lock = nullptr;
  if (!TakeSetupMutex("[Install] ", &lock)) {
    ShowFatal(kAnotherSetupRunning, kInstallErrorCaption);
    return Finish(false);
  }
  g_waitsForRestart = false;
  const Publisher publisher = ReadPublisher();
  if (!publisher.isSigned) {
    platform::OutputDebugStringA("[Install] Setup is not signed: downloaded files are not checked\n");
  }
  uint32_t generation = 0;
  bool keepStaged = false;
  platform::Handle held[kSwappedFileCount] = {platform::kInvalidHandleValue,
                                              platform::kInvalidHandleValue};
  bool completed = RunSteps(publisher, &generation, held, &keepStaged);
  CloseHolds(held);
  if (generation != 0 && !keepStaged) RemoveStagedFiles(generation);
  ReleaseSetupMutex(lock);
  return Finish(completed);
}

bool InstallWaitsForRestart() { return g_waitsForRestart; }
