// Whether the Windows build of a contract test runs under Wine, for the few
// checks where Wine is known to answer differently from Windows. Declared by
// hand: <windows.h> would clash with the platform:: names the tests use.
#ifndef TESTS_CONTRACT_ON_WINE_H_
#define TESTS_CONTRACT_ON_WINE_H_

#ifdef _WIN32
extern "C" __declspec(dllimport) void* __stdcall GetModuleHandleW(const wchar_t* name);
extern "C" __declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);

inline bool OnWine() {
  void* ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
#else
inline bool OnWine() { return false; }
#endif

#endif  // TESTS_CONTRACT_ON_WINE_H_
