/* A version.dll as someone might drop it into a Downloads folder beside the
 * setup: it exports what user32 takes from the real one, and on load it says
 * so on standard output and ends the process with 86, so a run shows whether
 * the loader took it (scripts/wine-window.sh). */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    static const char kLine[] = "planted version.dll loaded\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), kLine, sizeof(kLine) - 1, &written, NULL);
    ExitProcess(86);
  }
  return TRUE;
}

/* Unnamed parameters: only the names and the load matter. */
__declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR, LPDWORD) { return 0; }
__declspec(dllexport) BOOL WINAPI GetFileVersionInfoW(LPCWSTR, DWORD, DWORD, LPVOID) {
  return FALSE;
}
__declspec(dllexport) BOOL WINAPI VerQueryValueW(LPCVOID, LPCWSTR, LPVOID*, PUINT) {
  return FALSE;
}
