// Shell operations: known folders, path strings, folder creation and shell
// links; mirrors of the shell32/shlwapi calls of the same name.
#ifndef PLATFORM_SHELL_H_
#define PLATFORM_SHELL_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

// Folders of SHGetFolderPathW. For the per-user desktop both name the same
// folder.
constexpr int32_t kCsidlDesktop = 0x0000;
constexpr int32_t kCsidlDesktopDirectory = 0x0010;
constexpr uint32_t kShgfpTypeCurrent = 0;

// SHGetFolderPathW(no window, csidl, no token, flags, MAX_PATH buffer):
// kSOk with *path set to the folder, without a trailing backslash, or a
// negative result (0x80070002 when the folder does not exist) with *path
// emptied.
HResult SHGetFolderPathW(int32_t csidl, uint32_t flags, std::wstring* path);

// PathRemoveFileSpecW: strips the last component of *path in place, keeping
// a root's backslash ("C:\a\b" -> "C:\a", "C:\a" -> "C:\", "a" -> "").
// True when anything was removed. A pure string operation: the file system
// is not consulted.
bool PathRemoveFileSpecW(std::wstring* path);

// SHCreateDirectoryExW(no window, path, no security attributes): creates the
// folder and its missing parents. Returns the code, not a boolean: 0 created,
// 183 something (a folder or a file) already has that name, 161 a relative
// path, 206 too long, 3 a parent cannot be made (missing drive, a file in the
// way), 5 access denied; a failure in the middle reports the code of the last
// folder attempted.
uint32_t SHCreateDirectoryExW(const std::wstring& path);

// What a shell link (.lnk) is made to say; what is not here stays at the
// shell link object's defaults (no arguments, no hot key, normal window).
struct ShellLinkProperties {
  std::wstring path;              // IShellLinkW::SetPath
  std::wstring description;       // IShellLinkW::SetDescription
  std::wstring iconPath;          // IShellLinkW::SetIconLocation(iconPath, iconIndex)
  int32_t iconIndex = 0;
  std::wstring workingDirectory;  // IShellLinkW::SetWorkingDirectory
};

// Writes a shell link file through COM, on a thread with a COM apartment:
// CoCreateInstance(CLSID_ShellLink, no outer object, CLSCTX_INPROC_SERVER,
// IID_IShellLinkW); SetPath, SetDescription, SetIconLocation and
// SetWorkingDirectory in that order, their results ignored;
// QueryInterface(IID_IPersistFile); IPersistFile::Save(lnkPath, remember
// TRUE), which replaces an existing file; Release of both interfaces.
// Returns the failure of CoCreateInstance (kCoENotInitialized without an
// apartment) or QueryInterface, else the result of Save (HResultFromWin32 of
// the file error: 3 missing folder, 5 read-only, 32 held open).
HResult SaveShellLink(const ShellLinkProperties& link, const std::wstring& lnkPath);

// Opens `file` through the shell that runs the signed-in user's desktop, so
// the program started gets that shell's token (the user's own, never this
// process's elevated one). On a thread with a COM apartment:
// CoCreateInstance(CLSID_ShellWindows, CLSCTX_LOCAL_SERVER,
// IID_IShellWindows); FindWindowSW(CSIDL_DESKTOP, empty, SWC_DESKTOP, &hwnd,
// SWFO_NEEDDISPATCH, &dispatch); from that dispatch
// IServiceProvider::QueryService(SID_STopLevelBrowser, IID_IShellBrowser),
// QueryActiveShellView, IShellView::GetItemObject(SVGIO_BACKGROUND,
// IID_IDispatch), QueryInterface(IID_IShellFolderViewDual), get_Application,
// QueryInterface(IID_IShellDispatch2); then IShellDispatch2::ShellExecute(
// file, parameters, directory, verb, show) with the texts as BSTRs (empty
// parameters or directory: an empty VARIANT) and show as VT_I4; every
// interface released. The shell starts the program on its own and returns
// before it runs: no process handle comes back.
// *shellReached is true once ShellExecute has been called. Returns the first
// failure on the way (kCoENotInitialized without an apartment,
// kRegDbEClassNotReg when no shell window list is registered, kSFalse when
// it lists no desktop window), else ShellExecute's result: S_OK once the
// shell has taken the request (a start that fails is the shell's to report).
HResult ShellExecuteFromDesktop(const std::wstring& verb, const std::wstring& file,
                                const std::wstring& parameters, const std::wstring& directory,
                                int32_t show, bool* shellReached);

}  // namespace platform

#endif  // PLATFORM_SHELL_H_
