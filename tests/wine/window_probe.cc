// Reports what Windows (here Wine) says about the setup's window or one of
// its message boxes, one "key=value" line each, for scripts/wine-window.sh
// to judge; the script does the judging so that every value is printed.
//   window_probe window [seconds]   the "TSLInstallerClass" window
//   window_probe box CAPTION [seconds]  a message box with that caption
//   window_probe admin              CheckTokenMembership of Administrators
// Exits 0 when it found what it looked for, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  char buffer[1024];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof(buffer), nullptr, nullptr);
  return n > 0 ? std::string(buffer) : std::string();
}

HWND WaitFor(const wchar_t* className, const wchar_t* title, int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    HWND window = FindWindowW(className, title);
    if (window && IsWindowVisible(window)) return window;
    Sleep(100);
  }
  return nullptr;
}

int ReportWindow(int seconds) {
  HWND window = WaitFor(L"TSLInstallerClass", nullptr, seconds);
  if (!window) {
    std::printf("found=0\n");
    return 1;
  }
  wchar_t text[256] = L"\xdead";
  GetClassNameW(window, text, 256);
  std::printf("found=1\nclass=%s\n", Utf8(text).c_str());
  GetWindowTextW(window, text, 256);
  std::printf("title=%s\n", Utf8(text).c_str());
  RECT outer{-1, -1, -1, -1};
  GetWindowRect(window, &outer);
  std::printf("window=%ld,%ld,%ld,%ld\nsize=%ldx%ld\n", outer.left, outer.top, outer.right,
              outer.bottom, outer.right - outer.left, outer.bottom - outer.top);
  RECT client{-1, -1, -1, -1};
  GetClientRect(window, &client);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  std::printf("client=%ldx%ld\norigin=%ld,%ld\n", client.right, client.bottom, origin.x, origin.y);
  std::printf("style=0x%08lx\nexstyle=0x%08lx\n",
              static_cast<unsigned long>(GetWindowLongW(window, GWL_STYLE)),
              static_cast<unsigned long>(GetWindowLongW(window, GWL_EXSTYLE)));
  std::printf("window_dpi=%u\n", GetDpiForWindow(window));
  std::printf("screen=%dx%d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  HDC screen = GetDC(nullptr);
  std::printf("logpixels=%d\n", GetDeviceCaps(screen, LOGPIXELSX));
  ReleaseDC(nullptr, screen);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  std::printf("pid=%lu\n", pid);
  return 0;
}

int ReportBox(const wchar_t* caption, int seconds) {
  HWND box = WaitFor(L"#32770", caption, seconds);
  if (!box) {
    std::printf("found=0\n");
    return 1;
  }
  wchar_t text[1024] = L"\xdead";
  // The message text is the box's static control 0xFFFF.
  GetDlgItemTextW(box, 0xFFFF, text, 1024);
  std::printf("found=1\ncaption=%s\n", Utf8(caption).c_str());
  std::string body = Utf8(text);
  for (char& c : body) {
    if (c == '\n') c = '|';
  }
  std::printf("text=%s\n", body.c_str());
  HWND owner = GetWindow(box, GW_OWNER);
  wchar_t ownerClass[64] = L"";
  if (owner) GetClassNameW(owner, ownerClass, 64);
  std::printf("owner=%s\n", Utf8(ownerClass).c_str());
  std::printf("yes=%d\nno=%d\n", GetDlgItem(box, IDYES) != nullptr, GetDlgItem(box, IDNO) != nullptr);
  return 0;
}

int ReportAdmin() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                0, 0, 0, 0, 0, &administrators)) {
    std::printf("allocate_error=%lu\n", GetLastError());
    return 1;
  }
  BOOL member = 0xdeadbeef;
  BOOL ok = CheckTokenMembership(nullptr, administrators, &member);
  std::printf("check=%d\nmember=%d\n", ok, member);
  FreeSid(administrators);
  return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"window") return ReportWindow(argc > 2 ? _wtoi(argv[2]) : 20);
  if (mode == L"box" && argc > 2) return ReportBox(argv[2], argc > 3 ? _wtoi(argv[3]) : 20);
  if (mode == L"admin") return ReportAdmin();
  std::fprintf(stderr, "usage: window_probe window|box CAPTION|admin [seconds]\n");
  return 2;
}
