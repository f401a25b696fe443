// The process entry behind wWinMain: the command-line switches, the
// administrator check and elevated relaunch, the main window and its hidden
// labels, the command-line uninstall, the message loop and the clean-up.
#ifndef APP_ENTRY_H_
#define APP_ENTRY_H_

#include <cstdint>
#include <string>

#include "platform/draw.h"

inline constexpr wchar_t kWindowClassName[] = L"TSLInstallerClass";
inline constexpr wchar_t kWindowTitle[] = L"Tessaline Setup";

// The whole program: wWinMain passes its instance and its command line
// (without the program's name; empty when there is none) and returns the
// result as the exit code.
int32_t RunSetup(platform::InstanceHandle instance, const std::wstring& commandLine);

// Sets g_uninstallMode when the lower-cased command line contains
// "/uninstall" or "-uninstall", and g_silentMode when it contains
// "/silent", "-silent" or "/s", anywhere, as plain substrings. Never clears
// either.
void DetectSwitches(const std::wstring& commandLine);

// Whether the caller's token is a member of the Administrators group; any
// failure of the check counts as no.
bool IsAdministrator();

// Starts this program again with "runas" and the command line exactly as
// received. kExitSuccess when the new process was started; otherwise the
// "Administrator Required" box (unless silent) and kExitElevationFailed.
int32_t RelaunchElevated(const std::wstring& commandLine);

// Measures the screen's DPI, creates the fonts and the header icon,
// registers the window class, creates g_mainWindow centred on the primary
// screen with its two hidden labels, and shows it. False, with the fonts and
// icon freed again, when the window cannot be created.
bool CreateMainWindow();

// GetMessageW, TranslateMessage, DispatchMessageW until WM_QUIT.
void RunMessageLoop();

// Deletes the four UI fonts and destroys the header icon.
void FreeWindowResources();

#endif  // APP_ENTRY_H_
