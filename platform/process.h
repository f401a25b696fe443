// Process operations, mirrors of the shell32 and kernel32 calls of the same
// name. Every failing call sets the thread's last error to Windows' code.
#ifndef PLATFORM_PROCESS_H_
#define PLATFORM_PROCESS_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

constexpr uint32_t kSeeMaskNoCloseProcess = 0x00000040;
constexpr uint32_t kSeeMaskFlagNoUi = 0x00000400;
constexpr int32_t kSwHide = 0;
constexpr int32_t kSwShowNormal = 1;

constexpr uint32_t kCreateSuspended = 0x00000004;
constexpr uint32_t kCreateNoWindow = 0x08000000;
constexpr uint32_t kStartfUseShowWindow = 0x00000001;

constexpr uint32_t kInfinite = 0xFFFFFFFF;
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitFailed = 0xFFFFFFFF;

constexpr uint32_t kStillActive = 259;

// ShellExecuteExW with a SHELLEXECUTEINFOW of its own size, the mask, no
// owner window, the verb, file and parameters, the working folder of the
// started program (empty: none given, it inherits the caller's) and the show
// command. On success *process is the structure's hProcess: a process handle
// when the mask holds SEE_MASK_NOCLOSEPROCESS and a process was started,
// null otherwise. On failure *process is null and the last error is set
// (2 missing file, 1155 no program for the file's type, 1223 cancelled).
bool ShellExecuteExW(uint32_t mask, const std::wstring& verb, const std::wstring& file,
                     const std::wstring& parameters, const std::wstring& directory,
                     int32_t show, Handle* process);

// ShellExecuteW(owner, verb, file, parameters, directory, show), an empty
// parameters or directory passed as null: opens the file (starts the program
// it names) and returns at once. A value greater than 32 on success, else
// the error as the result and the last error (2 missing file, 3 missing
// folder, 31 no program for the file's type).
intptr_t ShellExecuteW(WindowHandle owner, const std::wstring& verb, const std::wstring& file,
                       const std::wstring& parameters, const std::wstring& directory,
                       int32_t show);

// CreateProcessW(applicationName, commandLine, no process or thread security
// attributes, no handle inheritance, creationFlags, the caller's environment
// and current directory, a STARTUPINFOW that is all zero but its size,
// dwFlags = startupFlags and wShowWindow = showWindow). commandLine is a
// writable, null-terminated buffer, as the call requires. On success
// *process and *thread are handles the caller closes; on failure both are
// null and the last error is set (2 missing program, 3 missing folder).
bool CreateProcessW(const std::wstring& applicationName, wchar_t* commandLine,
                    uint32_t creationFlags, uint32_t startupFlags, uint16_t showWindow,
                    Handle* process, Handle* thread);
// The same with the started program's current folder (empty: the caller's).
bool CreateProcessW(const std::wstring& applicationName, wchar_t* commandLine,
                    uint32_t creationFlags, uint32_t startupFlags, uint16_t showWindow,
                    const std::wstring& currentDirectory, Handle* process, Handle* thread);

// WaitForSingleObject on a process or thread handle: kWaitObject0 once the
// process has ended, kWaitTimeout after `milliseconds` (kInfinite: no limit),
// kWaitFailed with the last error 6 for a handle that is not open. On a mutex
// (platform/sync.h): kWaitObject0 or kWaitAbandoned once the caller owns it,
// kWaitTimeout while another thread holds it.
uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds);

// GetExitCodeProcess: *exitCode is the code, kStillActive while the process
// runs. False with 6 for a handle that is not open (*exitCode untouched).
bool GetExitCodeProcess(Handle process, uint32_t* exitCode);

// TerminateProcess: asks the process to end with exitCode and returns before
// it has ended; a wait on the handle tells when it has. False with 5 when the
// process has already ended.
bool TerminateProcess(Handle process, uint32_t exitCode);

// ResumeThread on a thread handle of CreateProcessW: the suspend count
// before the call (1 for a thread started with CREATE_SUSPENDED, after which
// it runs; 0 for a running one), or 0xFFFFFFFF with the last error (6 for a
// handle that is not a thread).
constexpr uint32_t kResumeFailed = 0xFFFFFFFF;
uint32_t ResumeThread(Handle thread);

// ---- Job objects ----

// CreateJobObjectW(no security attributes, no name): a job handle or null.
// No limits are set: closing the last handle leaves its processes running.
Handle CreateJobObjectW();

// AssignProcessToJobObject: from now on the process and every process it
// starts belong to the job. False with the last error (5 when the process
// already belongs to a job that does not allow nesting, 6 a bad handle).
bool AssignProcessToJobObject(Handle job, Handle process);

// TerminateJobObject: asks every process of the job to end with exitCode
// and returns before they have ended. A job handle is never signalled: the
// active-process count below tells when they are gone.
bool TerminateJobObject(Handle job, uint32_t exitCode);

// QueryInformationJobObject(job, JobObjectBasicAccountingInformation, ...):
// the processes that belong to the job and have not ended yet, and all that
// ever belonged to it. False with the last error (6 a bad handle).
struct JobAccounting {
  uint32_t totalProcesses = 0;
  uint32_t activeProcesses = 0;
};
bool QueryInformationJobObject(Handle job, JobAccounting* accounting);

// GetModuleFileNameW(no module: the running program, buffer of `size`
// characters). Returns the number of characters stored without the
// terminator and sets *fileName to them; when the path does not fit it is cut
// to size - 1 characters, the result is `size` and the last error 122.
uint32_t GetModuleFileNameW(uint32_t size, std::wstring* fileName);

}  // namespace platform

#endif  // PLATFORM_PROCESS_H_
