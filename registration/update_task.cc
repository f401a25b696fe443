#include "registration/update_task.h"

#include <cstdint>

#include "install/product_constants.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/trace.h"

namespace {

constexpr wchar_t kCommandInterpreter[] = L"C:\\Windows\\System32\\cmd.exe";
constexpr wchar_t kTaskName[] = L"Maretto\\TSL Updater";
constexpr size_t kCreateLineChars = 1024;
constexpr size_t kDeleteLineChars = 512;
constexpr uint32_t kCommandWaitMs = 10000;

// Starts cmd.exe with the line in `buffer`, without a window.
bool StartHidden(wchar_t* buffer, platform::Handle* process, platform::Handle* thread) {
  return platform::CreateProcessW(kCommandInterpreter, buffer, platform::kCreateNoWindow,
                                  platform::kStartfUseShowWindow,
                                  static_cast<uint16_t>(platform::kSwHide), process, thread);
}

}  // namespace

bool CopyCommandLine(const std::wstring& line, wchar_t* buffer, size_t capacity) {
  if (line.size() + 1 > capacity) return false;
  line.copy(buffer, line.size());
  buffer[line.size()] = L'\0';
  return true;
}

void InstallUpdaterCopy() {
  std::wstring self;
  uint32_t length = platform::GetModuleFileNameW(platform::kMaxPath, &self);
  // A cut-off path names some other file, or none: never copy from it.
  if (length == 0 || length >= platform::kMaxPath) {
    platform::OutputDebugStringA("[Install] Failed to copy updater: " +
                                 std::to_string(platform::GetLastError()) + "\n");
    return;
  }
  if (!platform::CopyFileW(self, GetInstallPath(kUpdaterExeName), false)) {
    platform::OutputDebugStringA("[Install] Failed to copy updater: " +
                                 std::to_string(platform::GetLastError()) + "\n");
  }
}

void ScheduleUpdateTask() {
  std::wstring line = std::wstring(L"/C schtasks /Create /F /TN ") + L"\"" + kTaskName + L"\"" +
                      L" /TR " + L"\"\\\"" + GetInstallPath(kUpdaterExeName) + L"\\\"\"" +
                      L" /SC WEEKLY /D SUN /ST 03:00 /RL HIGHEST /RU SYSTEM";
  wchar_t buffer[kCreateLineChars];
  if (!CopyCommandLine(line, buffer, kCreateLineChars)) {
    platform::OutputDebugStringA("[Install] Scheduled task command line too long\n");
    return;
  }
  platform::Handle process = nullptr;
  platform::Handle thread = nullptr;
  if (!StartHidden(buffer, &process, &thread)) {
    platform::OutputDebugStringA("[Install] Failed to create scheduled task process: " +
                                 std::to_string(platform::GetLastError()) + "\n");
    return;
  }
  // Still running after the wait reads as STILL_ACTIVE (259) and is traced
  // like any other non-zero code.
  platform::WaitForSingleObject(process, kCommandWaitMs);
  uint32_t exitCode = 0;
  platform::GetExitCodeProcess(process, &exitCode);
  if (exitCode != 0) {
    platform::OutputDebugStringA("[Install] schtasks returned: " + std::to_string(exitCode) +
                                 "\n");
  }
  platform::CloseHandle(process);
  platform::CloseHandle(thread);
}

void DeleteUpdateTask() {
  std::wstring line = std::wstring(L"/C schtasks /Delete /F /TN ") + L"\"" + kTaskName + L"\"";
  wchar_t buffer[kDeleteLineChars];
  if (!CopyCommandLine(line, buffer, kDeleteLineChars)) {
    platform::OutputDebugStringA("[Uninstall] Scheduled task command line too long\n");
    return;
  }
  platform::Handle process = nullptr;
  platform::Handle thread = nullptr;
  if (!StartHidden(buffer, &process, &thread)) {
    platform::OutputDebugStringA(
        "[Uninstall] Scheduled task deletion returned false (may not exist)\n");
    return;
  }
  platform::WaitForSingleObject(process, kCommandWaitMs);
  platform::CloseHandle(process);
  platform::CloseHandle(thread);
}
