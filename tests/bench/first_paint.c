// Measures the start of a GUI program to its first painted window, for
// scripts/bench.sh:
//
//   first_paint.exe PROGRAM TITLE X Y R G B [TIMEOUT_MS]
//
// starts PROGRAM, then looks every millisecond for a visible top-level
// window titled TITLE whose client pixel X,Y has the colour R,G,B (read
// through the window's own DC, so another window on top does not matter),
// prints "first-paint-ms N", closes the window (WM_CLOSE, then
// TerminateProcess after 10 s) and exits 0. Exits 1 when the window is not
// painted in time (default 60 s) or the program cannot start.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

static double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
  return (double)(to.QuadPart - from.QuadPart) * 1000.0 / (double)frequency.QuadPart;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 8) {
    fwprintf(stderr, L"usage: first_paint PROGRAM TITLE X Y R G B [TIMEOUT_MS]\n");
    return 2;
  }
  const wchar_t* program = argv[1];
  const wchar_t* title = argv[2];
  int x = _wtoi(argv[3]);
  int y = _wtoi(argv[4]);
  COLORREF want = RGB(_wtoi(argv[5]), _wtoi(argv[6]), _wtoi(argv[7]));
  double limit = argc > 8 ? _wtof(argv[8]) : 60000.0;

  wchar_t line[MAX_PATH + 3];
  _snwprintf(line, MAX_PATH + 3, L"\"%ls\"", program);
  line[MAX_PATH + 2] = 0;
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION process;
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(program, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    fwprintf(stderr, L"first_paint: cannot start %ls: %lu\n", program, GetLastError());
    return 1;
  }
  CloseHandle(process.hThread);

  HWND window = NULL;
  int painted = 0;
  COLORREF last = CLR_INVALID;
  for (;;) {
    QueryPerformanceCounter(&now);
    if (Milliseconds(start, now, frequency) > limit) break;
    window = FindWindowW(NULL, title);
    if (window && IsWindowVisible(window)) {
      HDC dc = GetDC(window);
      last = GetPixel(dc, x, y);
      ReleaseDC(window, dc);
      if (last == want) {
        painted = 1;
        break;
      }
    }
    if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) break;
  }
  QueryPerformanceCounter(&now);
  if (painted) printf("first-paint-ms %.1f\n", Milliseconds(start, now, frequency));
  else fwprintf(stderr, L"first_paint: no painted window \"%ls\" (last pixel %06lx)\n", title, last);
  fflush(stdout);

  if (window) PostMessageW(window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 10000);
  }
  CloseHandle(process.hProcess);
  return painted ? 0 : 1;
}
