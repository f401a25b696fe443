// The fake's processes and clock: programs started from files of the fake
// file system, ending with scripted codes on a clock that waits move on,
// never in real time.
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <map>

#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/file.h"
#include "platform/file_handle.h"
#include "platform/process.h"
#include "platform/time.h"

namespace fake {
namespace {

using namespace platform;

constexpr uint64_t kNever = ~uint64_t{0};
constexpr uint64_t kTerminationMs = 50;
constexpr wchar_t kDefaultModule[] = L"C:\\Users\\User\\Downloads\\TessalineSetup.exe";
constexpr SystemTime kDefaultLocalTime = {2026, 3, 6, 7, 10, 0, 0, 0};

struct Process {
  std::wstring program;
  std::wstring imageKey;
  std::wstring directoryKey;  // its current folder
  uint64_t exitAt = 0;  // kNever while it runs without end
  uint32_t exitCode = 0;
  bool terminated = false;
};

struct ProcessHandle {
  size_t process = 0;
  bool isThread = false;
};

std::vector<std::pair<std::wstring, ProcessScript>> g_scripts;
std::vector<ProcessStart> g_starts;
std::vector<Process> g_processes;
std::map<uintptr_t, ProcessHandle> g_processHandles;
std::function<void(const ProcessStart&)> g_onStart;
uint64_t g_clock = 0;
SystemTime g_localTime = kDefaultLocalTime;
std::wstring g_module = kDefaultModule;
// Where the running program's file is now: a renamed image keeps running
// (and stays undeletable) at its new place, while GetModuleFileNameW goes
// on reporting the path it was started from.
std::wstring g_moduleImageKey = PathKey(kDefaultModule);

void ResetProcesses() {
  g_scripts.clear();
  g_starts.clear();
  g_processes.clear();
  g_processHandles.clear();
  g_onStart = nullptr;
  g_clock = 0;
  g_localTime = kDefaultLocalTime;
  g_module = kDefaultModule;
  g_moduleImageKey = PathKey(kDefaultModule);
}

ResetHook g_resetProcesses(ResetProcesses);

// Wildcard match, case-insensitive: * any run of characters, ? one.
bool Matches(const wchar_t* pattern, const wchar_t* text) {
  if (*pattern == L'\0') return *text == L'\0';
  if (*pattern == L'*') return Matches(pattern + 1, text) || (*text && Matches(pattern, text + 1));
  if (*text == L'\0') return false;
  if (*pattern != L'?' && std::towupper(*pattern) != std::towupper(*text)) return false;
  return Matches(pattern + 1, text + 1);
}

ProcessScript ScriptFor(const std::wstring& program) {
  for (auto it = g_scripts.rbegin(); it != g_scripts.rend(); ++it) {
    if (Matches(it->first.c_str(), program.c_str())) return it->second;
  }
  return ProcessScript{};
}

bool Running(const Process& process) { return g_clock < process.exitAt; }

bool EndsWithExe(const std::wstring& path) {
  if (path.size() < 4) return false;
  std::wstring tail = path.substr(path.size() - 4);
  for (auto& c : tail) c = static_cast<wchar_t>(std::towlower(c));
  return tail == L".exe";
}

Handle NewProcessHandle(size_t process, bool isThread) {
  Handle handle = NewHandle([](Handle closed) {
    g_processHandles.erase(reinterpret_cast<uintptr_t>(closed));
  });
  g_processHandles[reinterpret_cast<uintptr_t>(handle)] = ProcessHandle{process, isThread};
  return handle;
}

Process* ProcessOf(Handle handle, bool allowThread) {
  auto it = g_processHandles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == g_processHandles.end() || (it->second.isThread && !allowThread)) return nullptr;
  return &g_processes[it->second.process];
}

// Records the attempt and starts the program unless the file or the script
// says otherwise. Returns the new process's index, or SIZE_MAX with the last
// error set.
size_t Start(ProcessStart start, bool shellExecute, bool* withHandle) {
  g_starts.push_back(start);
  uint32_t attributes = GetFileAttributesW(start.program);
  if (attributes == kInvalidFileAttributes) return SIZE_MAX;  // 2 or 3 already set
  if (attributes & kFileAttributeDirectory) {
    SetLastError(kErrorAccessDenied);
    return SIZE_MAX;
  }
  if (shellExecute && !EndsWithExe(start.program)) {
    SetLastError(kErrorNoAssociation);
    return SIZE_MAX;
  }
  ProcessScript script = ScriptFor(start.program);
  if (script.startError) {
    SetLastError(script.startError);
    return SIZE_MAX;
  }
  Process process;
  process.program = start.program;
  process.imageKey = PathKey(start.program);
  process.directoryKey = PathKey(start.directory.empty() ? CurrentDirectory() : start.directory);
  process.exitAt = script.neverExits ? kNever : g_clock + script.runsForMs;
  process.exitCode = script.exitCode;
  g_processes.push_back(process);
  g_starts.back().started = true;
  *withHandle = !script.noProcessHandle;
  if (g_onStart) g_onStart(g_starts.back());
  return g_processes.size() - 1;
}

}  // namespace

bool IsRunningImage(const std::wstring& key) {
  if (key == g_moduleImageKey) return true;
  for (const auto& process : g_processes) {
    if (process.imageKey == key && Running(process)) return true;
  }
  return false;
}

bool IsCurrentFolderInUse(const std::wstring& key) {
  if (PathKey(CurrentDirectory()) == key) return true;
  for (const auto& process : g_processes) {
    if (process.directoryKey == key && Running(process)) return true;
  }
  return false;
}

void SetProcessScript(const std::wstring& program, const ProcessScript& script) {
  g_scripts.emplace_back(program, script);
}

const std::vector<ProcessStart>& ProcessStarts() { return g_starts; }

void OnProcessStart(std::function<void(const ProcessStart&)> hook) { g_onStart = std::move(hook); }

std::vector<ProcessOutcome> ProcessOutcomes() {
  std::vector<ProcessOutcome> out;
  for (const auto& p : g_processes) {
    out.push_back(ProcessOutcome{p.program, Running(p), p.terminated, p.exitCode});
  }
  return out;
}

int OpenProcessHandleCount() { return static_cast<int>(g_processHandles.size()); }

uint64_t ClockMs() { return g_clock; }

void SetLocalTime(const SystemTime& time) { g_localTime = time; }

void SetModuleFileName(const std::wstring& path) {
  g_module = path;
  g_moduleImageKey = PathKey(path);
}

void RunningImagesMoved(const std::wstring& fromKey, const std::wstring& toKey) {
  auto follow = [&](std::wstring* key) {
    if (*key == fromKey || key->compare(0, fromKey.size() + 1, fromKey + L'\\') == 0) {
      *key = toKey + key->substr(fromKey.size());
    }
  };
  follow(&g_moduleImageKey);
  for (auto& process : g_processes) follow(&process.imageKey);
}

}  // namespace fake

namespace platform {

bool ShellExecuteExW(uint32_t mask, const std::wstring& verb, const std::wstring& file,
                     const std::wstring& parameters, const std::wstring& directory,
                     int32_t show, Handle* process) {
  *process = nullptr;
  fake::ProcessStart start;
  start.api = fake::StartApi::kShellExecuteExW;
  start.program = file;
  start.mask = mask;
  start.verb = verb;
  start.parameters = parameters;
  start.directory = directory;
  start.show = show;
  bool withHandle = false;
  size_t index = fake::Start(start, true, &withHandle);
  if (index == SIZE_MAX) return false;
  if (withHandle && (mask & kSeeMaskNoCloseProcess)) {
    *process = fake::NewProcessHandle(index, false);
  }
  return true;
}

bool CreateProcessW(const std::wstring& applicationName, wchar_t* commandLine,
                    uint32_t creationFlags, uint32_t startupFlags, uint16_t showWindow,
                    Handle* process, Handle* thread) {
  *process = nullptr;
  *thread = nullptr;
  fake::ProcessStart start;
  start.api = fake::StartApi::kCreateProcessW;
  start.program = applicationName;
  start.commandLine = commandLine ? commandLine : L"";
  start.creationFlags = creationFlags;
  start.startupFlags = startupFlags;
  start.showWindow = showWindow;
  start.directory = fake::CurrentDirectory();
  bool withHandle = false;
  size_t index = fake::Start(start, false, &withHandle);
  if (index == SIZE_MAX) return false;
  *process = fake::NewProcessHandle(index, false);
  *thread = fake::NewProcessHandle(index, true);
  return true;
}

uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) {
  fake::Process* process = fake::ProcessOf(handle, true);
  if (!process) {
    SetLastError(kErrorInvalidHandle);
    return kWaitFailed;
  }
  if (!fake::Running(*process)) return kWaitObject0;
  if (process->exitAt == fake::kNever) {
    if (milliseconds == kInfinite) {
      std::fprintf(stderr, "fake: endless wait for a process that never ends\n");
      std::abort();
    }
    fake::g_clock += milliseconds;
    return kWaitTimeout;
  }
  if (milliseconds == kInfinite || process->exitAt - fake::g_clock <= milliseconds) {
    fake::g_clock = process->exitAt;
    return kWaitObject0;
  }
  fake::g_clock += milliseconds;
  return kWaitTimeout;
}

bool GetExitCodeProcess(Handle process, uint32_t* exitCode) {
  fake::Process* found = fake::ProcessOf(process, false);
  if (!found) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  *exitCode = fake::Running(*found) ? kStillActive : found->exitCode;
  return true;
}

bool TerminateProcess(Handle process, uint32_t exitCode) {
  fake::Process* found = fake::ProcessOf(process, false);
  if (!found) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (!fake::Running(*found)) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  if (!found->terminated) {
    found->terminated = true;
    found->exitCode = exitCode;
    found->exitAt = fake::g_clock + fake::kTerminationMs;
  }
  return true;
}

uint32_t GetModuleFileNameW(uint32_t size, std::wstring* fileName) {
  const std::wstring& path = fake::g_module;
  if (path.size() < size) {
    *fileName = path;
    return static_cast<uint32_t>(path.size());
  }
  *fileName = path.substr(0, size ? size - 1 : 0);
  SetLastError(kErrorInsufficientBuffer);
  return size;
}

std::wstring GetMappedFileNameW() { return fake::NtPathOf(fake::g_moduleImageKey); }

void GetLocalTime(SystemTime* time) { *time = fake::g_localTime; }

void Sleep(uint32_t milliseconds) { fake::g_clock += milliseconds; }

}  // namespace platform

namespace platform {

intptr_t ShellExecuteW(WindowHandle owner, const std::wstring& verb, const std::wstring& file,
                       const std::wstring& parameters, const std::wstring& directory,
                       int32_t show) {
  fake::ProcessStart start;
  start.api = fake::StartApi::kShellExecuteW;
  start.program = file;
  start.verb = verb;
  start.parameters = parameters;
  start.show = show;
  start.owner = owner;
  start.directory = directory;
  bool withHandle = false;
  if (fake::Start(start, true, &withHandle) != SIZE_MAX) return 42;
  // SE_ERR_NOASSOC for a file no program opens; otherwise the error itself.
  uint32_t error = GetLastError();
  return error == kErrorNoAssociation ? 31 : static_cast<intptr_t>(error);
}

}  // namespace platform
