/* Holds a file open the way a running program holding its data does: no
 * sharing at all, so nobody else can open, delete or rename it.
 *
 *   hold_file.exe PATH RELEASE_FILE [MAX_SECONDS]
 *
 * Creates PATH (and keeps its content if it exists), prints "held PATH" and
 * keeps the handle until RELEASE_FILE exists or MAX_SECONDS (default 120)
 * have passed, so it ends on its own even if nobody releases it. Exit 0
 * after a release, 2 after the time-out, 1 when PATH cannot be opened. */
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: hold_file PATH RELEASE_FILE [MAX_SECONDS]\n");
    return 64;
  }
  DWORD maxSeconds = argc > 3 ? (DWORD)wcstoul(argv[3], NULL, 10) : 120;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    printf("cannot open: error %lu\n", GetLastError());
    return 1;
  }
  printf("held %ls\n", argv[1]);
  fflush(stdout);
  DWORD start = GetTickCount();
  int status = 2;
  while (GetTickCount() - start < maxSeconds * 1000) {
    if (GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES) {
      status = 0;
      break;
    }
    Sleep(100);
  }
  CloseHandle(file);
  return status;
}
