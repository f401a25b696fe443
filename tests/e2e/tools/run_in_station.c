/* Starts a program where no user sees it, as the task scheduler starts a
 * SYSTEM task: in a window station of its own (not WinSta0, so without
 * WSF_VISIBLE) with a desktop made in it. Waits for it and exits with its
 * exit code.
 *
 *   run_in_station.exe SECONDS PROGRAM [ARGS...]
 *
 * Prints "started pid=N desktop=STATION\Default". Exit: the program's own
 * code; 254 when it had not ended after SECONDS (it is then terminated, so
 * nothing is left behind); 255 when the station, the desktop or the process
 * cannot be made. Children of the program inherit its desktop. */
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

/* One argument as CommandLineToArgvW reads it back: quoted when it holds a
 * blank, with the backslashes before a quote doubled. */
static void AppendArgument(wchar_t* line, size_t size, const wchar_t* arg) {
  size_t n = wcslen(line);
  int quote = arg[0] == L'\0' || wcspbrk(arg, L" \t\"") != NULL;
  if (n && n + 1 < size) line[n++] = L' ';
  if (quote && n + 1 < size) line[n++] = L'"';
  size_t slashes = 0;
  for (const wchar_t* p = arg; *p && n + 4 < size; ++p) {
    if (*p == L'\\') {
      ++slashes;
    } else {
      if (*p == L'"') {
        for (size_t i = 0; i < slashes + 1 && n + 2 < size; ++i) line[n++] = L'\\';
      }
      slashes = 0;
    }
    line[n++] = *p;
  }
  if (quote) {
    for (size_t i = 0; i < slashes && n + 2 < size; ++i) line[n++] = L'\\';
    if (n + 1 < size) line[n++] = L'"';
  }
  line[n] = L'\0';
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: run_in_station SECONDS PROGRAM [ARGS...]\n");
    return 64;
  }
  DWORD seconds = (DWORD)wcstoul(argv[1], NULL, 10);
  wchar_t station[64], desktop[80];
  swprintf(station, 64, L"TslUnattended%lu", GetCurrentProcessId());
  swprintf(desktop, 80, L"%ls\\Default", station);

  HWINSTA home = GetProcessWindowStation();
  HWINSTA own = CreateWindowStationW(station, 0, WINSTA_ALL_ACCESS, NULL);
  if (!own) {
    printf("CreateWindowStationW failed: %lu\n", GetLastError());
    return 255;
  }
  /* CreateDesktopW makes the desktop in the caller's own station. */
  HDESK desk = NULL;
  if (SetProcessWindowStation(own)) {
    desk = CreateDesktopW(L"Default", NULL, NULL, 0, GENERIC_ALL, NULL);
    if (!desk) printf("CreateDesktopW failed: %lu\n", GetLastError());
    SetProcessWindowStation(home);
  } else {
    printf("SetProcessWindowStation failed: %lu\n", GetLastError());
  }
  if (!desk) {
    CloseWindowStation(own);
    return 255;
  }

  static wchar_t line[32768];
  line[0] = L'\0';
  for (int i = 2; i < argc; ++i) AppendArgument(line, sizeof(line) / sizeof(line[0]), argv[i]);
  STARTUPINFOW startup = {0};
  startup.cb = sizeof(startup);
  startup.lpDesktop = desktop;
  PROCESS_INFORMATION child = {0};
  if (!CreateProcessW(argv[2], line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &child)) {
    printf("CreateProcessW failed: %lu\n", GetLastError());
    CloseDesktop(desk);
    CloseWindowStation(own);
    return 255;
  }
  printf("started pid=%lu desktop=%ls\n", child.dwProcessId, desktop);
  fflush(stdout);

  DWORD code = 254;
  if (WaitForSingleObject(child.hProcess, seconds * 1000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(child.hProcess, &code);
  } else {
    printf("still running after %lu s: terminated\n", seconds);
    TerminateProcess(child.hProcess, 254);
    WaitForSingleObject(child.hProcess, 10000);
  }
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  CloseDesktop(desk);
  CloseWindowStation(own);
  return (int)code;
}
