#include "standin_common.h"

void StandinLog(const wchar_t* text) {
  char line[4096];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, line, sizeof(line) - 2, NULL, NULL);
  if (n <= 0) return;
  line[n - 1] = '\n'; /* replaces the terminating zero */
  /* Another stand-in may hold the file for its one write: try again briefly. */
  for (int attempt = 0; attempt < 50; ++attempt) {
    HANDLE file = CreateFileW(STANDIN_LOG_PATH, FILE_APPEND_DATA, FILE_SHARE_READ, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, line, (DWORD)n, &written, NULL);
      CloseHandle(file);
      return;
    }
    if (GetLastError() != ERROR_SHARING_VIOLATION) return;
    Sleep(20);
  }
}

const wchar_t* StandinArguments(void) {
  const wchar_t* p = GetCommandLineW();
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

void StandinOwnFolder(wchar_t* folder, DWORD size) {
  DWORD n = GetModuleFileNameW(NULL, folder, size);
  if (n == 0 || n >= size) {
    folder[0] = 0;
    return;
  }
  while (n > 0 && folder[n - 1] != L'\\') --n;
  folder[n] = 0;
}
