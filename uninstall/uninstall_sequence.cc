#include "uninstall/uninstall_sequence.h"

#include <cstdint>
#include <string>

#include "app/ui_state.h"
#include "install/product_constants.h"
#include "install/setup_mutex.h"
#include "platform/dialog.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/trace.h"
#include "registration/desktop_shortcut.h"
#include "registration/own_image.h"
#include "registration/uninstall_entry.h"
#include "registration/update_task.h"
#include "uninstall/firewall_cleanup.h"
#include "uninstall/remove_tree.h"

namespace {

constexpr wchar_t kBullet[] = L"\u2022 ";

bool StopForCancel() {
  if (!CancelRequested()) return false;
  SetOperationInProgress(false);
  return true;
}

wchar_t Upper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

// Whether `path` lies below `folder` (case-insensitive, as the file system).
bool IsInside(const std::wstring& path, const std::wstring& folder) {
  if (path.size() <= folder.size() + 1 || path[folder.size()] != L'\\') return false;
  for (size_t i = 0; i < folder.size(); ++i) {
    if (Upper(path[i]) != Upper(folder[i])) return false;
  }
  return true;
}

// Whether removing `folder` would come to delete the file at `path`: it
// lies below the folder, and the folder and every folder on the way down
// exist and are no links (the tree removal removes a link, never walks in).
bool FolderRemovalReaches(const std::wstring& folder, const std::wstring& path) {
  if (!IsInside(path, folder)) return false;
  for (size_t end = folder.size(); end != std::wstring::npos; end = path.find(L'\\', end + 1)) {
    uint32_t attributes = platform::GetFileAttributesW(path.substr(0, end));
    if (attributes == platform::kInvalidFileAttributes ||
        !(attributes & platform::kFileAttributeDirectory) ||
        (attributes & platform::kFileAttributeReparsePoint)) {
      return false;
    }
  }
  return true;
}

// Add/Remove Programs starts the uninstall from updater.exe inside the
// install folder; a running program cannot be deleted, so it would keep the
// install folder and its parent alive for good. It can be renamed, though:
// move it to the temp folder and have Windows delete it at the next start.
// If that fails, the folder step reports the file like any other it cannot
// delete.
void MoveRunningProgramOutOfProductFolders() {
  std::wstring self;
  uint32_t length = platform::GetModuleFileNameW(platform::kMaxPath, &self);
  // A cut-off path names some other file, or none.
  if (length == 0 || length >= platform::kMaxPath) return;
  bool reached = false;
  for (const wchar_t* folder : kProductFolders) {
    reached = reached || FolderRemovalReaches(folder, self);
  }
  // The path the program was started from may name another file by now (an
  // earlier uninstall in this window moved the program out, an install put
  // a new copy there): that one is not running and goes with its folder.
  if (!reached || (g_ownImage != platform::kInvalidHandleValue && !IsOwnImageAt(self))) return;

  // GetTempFileNameW reserves a unique name by creating an empty file there,
  // which the move then replaces.
  std::wstring temp = platform::GetTempPathW();
  std::wstring parked;
  if (temp.empty() || platform::GetTempFileNameW(temp, L"TSL", 0, &parked) == 0) {
    platform::OutputDebugStringA(
        "[Uninstall] Failed to reserve a temporary name for the running program: " +
        std::to_string(platform::GetLastError()) + "\n");
    return;
  }
  // Our own hold keeps the file in place; this is its one move. The hold
  // goes with the file, so an install from the same window can still copy
  // the updater from it.
  LetOwnImageMove(self);
  if (!platform::MoveFileExW(self, parked, platform::kMovefileReplaceExisting)) {
    uint32_t error = platform::GetLastError();
    platform::DeleteFileW(parked);
    platform::OutputDebugStringA("[Uninstall] Failed to move the running program out: " +
                                 std::to_string(error) + "\n");
    return;
  }
  // The path is wide text: a user name in it may be any character.
  platform::OutputDebugStringW(L"[Uninstall] Moved the running program out to: " + parked + L"\n");
  if (!platform::MoveFileExW(parked, std::wstring(), platform::kMovefileDelayUntilReboot)) {
    platform::OutputDebugStringA("[Uninstall] Failed to schedule deletion at restart: " +
                                 std::to_string(platform::GetLastError()) + "\n");
  }
}

// The six steps; the busy flag is up when they start and down when they end.
bool RunUninstallSteps() {
  std::wstring warnings;
  bool hasWarnings = false;

  SetProgress(5);
  SetStatusText(L"Uninstalling...");
  SetDetailText(L"Removing firewall rules");
  bool allRulesRemoved = true;
  int32_t rules = RemoveFirewallRules(&allRulesRemoved);
  if (rules < 0) {
    warnings += std::wstring(kBullet) + L"Could not access Windows Filtering Platform\n";
    hasWarnings = true;
  } else {
    if (rules > 0) {
      platform::OutputDebugStringA("Deleted " + std::to_string(rules) + " firewall rules\n");
    }
    if (!allRulesRemoved) {
      warnings += std::wstring(kBullet) + L"Could not remove all firewall rules\n";
      hasWarnings = true;
    }
  }
  if (StopForCancel()) return false;

  SetProgress(25);
  SetDetailText(L"Removing scheduled task");
  DeleteUpdateTask();
  if (StopForCancel()) return false;

  SetProgress(35);
  SetDetailText(L"Removing desktop shortcut");
  if (!RemoveDesktopShortcut()) {
    platform::OutputDebugStringA(
        "[Uninstall] Desktop shortcut deletion returned false (may not exist)\n");
  }
  if (StopForCancel()) return false;

  SetProgress(45);
  SetDetailText(L"Removing registry entries");
  if (!RemoveUninstallEntry()) {
    warnings += std::wstring(kBullet) + L"Could not remove registry entries\n";
    hasWarnings = true;
  }
  if (StopForCancel()) return false;

  SetProgress(55);
  SetDetailText(L"Removing application files");
  MoveRunningProgramOutOfProductFolders();
  int32_t filesDeleted = 0;
  int32_t filesFailed = 0;
  for (const wchar_t* folder : kProductFolders) {
    if (platform::GetFileAttributesW(folder) == platform::kInvalidFileAttributes) continue;
    SetDetailText(std::wstring(L"Removing: ") + folder);
    int32_t deleted = 0;
    int32_t failed = 0;
    if (!RemoveDirectoryTree(folder, &deleted, &failed)) {
      warnings += std::wstring(kBullet) + L"Could not fully remove: " + folder + L"\n";
      hasWarnings = true;
    }
    filesDeleted += deleted;
    filesFailed += failed;
  }
  platform::OutputDebugStringA("[Uninstall] Files deleted: " + std::to_string(filesDeleted) +
                               ", failed: " + std::to_string(filesFailed) + "\n");
  if (StopForCancel()) return false;

  SetProgress(100);
  if (hasWarnings) {
    SetStatusText(L"Uninstallation completed with warnings");
    SetDetailText(L"Some items could not be removed");
    ShowMessageBox(
        g_mainWindow,
        L"Uninstallation completed, but some items could not be removed:\n\n" + warnings +
            L"\nYou may need to manually delete remaining files or restart your computer and "
            L"try again.",
        L"Uninstall Warning", platform::kMbOk | platform::kMbIconWarning);
    SetOperationInProgress(false);
    return false;
  }
  SetStatusText(L"Uninstallation complete!");
  SetDetailText(L"All components removed");
  SetOperationInProgress(false);
  return true;
}

}  // namespace

bool RunUninstall() {
  SetOperationInProgress(true);
  // Nothing is touched while another setup installs or removes the product.
  platform::Handle lock = nullptr;
  if (!TakeSetupMutex("[Uninstall] ", &lock)) {
    ShowMessageBox(g_mainWindow, kAnotherSetupRunning, L"Uninstall Warning",
                   platform::kMbOk | platform::kMbIconWarning);
    SetOperationInProgress(false);
    return false;
  }
  bool result = RunUninstallSteps();
  ReleaseSetupMutex(lock);
  return result;
}
