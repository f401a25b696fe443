// Planted DLLs, on Windows itself: the setup started from a temp folder
// that holds DLLs of the names Windows looks up in the application's folder
// loads none of them. Wine 8 prefers its builtin DLLs to ones beside the
// program, so it cannot tell; there the case is skipped.
#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/contract/on_wine.h"
#include "tests/windows/kit_support.h"

namespace {

constexpr char kSkipLabel[] =
    "Windows only: the setup beside planted DLLs loads none "
    "(Wine 8 prefers its builtin DLLs)";

// Not KnownDLLs: a program that imports them, or a system DLL it loads
// that imports them, finds them in the application's folder first unless it
// asks for System32.
constexpr const wchar_t* kPlantedNames[] = {
    L"version",   L"uxtheme",  L"dwmapi",    L"winhttp",  L"wintrust", L"crypt32",
    L"bcrypt",    L"cryptbase", L"userenv",  L"propsys",  L"profapi",  L"sspicli",
    L"secur32",   L"cryptsp",  L"msasn1",    L"ntmarta",  L"wldp",     L"dbghelp",
    L"winmm",     L"msimg32",  L"dwrite",    L"textshaping", L"comctl32", L"windows.storage",
    L"iphlpapi",  L"dnsapi",   L"fwpuclnt",  L"wtsapi32", L"netapi32", L"mpr",
    L"oleacc",    L"edputil",  L"apphelp",   L"cryptnet", L"wininet",  L"urlmon",
    L"iertutil",  L"srvcli",   L"netutils",  L"dxgi",     L"windowscodecs", L"mswsock",
};

struct FindArgs {
  DWORD processId;
  HWND window;
};

HWND SetupWindowOf(DWORD processId) {
  FindArgs args = {processId, nullptr};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        FindArgs* args = reinterpret_cast<FindArgs*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (owner != args->processId || std::wstring(name) != L"TSLInstallerClass") return TRUE;
        args->window = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&args));
  return args.window;
}

// The modules of the process that come from `folder`.
std::vector<std::wstring> ModulesFrom(DWORD processId, const std::wstring& folder) {
  std::vector<std::wstring> found;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
  if (snapshot == INVALID_HANDLE_VALUE) return {L"(no module list: " + std::to_wstring(GetLastError()) + L")"};
  MODULEENTRY32W module = {};
  module.dwSize = sizeof module;
  for (BOOL more = Module32FirstW(snapshot, &module); more; more = Module32NextW(snapshot, &module)) {
    std::wstring path = module.szExePath;
    if (CompareStringOrdinal(path.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                             static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL &&
        path.rfind(L".exe") != path.size() - 4) {
      found.push_back(path);
    }
  }
  CloseHandle(snapshot);
  return found;
}

TEST(PlantedDllsOnWindows, SetupStartedBesidePlantedDllsLoadsNone) {
  if (RunningOnWine()) GTEST_SKIP() << kSkipLabel;
  KitTempFolder temp;
  std::wstring setup = temp.At(L"TessalineSetup.exe");
  ASSERT_TRUE(CopyFileW((KitFolder() + L"\\TessalineSetup.exe").c_str(), setup.c_str(), TRUE))
      << LastErrorText();
  for (const wchar_t* name : kPlantedNames) {
    ASSERT_TRUE(CopyFileW((KitFolder() + L"\\planted.dll").c_str(),
                          temp.At(std::wstring(name) + L".dll").c_str(), TRUE))
        << LastErrorText();
  }
  // Started from the planted folder, with it as the current folder too.
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::wstring line = Quoted(setup);
  ASSERT_TRUE(CreateProcessW(setup.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             temp.path().c_str(), &startup, &process))
      << LastErrorText();
  HWND window = nullptr;
  bool shown = WaitUntil([&] {
    window = SetupWindowOf(process.dwProcessId);
    return window != nullptr || WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0;
  });
  EXPECT_TRUE(shown && window) << "the setup's window did not appear";
  std::vector<std::wstring> loaded = ModulesFrom(process.dwProcessId, temp.path() + L"\\");
  if (window) PostMessageW(window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process.hProcess, kKitWaitMs) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the setup did not close";
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, kKitWaitMs);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);

  EXPECT_TRUE(loaded.empty()) << "loaded from the setup's folder: "
                              << ::testing::PrintToString(loaded);
  for (const wchar_t* name : kPlantedNames) {
    EXPECT_FALSE(KitPathExists(temp.At(std::wstring(name) + L".dll.loaded")))
        << ::testing::PrintToString(std::wstring(name)) << ".dll was loaded";
  }
}

}  // namespace
