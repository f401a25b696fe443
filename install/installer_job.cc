#include "install/installer_job.h"

#include <vector>

#include "platform/process.h"
#include "platform/time.h"
#include "platform/trace.h"

namespace {

// Ending a process takes a moment; the job's count says when it is over.
constexpr uint32_t kGonePollMs = 50;
constexpr int kGonePolls = 600;  // 30 seconds
constexpr uint32_t kTerminatedExitCode = 1;

// Terminates every process of the job and waits until none is left.
void EndJob(platform::Handle job) {
  platform::TerminateJobObject(job, kTerminatedExitCode);
  platform::JobAccounting accounting;
  for (int poll = 0; poll < kGonePolls; ++poll) {
    if (!platform::QueryInformationJobObject(job, &accounting) ||
        accounting.activeProcesses == 0) {
      return;
    }
    platform::Sleep(kGonePollMs);
  }
  platform::OutputDebugStringA("[Install] Installer processes still running after termination: " +
                               std::to_string(accounting.activeProcesses) + "\n");
}

}  // namespace

InstallerEnd RunInstallerInJob(const std::wstring& installer, const std::wstring& arguments,
                               const std::wstring& directory, uint32_t timeoutMs, uint32_t* code) {
  platform::Handle job = platform::CreateJobObjectW();
  if (!job) {
    *code = platform::GetLastError();
    return InstallerEnd::kNotStarted;
  }
  std::wstring line = L"\"" + installer + L"\" " + arguments;
  std::vector<wchar_t> buffer(line.begin(), line.end());
  buffer.push_back(L'\0');
  platform::Handle process = nullptr;
  platform::Handle thread = nullptr;
  if (!platform::CreateProcessW(installer, buffer.data(), platform::kCreateSuspended,
                                platform::kStartfUseShowWindow, platform::kSwHide, directory,
                                &process, &thread)) {
    *code = platform::GetLastError();
    platform::CloseHandle(job);
    return InstallerEnd::kNotStarted;
  }

  InstallerEnd end = InstallerEnd::kExited;
  if (!platform::AssignProcessToJobObject(job, process)) {
    // Never let it run outside the job: its children could not be ended.
    *code = platform::GetLastError();
    platform::TerminateProcess(process, kTerminatedExitCode);
    platform::WaitForSingleObject(process, kGonePollMs * kGonePolls);
    end = InstallerEnd::kNotStarted;
  } else if (platform::ResumeThread(thread) == platform::kResumeFailed) {
    *code = platform::GetLastError();
    EndJob(job);
    end = InstallerEnd::kNotStarted;
  } else if (platform::WaitForSingleObject(process, timeoutMs) == platform::kWaitTimeout) {
    EndJob(job);
    end = InstallerEnd::kTimedOut;
  } else {
    *code = 0;
    platform::GetExitCodeProcess(process, code);
  }
  platform::CloseHandle(thread);
  platform::CloseHandle(process);
  platform::CloseHandle(job);
  return end;
}
