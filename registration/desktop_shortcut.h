// The product's shortcut on the desktop of the user running the program,
// made at install and removed at uninstall. Nothing is remembered between
// the two: both work out the path anew.
#ifndef REGISTRATION_DESKTOP_SHORTCUT_H_
#define REGISTRATION_DESKTOP_SHORTCUT_H_

#include <string>

// The shortcut's path: the user's own desktop folder (not the common one), a
// backslash, kProductName and ".lnk". False, *path untouched, when the shell
// knows no desktop folder.
bool GetDesktopShortcutPath(std::wstring* path);

// Saves a shortcut to targetPath at GetDesktopShortcutPath, replacing one
// already there: comment kProductName, icon 0 of the target, working folder
// the target's folder without a trailing backslash, no arguments. Enters and
// leaves a COM apartment on the calling thread. True only when the file was
// saved; false when the desktop folder is unknown or the link object cannot
// be made or saved.
bool CreateDesktopShortcut(const std::wstring& targetPath);

// Deletes the shortcut file. False when the desktop folder is unknown or the
// file was not deleted (missing, read-only, in use).
bool RemoveDesktopShortcut();

#endif  // REGISTRATION_DESKTOP_SHORTCUT_H_
