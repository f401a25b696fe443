// A small Windows console tool for the world's own checks: the two things
// the setup program does with a runtime installer, one at a time.
//
//   world_probe.exe fetch HOST PATH LOCALFILE
//       DownloadFile(HOST, PATH, LOCALFILE); prints "fetch ok" or
//       "fetch failed: <reason>"; exit 0 or 1.
//   world_probe.exe run FILE PARAMETERS TIMEOUT_MS
//       starts FILE as the setup program starts an installer (ShellExecuteExW,
//       verb "open", hidden, SEE_MASK_NOCLOSEPROCESS) and waits; prints
//       "run exit=<code>" (unsigned decimal), "run timeout" (after
//       terminating it with 1) or "run failed (error N)"; exit 0, 2 or 3.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "install/download.h"

namespace {

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

int Fetch(const wchar_t* host, const wchar_t* path, const wchar_t* local) {
  std::wstring reason;
  if (DownloadFile(host, path, local, &reason)) {
    std::printf("fetch ok\n");
    return 0;
  }
  std::printf("fetch failed: %s\n", Narrow(reason).c_str());
  return 1;
}

int Run(const wchar_t* file, const wchar_t* parameters, DWORD timeoutMs) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = L"open";
  info.lpFile = file;
  info.lpParameters = parameters;
  info.nShow = SW_HIDE;
  if (!ShellExecuteExW(&info)) {
    std::printf("run failed (error %lu)\n", GetLastError());
    return 3;
  }
  if (!info.hProcess) {
    std::printf("run started without a process\n");
    return 3;
  }
  if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_TIMEOUT) {
    TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hProcess);
    std::printf("run timeout\n");
    return 2;
  }
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  std::printf("run exit=%lu\n", code);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc == 5 && std::wcscmp(argv[1], L"fetch") == 0) return Fetch(argv[2], argv[3], argv[4]);
  if (argc == 5 && std::wcscmp(argv[1], L"run") == 0) {
    return Run(argv[2], argv[3], static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 10)));
  }
  std::fprintf(stderr,
               "usage: world_probe fetch HOST PATH LOCALFILE\n"
               "       world_probe run FILE PARAMETERS TIMEOUT_MS\n");
  return 64;
}
