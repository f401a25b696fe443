// The fake's threads. A thread made by CreateThread does not run at once:
// it waits until the UI thread would block in GetMessageW with nothing else
// to do, or until a test runs it. Then it runs to its end on a real thread
// of its own (fresh thread-local state: last error, COM apartment) while the
// caller waits, so every run of a test happens in one order.
#include <cstdio>
#include <deque>
#include <thread>

#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/thread.h"

namespace fake {
namespace {

using namespace platform;

constexpr int kUiThread = 1;

struct PendingThread {
  int id;
  ThreadProc proc;
  void* parameter;
};

std::deque<PendingThread> g_pending;
std::vector<ThreadRecord> g_threads;
int g_nextThread = kUiThread + 1;
int g_currentThread = kUiThread;
int g_openThreadHandles = 0;
uint32_t g_failNextCreate = 0;
uint32_t g_dllDirectories = 0;

ResetHook g_resetThreads([] {
  g_pending.clear();
  g_threads.clear();
  g_nextThread = kUiThread + 1;
  g_currentThread = kUiThread;
  g_openThreadHandles = 0;
  g_failNextCreate = 0;
  g_dllDirectories = 0;
});

}  // namespace

int CurrentThread() { return g_currentThread; }

void SetCurrentThread(int thread) { g_currentThread = thread; }

int UiThread() { return kUiThread; }

int RunPendingThreads() {
  int ran = 0;
  while (!g_pending.empty()) {
    PendingThread next = g_pending.front();
    g_pending.pop_front();
    int caller = g_currentThread;
    g_currentThread = next.id;
    uint32_t result = 0;
    std::thread worker([&next, &result] { result = next.proc(next.parameter); });
    worker.join();
    g_currentThread = caller;
    for (ThreadRecord& record : g_threads) {
      if (record.id == next.id) {
        record.finished = true;
        record.exitCode = result;
      }
    }
    ++ran;
  }
  return ran;
}

int PendingThreadCount() { return static_cast<int>(g_pending.size()); }

const std::vector<ThreadRecord>& Threads() { return g_threads; }

void FailNextCreateThread(uint32_t code) { g_failNextCreate = code; }

int OpenThreadHandleCount() { return g_openThreadHandles; }

uint32_t DefaultDllDirectories() { return g_dllDirectories; }

}  // namespace fake

namespace platform {

Handle CreateThread(ThreadProc proc, void* parameter, uint32_t flags, uint32_t* threadId) {
  if (threadId) *threadId = 0;
  if (fake::g_failNextCreate) {
    SetLastError(fake::g_failNextCreate);
    fake::g_failNextCreate = 0;
    return nullptr;
  }
  // CREATE_SUSPENDED and the stack flag are not modelled: this program
  // passes no flags.
  if (flags != 0 || !proc) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  int id = fake::g_nextThread++;
  fake::g_pending.push_back(fake::PendingThread{id, proc, parameter});
  fake::g_threads.push_back(fake::ThreadRecord{id, proc, parameter, false, 0});
  if (threadId) *threadId = static_cast<uint32_t>(id);
  ++fake::g_openThreadHandles;
  return fake::NewHandle([](Handle) { --fake::g_openThreadHandles; });
}

bool SetDefaultDllDirectories(uint32_t directoryFlags) {
  // LOAD_LIBRARY_SEARCH_APPLICATION_DIR, _USER_DIRS, _SYSTEM32, _DEFAULT_DIRS.
  constexpr uint32_t kKnownFlags = 0x200 | 0x400 | 0x800 | 0x1000;
  if (directoryFlags == 0 || (directoryFlags & ~kKnownFlags) != 0) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  fake::g_dllDirectories = directoryFlags;
  return true;
}

}  // namespace platform
