#include "registration/update_task.h"

#include <cstdint>
#include <vector>

#include "install/product_constants.h"
#include "install/publisher_check.h"
#include "install/staged_file.h"
#include "install/staged_swap.h"
#include "platform/file.h"
#include "platform/file_handle.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "platform/trace.h"
#include "registration/own_image.h"

namespace {

constexpr wchar_t kTaskName[] = L"Maretto\\TSL Updater";
constexpr size_t kCreateLineChars = 1024;
constexpr size_t kDeleteLineChars = 512;
constexpr uint32_t kCommandWaitMs = 10000;
constexpr uint32_t kCopyChunkBytes = 64 * 1024;
constexpr wchar_t kStagingSuffix[] = L".new";

// schtasks.exe of the system folder, by its full path: no command
// interpreter (which would run a "schtasks.bat" of the current folder, or
// the user's AutoRun command) and no search of the current folder.
std::wstring SchtasksPath() {
  std::wstring system = platform::GetSystemDirectoryW();
  return system.empty() ? std::wstring() : JoinPath(system, L"schtasks.exe");
}

// The command line: the program's quoted path, a blank, the arguments.
std::wstring SchtasksLine(const std::wstring& program, const std::wstring& arguments) {
  return L"\"" + program + L"\" " + arguments;
}

// Starts `program` with the line in `buffer`, without a window.
bool StartHidden(const std::wstring& program, wchar_t* buffer, platform::Handle* process,
                 platform::Handle* thread) {
  if (program.empty()) return false;  // GetSystemDirectoryW's error is set
  return platform::CreateProcessW(program, buffer, platform::kCreateNoWindow,
                                  platform::kStartfUseShowWindow,
                                  static_cast<uint16_t>(platform::kSwHide), process, thread);
}

// Writes every byte of `source` (from its start) to `target` and flushes it.
// Returns 0 or the error code.
uint32_t CopyContent(platform::Handle source, platform::Handle target) {
  if (!platform::SetFilePointerEx(source, 0, platform::kFileBegin)) return platform::GetLastError();
  std::vector<unsigned char> chunk(kCopyChunkBytes);
  for (;;) {
    uint32_t read = 0;
    if (!platform::ReadFile(source, chunk.data(), kCopyChunkBytes, &read)) {
      return platform::GetLastError();
    }
    if (read == 0) break;
    uint32_t written = 0;
    if (!platform::WriteFile(target, chunk.data(), read, &written)) return platform::GetLastError();
  }
  if (!platform::FlushFileBuffers(target)) return platform::GetLastError();
  return platform::kErrorSuccess;
}

// A fresh file beside updater.exe with the held program's bytes, swapped
// in: no half-written updater, nothing carried over from the source (no
// download mark, no read-only attribute). Returns 0 or the error code.
uint32_t StageAndSwap(const std::wstring& updater) {
  const std::wstring staging = LongPathForm(updater + kStagingSuffix);
  platform::Handle target = CreateStagedFile(staging);
  if (target == platform::kInvalidHandleValue) return platform::GetLastError();
  uint32_t error = CopyContent(g_ownImage, target);
  platform::Handle held = platform::kInvalidHandleValue;
  if (error == platform::kErrorSuccess) {
    held = HoldStagedFile(staging, target);
    if (held == platform::kInvalidHandleValue) error = platform::GetLastError();
  } else {
    platform::CloseHandle(target);
  }
  if (error != platform::kErrorSuccess) {
    platform::DeleteFileW(staging);
    return error;
  }
  // An old setup left in Downloads must not take the updater back; the
  // staged copy's version is the held program's own.
  uint64_t installed = 0;
  uint64_t mine = 0;
  if (ReadFileVersion(updater, &installed) &&
      (!ReadFileVersion(staging, &mine) || mine < installed)) {
    platform::CloseHandle(held);
    platform::DeleteFileW(staging);
    const std::wstring version = VersionText(installed);
    platform::OutputDebugStringA("[Install] The installed updater is newer (" +
                                 std::string(version.begin(), version.end()) +
                                 "): left as it is\n");
    return platform::kErrorSuccess;
  }
  // Held through the swap, so no one can keep it from being renamed in.
  error = SwapInUpdater(staging);
  platform::CloseHandle(held);
  return error;
}

}  // namespace

uint32_t SwapInUpdater(const std::wstring& staged) {
  return SwapInFile(staged, kUpdaterExeName);
}

bool CopyCommandLine(const std::wstring& line, wchar_t* buffer, size_t capacity) {
  if (line.size() + 1 > capacity) return false;
  line.copy(buffer, line.size());
  buffer[line.size()] = L'\0';
  return true;
}

void InstallUpdaterCopy() {
  const std::wstring updater = GetInstallPath(kUpdaterExeName);
  uint32_t error = g_ownImageError;
  if (g_ownImage != platform::kInvalidHandleValue) {
    if (IsOwnImageAt(updater)) {
      platform::OutputDebugStringA("[Install] Running as the updater copy: left as it is\n");
      return;
    }
    error = StageAndSwap(updater);
  }
  if (error != platform::kErrorSuccess) {
    platform::OutputDebugStringA("[Install] Failed to copy updater: " + std::to_string(error) +
                                 "\n");
  }
}

void ScheduleUpdateTask() {
  const std::wstring program = SchtasksPath();
  std::wstring line = SchtasksLine(
      program, std::wstring(L"/Create /F /TN ") + L"\"" + kTaskName + L"\"" + L" /TR " +
                   L"\"\\\"" + GetInstallPath(kUpdaterExeName) + L"\\\"\"" +
                   L" /SC WEEKLY /D SUN /ST 03:00 /RL HIGHEST /RU SYSTEM");
  wchar_t buffer[kCreateLineChars];
  if (!CopyCommandLine(line, buffer, kCreateLineChars)) {
    platform::OutputDebugStringA("[Install] Scheduled task command line too long\n");
    return;
  }
  platform::Handle process = nullptr;
  platform::Handle thread = nullptr;
  if (!StartHidden(program, buffer, &process, &thread)) {
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
  const std::wstring program = SchtasksPath();
  std::wstring line =
      SchtasksLine(program, std::wstring(L"/Delete /F /TN ") + L"\"" + kTaskName + L"\"");
  wchar_t buffer[kDeleteLineChars];
  if (!CopyCommandLine(line, buffer, kDeleteLineChars)) {
    platform::OutputDebugStringA("[Uninstall] Scheduled task command line too long\n");
    return;
  }
  platform::Handle process = nullptr;
  platform::Handle thread = nullptr;
  if (!StartHidden(program, buffer, &process, &thread)) {
    platform::OutputDebugStringA(
        "[Uninstall] Scheduled task deletion returned false (may not exist)\n");
    return;
  }
  platform::WaitForSingleObject(process, kCommandWaitMs);
  platform::CloseHandle(process);
  platform::CloseHandle(thread);
}
