/* Reads a message box the way a person sees it, from the window itself:
 *
 *   box_text.exe CAPTION [TIMEOUT_MS]
 *
 * Waits (default 20000 ms) for a visible dialog window ("#32770", the class
 * MessageBoxW uses) titled CAPTION, then prints as UTF-8 without any
 * conversion of line ends:
 *
 *   owner=<class of the owner window> buttons=[<label>][<label>]...\n
 *   <the text of the box's message control>
 *
 * The message control is the child with id 0xFFFF, as in Windows' and
 * Wine's MessageBoxW. Touches nothing: answering is left to the caller (a
 * key or a click), so the box is read, not steered. Exit 0 when a box was
 * found, 1 after the time-out, 64 on a usage error. */
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

static void PutUtf8(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
  if (n <= 1) return;
  char* bytes = (char*)malloc((size_t)n);
  if (!bytes) return;
  WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, n, NULL, NULL);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, (DWORD)(n - 1), &written, NULL);
  free(bytes);
}

static BOOL CALLBACK AddButton(HWND child, LPARAM line) {
  wchar_t cls[64] = L"";
  GetClassNameW(child, cls, 64);
  if (_wcsicmp(cls, L"Button") == 0 && IsWindowVisible(child)) {
    wchar_t label[128] = L"";
    GetWindowTextW(child, label, 128);
    wchar_t* out = (wchar_t*)line;
    wcsncat(out, L"[", 1023 - wcslen(out));
    wcsncat(out, label, 1023 - wcslen(out));
    wcsncat(out, L"]", 1023 - wcslen(out));
  }
  return TRUE;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: box_text CAPTION [TIMEOUT_MS]\n");
    return 64;
  }
  DWORD timeout = argc > 2 ? (DWORD)wcstoul(argv[2], NULL, 10) : 20000;
  DWORD start = GetTickCount();
  HWND box = NULL;
  for (;;) {
    box = FindWindowW(L"#32770", argv[1]);
    if (box && IsWindowVisible(box)) break;
    if (GetTickCount() - start >= timeout) return 1;
    Sleep(100);
  }
  /* The text is set before the box is shown, but give its creation a moment
   * to finish laying out the buttons. */
  Sleep(200);

  wchar_t line[1024] = L"owner=";
  HWND owner = GetWindow(box, GW_OWNER);
  wchar_t ownerClass[128] = L"none";
  if (owner) GetClassNameW(owner, ownerClass, 128);
  wcsncat(line, ownerClass, 1023 - wcslen(line));
  wcsncat(line, L" buttons=", 1023 - wcslen(line));
  EnumChildWindows(box, AddButton, (LPARAM)line);
  wcsncat(line, L"\n", 1023 - wcslen(line));
  PutUtf8(line);

  HWND message = GetDlgItem(box, 0xFFFF);
  if (message) {
    int length = GetWindowTextLengthW(message);
    wchar_t* text = (wchar_t*)calloc((size_t)length + 1, sizeof(wchar_t));
    if (text) {
      GetWindowTextW(message, text, length + 1);
      PutUtf8(text);
      free(text);
    }
  }
  return 0;
}
