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
  std::vector<std::wstring> moduleKeys;
  std::wstring directoryKey;  // its current folder
  uint64_t exitAt = 0;  // kNever while it runs without end (or is suspended)
  uint32_t exitCode = 0;
  bool terminated = false;
  bool suspended = false;
  int job = 0;  // 0: in no job
};

struct ProcessHandle {
  size_t process = 0;
  bool isThread = false;
};

struct Job {
  uint32_t total = 0;
};

std::vector<std::pair<std::wstring, ProcessScript>> g_scripts;
std::vector<ProcessStart> g_starts;
std::vector<Process> g_processes;
std::map<uintptr_t, ProcessHandle> g_processHandles;
std::function<void(const ProcessStart&)> g_onStart;
std::map<int, Job> g_jobs;
std::map<uintptr_t, int> g_jobHandles;
int g_nextJob = 1;
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
  g_jobs.clear();
  g_jobHandles.clear();
  g_nextJob = 1;
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

// The script's timing starts when the process first runs.
void BeginRunning(size_t index) {
  Process& process = g_processes[index];
  ProcessScript script = ScriptFor(process.program);
  process.suspended = false;
  process.exitAt = script.neverExits ? kNever : g_clock + script.runsForMs;
  if (script.startsChild.empty()) return;
  Process child;
  child.program = script.startsChild;
  child.imageKey = PathKey(script.startsChild);
  child.exitAt = kNever;
  child.job = process.job;
  if (child.job) ++g_jobs[child.job].total;
  g_processes.push_back(child);
}

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
  if (!ImageOpenAllowed(start.program)) {
    SetLastError(kErrorSharingViolation);
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
  for (const auto& module : script.loadsModules) process.moduleKeys.push_back(PathKey(module));
  process.directoryKey = PathKey(start.directory.empty() ? CurrentDirectory() : start.directory);
  process.exitAt = kNever;
  process.exitCode = script.exitCode;
  process.suspended = start.creationFlags & kCreateSuspended;
  g_processes.push_back(process);
  size_t index = g_processes.size() - 1;
  if (!process.suspended) BeginRunning(index);
  g_starts.back().started = true;
  *withHandle = !script.noProcessHandle;
  if (g_onStart) g_onStart(g_starts.back());
  return index;
}

}  // namespace

bool IsRunningImage(const std::wstring& key) {
  if (key == g_moduleImageKey) return true;
  for (const auto& process : g_processes) {
    if (!Running(process)) continue;
    if (process.imageKey == key) return true;
    for (const auto& module : process.moduleKeys) {
      if (module == key) return true;
    }
  }
  return false;
}

void EndAllProcesses() {
  for (auto& process : g_processes) {
    if (!Running(process)) continue;
    process.terminated = true;
    process.exitAt = g_clock;
  }
}

void AdvanceClock(uint32_t milliseconds) { g_clock += milliseconds; }

Handle RunProgram(const std::wstring& program) {
  ProcessStart start;
  start.api = StartApi::kCreateProcessW;
  start.program = program;
  bool withHandle = false;
  size_t index = Start(start, false, &withHandle);
  g_starts.pop_back();  // not the program's own start
  if (index == SIZE_MAX) {
    std::fprintf(stderr, "fake: RunProgram cannot start %ls\n", program.c_str());
    std::abort();
  }
  return NewProcessHandle(index, false);
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
    out.push_back(
        ProcessOutcome{p.program, Running(p), p.terminated, p.exitCode, p.suspended, p.job != 0});
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
  for (auto& process : g_processes) {
    follow(&process.imageKey);
    for (auto& module : process.moduleKeys) follow(&module);
  }
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
  return CreateProcessW(applicationName, commandLine, creationFlags, startupFlags, showWindow,
                        std::wstring(), process, thread);
}

bool CreateProcessW(const std::wstring& applicationName, wchar_t* commandLine,
                    uint32_t creationFlags, uint32_t startupFlags, uint16_t showWindow,
                    const std::wstring& currentDirectory, Handle* process, Handle* thread) {
  *process = nullptr;
  *thread = nullptr;
  fake::ProcessStart start;
  start.api = fake::StartApi::kCreateProcessW;
  start.program = applicationName;
  start.commandLine = commandLine ? commandLine : L"";
  start.creationFlags = creationFlags;
  start.startupFlags = startupFlags;
  start.showWindow = showWindow;
  start.directory = currentDirectory.empty() ? fake::CurrentDirectory() : currentDirectory;
  bool withHandle = false;
  size_t index = fake::Start(start, false, &withHandle);
  if (index == SIZE_MAX) return false;
  *process = fake::NewProcessHandle(index, false);
  *thread = fake::NewProcessHandle(index, true);
  return true;
}

uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) {
  uint32_t mutexResult = 0;
  if (fake::WaitForMutex(handle, milliseconds, &mutexResult)) return mutexResult;
  if (fake::g_jobHandles.count(reinterpret_cast<uintptr_t>(handle))) {
    if (milliseconds == kInfinite) {
      std::fprintf(stderr, "fake: endless wait on a job, which is never signalled\n");
      std::abort();
    }
    fake::g_clock += milliseconds;
    return kWaitTimeout;
  }
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

uint32_t ResumeThread(Handle thread) {
  auto it = fake::g_processHandles.find(reinterpret_cast<uintptr_t>(thread));
  if (it == fake::g_processHandles.end() || !it->second.isThread) {
    SetLastError(kErrorInvalidHandle);
    return kResumeFailed;
  }
  if (!fake::g_processes[it->second.process].suspended) return 0;
  fake::BeginRunning(it->second.process);
  return 1;
}

Handle CreateJobObjectW() {
  Handle handle = fake::NewHandle([](Handle closed) {
    fake::g_jobHandles.erase(reinterpret_cast<uintptr_t>(closed));
  });
  int id = fake::g_nextJob++;
  fake::g_jobs[id] = fake::Job{};
  fake::g_jobHandles[reinterpret_cast<uintptr_t>(handle)] = id;
  return handle;
}

static int JobOf(Handle job) {
  auto it = fake::g_jobHandles.find(reinterpret_cast<uintptr_t>(job));
  return it == fake::g_jobHandles.end() ? 0 : it->second;
}

bool AssignProcessToJobObject(Handle job, Handle process) {
  int id = JobOf(job);
  fake::Process* found = fake::ProcessOf(process, false);
  if (!id || !found) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (found->job == id) return true;
  if (found->job) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  found->job = id;
  ++fake::g_jobs[id].total;
  return true;
}

bool TerminateJobObject(Handle job, uint32_t exitCode) {
  int id = JobOf(job);
  if (!id) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  for (auto& process : fake::g_processes) {
    if (process.job != id || !fake::Running(process) || process.terminated) continue;
    process.terminated = true;
    process.exitCode = exitCode;
    process.exitAt = fake::g_clock + fake::kTerminationMs;
  }
  return true;
}

bool QueryInformationJobObject(Handle job, JobAccounting* accounting) {
  int id = JobOf(job);
  if (!id) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  accounting->totalProcesses = fake::g_jobs[id].total;
  accounting->activeProcesses = 0;
  for (const auto& process : fake::g_processes) {
    if (process.job == id && fake::Running(process)) ++accounting->activeProcesses;
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
