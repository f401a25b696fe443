/* Stand-in for the application, Velquist.exe: one window that says it is
 * Tessaline, which ends when it is closed. It also loads WebView2Loader.dll
 * from its own folder, so a run shows whether the downloaded loader is a
 * working DLL, and logs its start and end to STANDIN_LOG_PATH. */
#include <stdio.h>
#include <windows.h>

#include "standin_common.h"

#define VELQUIST_TITLE L"Tessaline"
#define VELQUIST_CLASS L"TslVelquistStandIn"

static wchar_t g_loaderLine[128];

/* "loaded, version N" when the loader next to this program loads and answers
 * its export, else what went wrong; also the text shown in the window. */
static void CheckLoader(void) {
  wchar_t path[MAX_PATH + 32];
  StandinOwnFolder(path, MAX_PATH);
  lstrcatW(path, L"WebView2Loader.dll");
  HMODULE loader = LoadLibraryExW(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!loader) {
    swprintf(g_loaderLine, 128, L"WebView2Loader.dll: not loaded (error %lu)", GetLastError());
    return;
  }
  typedef DWORD(WINAPI * VersionFn)(void);
  VersionFn version = (VersionFn)(void*)GetProcAddress(loader, "TslLoaderStandInVersion");
  if (version) {
    swprintf(g_loaderLine, 128, L"WebView2Loader.dll: loaded, version %lu", version());
  } else {
    swprintf(g_loaderLine, 128, L"WebView2Loader.dll: loaded, no stand-in export");
  }
  FreeLibrary(loader);
}

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      static const wchar_t kRunning[] = L"Tessaline is running.";
      TextOutW(dc, 20, 20, kRunning, lstrlenW(kRunning));
      TextOutW(dc, 20, 50, g_loaderLine, lstrlenW(g_loaderLine));
      EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      /* WM_CLOSE included: DefWindowProc destroys the window. */
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)previous;
  (void)commandLine;
  CheckLoader();

  wchar_t line[2048];
  swprintf(line, 2048, L"Velquist start pid=%lu args=[%ls] loader=[%ls]", GetCurrentProcessId(),
           StandinArguments(), g_loaderLine);
  StandinLog(line);

  WNDCLASSW windowClass = {0};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
  windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  windowClass.lpszClassName = VELQUIST_CLASS;
  if (!RegisterClassW(&windowClass)) return 1;
  HWND window = CreateWindowExW(0, VELQUIST_CLASS, VELQUIST_TITLE, WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, 480, 160, NULL, NULL, instance, NULL);
  if (!window) return 1;
  ShowWindow(window, show);
  UpdateWindow(window);

  MSG message;
  while (GetMessageW(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  swprintf(line, 2048, L"Velquist end pid=%lu exit=0", GetCurrentProcessId());
  StandinLog(line);
  return 0;
}
