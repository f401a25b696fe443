#include "registration/desktop_shortcut.h"

#include "install/product_constants.h"
#include "platform/com.h"
#include "platform/file.h"
#include "platform/shell.h"

bool GetDesktopShortcutPath(std::wstring* path) {
  std::wstring desktop;
  if (platform::SHGetFolderPathW(platform::kCsidlDesktop, platform::kShgfpTypeCurrent, &desktop) <
      0) {
    return false;
  }
  // The shell never hands back a folder ending in a backslash.
  *path = desktop + L"\\" + kProductName + L".lnk";
  return true;
}

bool CreateDesktopShortcut(const std::wstring& targetPath) {
  // Each worker is a new thread, so this gives it its apartment; a failure
  // would show again when the link object is made.
  platform::CoInitialize();

  platform::ShellLinkProperties link;
  link.path = targetPath;
  link.description = kProductName;
  link.iconPath = targetPath;
  link.iconIndex = 0;
  // As in a MAX_PATH buffer: a longer target is cut before its folder is
  // taken.
  link.workingDirectory = targetPath.substr(0, platform::kMaxPath - 1);
  platform::PathRemoveFileSpecW(&link.workingDirectory);

  bool saved = false;
  std::wstring shortcutPath;
  if (GetDesktopShortcutPath(&shortcutPath)) {
    saved = platform::SaveShellLink(link, shortcutPath) >= 0;
  }
  platform::CoUninitialize();
  return saved;
}

bool RemoveDesktopShortcut() {
  std::wstring shortcutPath;
  if (!GetDesktopShortcutPath(&shortcutPath)) return false;
  return platform::DeleteFileW(shortcutPath);
}
