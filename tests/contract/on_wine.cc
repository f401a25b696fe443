#include "tests/contract/on_wine.h"

#ifdef _WIN32
#include <windows.h>

bool RunningOnWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
#else
bool RunningOnWine() { return false; }
#endif
