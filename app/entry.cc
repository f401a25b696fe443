#include "app/entry.h"

#include <cwctype>

#include "app/main_window.h"
#include "app/render.h"
#include "app/thread_procs.h"
#include "app/ui_state.h"
#include "app/unattended.h"
#include "platform/com.h"
#include "platform/dialog.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "platform/security.h"
#include "platform/shell.h"
#include "platform/thread.h"
#include "platform/ui.h"
#include "platform/window.h"
#include "registration/own_image.h"

using namespace platform;

namespace {

constexpr wchar_t kAdminRequiredCaption[] = L"Administrator Required";
constexpr wchar_t kAdminRequiredText[] =
    L"This application requires administrator privileges.\n"
    L"Please right-click and select 'Run as administrator'.";
constexpr uint32_t kWindowStyle = kWsCaption | kWsSysMenu | kWsMinimizeBox;

bool Contains(const std::wstring& text, const wchar_t* part) {
  return text.find(part) != std::wstring::npos;
}

WindowHandle CreateLabel(const std::wstring& text) {
  return CreateWindowExW(0, L"STATIC", text, kWsChild, 0, 0, 0, 0, g_mainWindow, 0, g_instance);
}

void CentreOnPrimaryScreen(WindowHandle window) {
  Rect rect{};
  GetWindowRect(window, &rect);
  int32_t width = rect.right - rect.left;
  int32_t height = rect.bottom - rect.top;
  int32_t x = (GetSystemMetrics(kSmCxScreen) - width) / 2;
  int32_t y = (GetSystemMetrics(kSmCyScreen) - height) / 2;
  SetWindowPos(window, nullptr, x, y, 0, 0, kSwpNoZOrder | kSwpNoSize);
}

// The folder the setup was started from (Downloads) is the user's: nothing
// this elevated process starts or loads may be looked up there.
void StartInSystemFolder() {
  std::wstring system = GetSystemDirectoryW();
  if (!system.empty()) SetCurrentDirectoryW(system);
}

void StartCommandLineUninstall() {
  if (!g_silentMode && ShowMessageBox(g_mainWindow, kConfirmUninstallText, kConfirmUninstallCaption,
                                      kMbYesNo | kMbIconWarning) != kIdYes) {
    PostMessageW(g_mainWindow, kWmClose, 0, 0);
    return;
  }
  // Until the worker reports completion, the command line's request counts
  // as not done, also when the worker cannot be started.
  g_exitCode.store(kExitUninstallIncomplete);
  StartWorker(SilentUninstallThreadProc);
}

// What the run does once set up, to its exit code; RunSetup releases what
// it set up in one place, whichever way this ends.
int32_t RunWork(const std::wstring& commandLine) {
  if (!IsAdministrator()) return RelaunchElevated(commandLine);
  if (g_unattended) return RunUnattended();
  if (!CreateMainWindow()) return kExitWindowFailed;
  if (g_uninstallMode) StartCommandLineUninstall();
  RunMessageLoop();
  FreeWindowResources();
  return g_exitCode.load();
}

}  // namespace

void DetectSwitches(const std::wstring& commandLine) {
  std::wstring lower = commandLine;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  if (Contains(lower, L"/uninstall") || Contains(lower, L"-uninstall")) g_uninstallMode = true;
  if (Contains(lower, L"/silent") || Contains(lower, L"-silent") || Contains(lower, L"/s")) {
    g_silentMode = true;
  }
}

bool IsAdministrator() {
  const uint32_t subAuthorities[8] = {kSecurityBuiltinDomainRid, kDomainAliasRidAdmins};
  Sid administrators = nullptr;
  if (!AllocateAndInitializeSid(kSecurityNtAuthority, 2, subAuthorities, &administrators)) {
    return false;
  }
  bool member = false;
  if (!CheckTokenMembership(nullptr, administrators, &member)) member = false;
  FreeSid(administrators);
  return member;
}

int32_t RelaunchElevated(const std::wstring& commandLine) {
  // Nobody could answer the elevation prompt of an unattended run: it is
  // not started, and the trace says why the run ended.
  if (!g_unattended) {
    std::wstring self;
    uint32_t length = GetModuleFileNameW(kMaxPath, &self);
    Handle process = nullptr;
    // A cut-off path names another file, which must never be elevated; the
    // shell does not start a program by a longer path either.
    if (length > 0 && length < kMaxPath &&
        ShellExecuteExW(0, L"runas", self, commandLine, L"", kSwShowNormal, &process)) {
      return kExitSuccess;
    }
  }
  if (!g_silentMode || g_unattended) {
    ShowMessageBox(nullptr, kAdminRequiredText, kAdminRequiredCaption, kMbOk | kMbIconError);
  }
  return kExitElevationFailed;
}

bool CreateMainWindow() {
  DcHandle screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, kLogPixelsX);
  ReleaseDC(nullptr, screen);
  UpdateDpiMetrics(dpi);
  CreateUiFonts();
  g_appIcon = LoadImageW(g_instance, kAppIconId, kImageIcon, g_iconSize, g_iconSize,
                         kLrDefaultColor);

  WindowClass wc;
  wc.windowProc = MainWindowProc;
  wc.instance = g_instance;
  wc.icon = LoadIconW(g_instance, kAppIconId);
  wc.smallIcon = wc.icon;
  wc.cursor = LoadCursorW(nullptr, kIdcArrow);
  wc.className = kWindowClassName;
  RegisterClassExW(wc);

  g_mainWindow = CreateWindowExW(kWsExAppWindow, kWindowClassName, kWindowTitle, kWindowStyle, 0, 0,
                                 g_windowWidth, g_windowHeight, nullptr, 0, g_instance);
  if (!g_mainWindow) {
    FreeWindowResources();
    return false;
  }
  CentreOnPrimaryScreen(g_mainWindow);
  g_statusLabel = CreateLabel(L"Ready");
  g_detailLabel = CreateLabel(L"");
  ShowWindow(g_mainWindow, kSwShow);
  UpdateWindow(g_mainWindow);
  return true;
}

void RunMessageLoop() {
  Msg msg;
  // GetMessageW's -1 (an error) ends the loop as well as WM_QUIT's 0.
  while (GetMessageW(&msg) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void FreeWindowResources() {
  for (GdiHandle* font : {&g_titleFont, &g_statusFont, &g_smallFont, &g_buttonFont}) {
    if (*font) DeleteObject(*font);
    *font = nullptr;
  }
  if (g_appIcon) DestroyIcon(g_appIcon);
  g_appIcon = nullptr;
}

int32_t RunSetup(InstanceHandle instance, const std::wstring& commandLine) {
  // Before anything can load a DLL: a setup started from a Downloads folder
  // must not pick up one planted beside it.
  SetDefaultDllDirectories(kLoadLibrarySearchSystem32);
  StartInSystemFolder();
  g_instance = instance;
  if (!commandLine.empty()) DetectSwitches(commandLine);
  HoldOwnImage(g_uninstallMode ? "[Uninstall] " : "[Install] ");
  g_unattended = IsUnattendedRun();

  SetProcessDpiAwarenessContext(kDpiAwarenessContextPerMonitorAwareV2);
  CoInitializeEx(kCoinitApartmentThreaded);
  InitCommonControlsEx(kIccStandardClasses);

  int32_t code = RunWork(commandLine);
  ReleaseOwnImage();
  CoUninitialize();
  return code;
}
