/* Follows what the setup window shows in its status and detail lines by
 * reading its two hidden label windows, which the painting draws from:
 *
 *   window_labels.exe OUTPUT [MAX_SECONDS]
 *
 * Waits for the window of class "TSLInstallerClass", then polls its labels
 * every 5 ms and appends one line to OUTPUT whenever either text changes:
 *
 *   <ms since the window was found><TAB><status><TAB><detail>\n   (UTF-8)
 *
 * Ends when the window is gone or after MAX_SECONDS (default 600). The
 * labels are the window's only children, created status first, and the
 * enumeration meets them in that order (seen on Wine 8: "Ready" comes
 * first at the start). A line can be missed when a text lives for less
 * than the polling period; the order of those seen is the window's order. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

typedef struct {
  HWND labels[2];
  int count;
} Labels;

static BOOL CALLBACK AddLabel(HWND child, LPARAM param) {
  Labels* labels = (Labels*)param;
  if (labels->count < 2) labels->labels[labels->count++] = child;
  return TRUE;
}

static void Text(HWND window, wchar_t* out, int size) {
  out[0] = 0;
  GetWindowTextW(window, out, size);
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: window_labels OUTPUT [MAX_SECONDS]\n");
    return 64;
  }
  DWORD maxMs = (argc > 2 ? (DWORD)wcstoul(argv[2], NULL, 10) : 600) * 1000;
  HANDLE output = CreateFileW(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (output == INVALID_HANDLE_VALUE) return 1;
  DWORD start = GetTickCount();
  HWND window = NULL;
  while (!(window = FindWindowW(L"TSLInstallerClass", NULL))) {
    if (GetTickCount() - start > maxMs) return 2;
    Sleep(5);
  }
  Labels labels = {{NULL, NULL}, 0};
  while (labels.count < 2 && GetTickCount() - start < maxMs) {
    labels.count = 0;
    EnumChildWindows(window, AddLabel, (LPARAM)&labels);
    if (labels.count < 2) Sleep(5);
  }
  if (labels.count < 2) return 3;
  HWND status = labels.labels[0], detail = labels.labels[1];

  DWORD found = GetTickCount();
  wchar_t last[1024] = L"\x1";
  while (IsWindow(window) && GetTickCount() - start < maxMs) {
    wchar_t s[256], d[256], line[1024];
    Text(status, s, 256);
    Text(detail, d, 256);
    /* The labels go before the window does: a label read after its end
       reads empty, which no screen ever showed. */
    if (!IsWindow(window) || !IsWindow(status) || !IsWindow(detail)) break;
    swprintf(line, 1024, L"%ls\t%ls", s, d);
    if (wcscmp(line, last) != 0) {
      wcscpy(last, line);
      char bytes[3200];
      int n = snprintf(bytes, 64, "%lu\t", (unsigned long)(GetTickCount() - found));
      n += WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes + n, (int)sizeof(bytes) - n - 2, NULL,
                               NULL) - 1;
      bytes[n++] = '\n';
      DWORD written = 0;
      WriteFile(output, bytes, (DWORD)n, &written, NULL);
    }
    Sleep(5);
  }
  CloseHandle(output);
  return 0;
}
