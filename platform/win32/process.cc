#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "platform/process.h"

namespace platform {

bool ShellExecuteExW(uint32_t mask, const std::wstring& verb, const std::wstring& file,
                     const std::wstring& parameters, const std::wstring& directory,
                     int32_t show, Handle* process) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = mask;
  info.hwnd = nullptr;
  info.lpVerb = verb.c_str();
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = directory.empty() ? nullptr : directory.c_str();
  info.nShow = show;
  BOOL ok = ::ShellExecuteExW(&info);
  *process = ok ? info.hProcess : nullptr;
  return ok != FALSE;
}

intptr_t ShellExecuteW(WindowHandle owner, const std::wstring& verb, const std::wstring& file,
                       const std::wstring& parameters, const std::wstring& directory,
                       int32_t show) {
  HINSTANCE result = ::ShellExecuteW(static_cast<HWND>(owner), verb.c_str(), file.c_str(),
                                     parameters.empty() ? nullptr : parameters.c_str(),
                                     directory.empty() ? nullptr : directory.c_str(), show);
  return reinterpret_cast<intptr_t>(result);
}

bool CreateProcessW(const std::wstring& applicationName, wchar_t* commandLine,
                    uint32_t creationFlags, uint32_t startupFlags, uint16_t showWindow,
                    Handle* process, Handle* thread) {
  return CreateProcessW(applicationName, commandLine, creationFlags, startupFlags, showWindow,
                        std::wstring(), process, thread);
}

bool CreateProcessW(const std::wstring& applicationName, wchar_t* commandLine,
                    uint32_t creationFlags, uint32_t startupFlags, uint16_t showWindow,
                    const std::wstring& currentDirectory, Handle* process, Handle* thread) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = startupFlags;
  startup.wShowWindow = showWindow;
  PROCESS_INFORMATION info = {};
  BOOL ok = ::CreateProcessW(applicationName.c_str(), commandLine, nullptr, nullptr, FALSE,
                             creationFlags, nullptr,
                             currentDirectory.empty() ? nullptr : currentDirectory.c_str(),
                             &startup, &info);
  *process = ok ? info.hProcess : nullptr;
  *thread = ok ? info.hThread : nullptr;
  return ok != FALSE;
}

uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) {
  return ::WaitForSingleObject(handle, milliseconds);
}

bool GetExitCodeProcess(Handle process, uint32_t* exitCode) {
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) return false;
  *exitCode = code;
  return true;
}

bool TerminateProcess(Handle process, uint32_t exitCode) {
  return ::TerminateProcess(process, exitCode) != FALSE;
}

uint32_t GetModuleFileNameW(uint32_t size, std::wstring* fileName) {
  std::vector<wchar_t> buffer(size + 1, L'\0');
  DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), size);
  // Older systems cut the path without terminating it: never read past n.
  fileName->assign(buffer.data(), n < size ? n : (size ? size - 1 : 0));
  return n;
}

}  // namespace platform

namespace platform {

uint32_t ResumeThread(Handle thread) { return ::ResumeThread(thread); }

Handle CreateJobObjectW() { return ::CreateJobObjectW(nullptr, nullptr); }

bool AssignProcessToJobObject(Handle job, Handle process) {
  return ::AssignProcessToJobObject(job, process) != FALSE;
}

bool TerminateJobObject(Handle job, uint32_t exitCode) {
  return ::TerminateJobObject(job, exitCode) != FALSE;
}

bool QueryInformationJobObject(Handle job, JobAccounting* accounting) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
  if (!::QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof(info),
                                   nullptr)) {
    return false;
  }
  accounting->totalProcesses = info.TotalProcesses;
  accounting->activeProcesses = info.ActiveProcesses;
  return true;
}

}  // namespace platform
