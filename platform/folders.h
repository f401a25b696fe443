// The system's own folders and the process's current folder, mirrors of the
// kernel32 calls of the same name.
#ifndef PLATFORM_FOLDERS_H_
#define PLATFORM_FOLDERS_H_

#include <string>

namespace platform {

// GetSystemDirectoryW: "C:\Windows\System32" without a trailing backslash;
// empty on failure.
std::wstring GetSystemDirectoryW();

// GetSystemWindowsDirectoryW: "C:\Windows" without a trailing backslash (the
// system's Windows folder, never a per-user one); empty on failure.
std::wstring GetSystemWindowsDirectoryW();

// SetCurrentDirectoryW: 2 or 3 when missing, 267 a file.
bool SetCurrentDirectoryW(const std::wstring& path);

// GetCurrentDirectoryW: the current folder (a drive's root keeps its
// backslash, other folders have none); empty on failure.
std::wstring GetCurrentDirectoryW();

}  // namespace platform

#endif  // PLATFORM_FOLDERS_H_
