// The fake's named mutexes: one machine-wide namespace, owned by threads,
// recursive for their owner, abandoned when the owner is killed, gone once
// nobody holds a handle (nor another program's setup).
#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/process.h"
#include "platform/sync.h"

namespace fake {
namespace {

using namespace platform;

struct Mutex {
  std::wstring sddl;  // as the program created it
  MutexHolder holder = MutexHolder::kNobody;
  int ownerThread = 0;  // 0: no thread of the program owns it
  int count = 0;
  int handles = 0;
};

std::map<std::wstring, Mutex> g_mutexes;        // by upper-cased name
std::map<uintptr_t, std::wstring> g_mutexHandles;  // handle -> name key

void ResetMutexes() {
  g_mutexes.clear();
  g_mutexHandles.clear();
}

ResetHook g_resetMutexes(ResetMutexes);

void Forget(const std::wstring& key) {
  auto it = g_mutexes.find(key);
  if (it != g_mutexes.end() && it->second.handles == 0 &&
      it->second.holder == MutexHolder::kNobody) {
    g_mutexes.erase(it);
  }
}

Mutex* MutexOf(Handle handle) {
  auto it = g_mutexHandles.find(reinterpret_cast<uintptr_t>(handle));
  return it == g_mutexHandles.end() ? nullptr : &g_mutexes[it->second];
}

}  // namespace

void SetMutexHolder(const std::wstring& name, MutexHolder holder) {
  std::wstring key = PathKey(name);
  g_mutexes[key].holder = holder;
  Forget(key);
}

std::optional<std::wstring> MutexSecurity(const std::wstring& name) {
  auto it = g_mutexes.find(PathKey(name));
  if (it == g_mutexes.end() || it->second.sddl.empty()) return std::nullopt;
  return it->second.sddl;
}

bool MutexOwned(const std::wstring& name) {
  auto it = g_mutexes.find(PathKey(name));
  return it != g_mutexes.end() && it->second.ownerThread != 0;
}

int OpenMutexHandleCount() { return static_cast<int>(g_mutexHandles.size()); }

bool WaitForMutex(Handle handle, uint32_t milliseconds, uint32_t* result) {
  Mutex* mutex = MutexOf(handle);
  if (!mutex) return false;
  bool free = mutex->ownerThread == 0 && (mutex->holder == MutexHolder::kNobody ||
                                          mutex->holder == MutexHolder::kKilledSetup);
  if (mutex->ownerThread == CurrentThread() || free) {
    *result = mutex->holder == MutexHolder::kKilledSetup ? kWaitAbandoned : kWaitObject0;
    if (mutex->holder == MutexHolder::kKilledSetup) mutex->holder = MutexHolder::kNobody;
    mutex->ownerThread = CurrentThread();
    ++mutex->count;
    return true;
  }
  if (milliseconds == kInfinite) {
    std::fprintf(stderr, "fake: endless wait for a mutex that another setup holds\n");
    std::abort();
  }
  AdvanceClock(milliseconds);
  *result = kWaitTimeout;
  return true;
}

void AbandonOwnedMutexes() {
  for (auto it = g_mutexes.begin(); it != g_mutexes.end();) {
    Mutex& mutex = it->second;
    if (mutex.ownerThread != 0 && mutex.handles == 0) {
      // The last handle went with the killed program, and the object with it.
      it = g_mutexes.erase(it);
      continue;
    }
    if (mutex.ownerThread != 0) {
      mutex.ownerThread = 0;
      mutex.count = 0;
      mutex.holder = MutexHolder::kKilledSetup;
    }
    ++it;
  }
}

}  // namespace fake

namespace platform {

Handle CreateMutexW(SecurityDescriptor descriptor, const std::wstring& name) {
  std::wstring key = fake::PathKey(name);
  auto it = fake::g_mutexes.find(key);
  bool existed = it != fake::g_mutexes.end();
  if (existed && it->second.holder == fake::MutexHolder::kNoAccess) {
    SetLastError(kErrorAccessDenied);
    return nullptr;
  }
  fake::Mutex& mutex = fake::g_mutexes[key];
  if (!existed) mutex.sddl = fake::DescriptorSddl(descriptor);
  ++mutex.handles;
  Handle handle = fake::NewHandle([](Handle closed) {
    auto found = fake::g_mutexHandles.find(reinterpret_cast<uintptr_t>(closed));
    std::wstring closedKey = found->second;
    fake::g_mutexHandles.erase(found);
    --fake::g_mutexes[closedKey].handles;
    // An owned mutex outlives its handles until it is released or abandoned.
    if (fake::g_mutexes[closedKey].ownerThread == 0) fake::Forget(closedKey);
  });
  fake::g_mutexHandles[reinterpret_cast<uintptr_t>(handle)] = key;
  SetLastError(existed ? kErrorAlreadyExists : kErrorSuccess);
  return handle;
}

uint32_t GetSecurityInfo(Handle object, uint32_t objectType, std::wstring* ownerSid) {
  fake::Mutex* found = fake::MutexOf(object);
  if (!found || objectType != kSeKernelObject) return kErrorInvalidHandle;
  // The program's own objects get its token's owner; another setup is the
  // weekly task's (SYSTEM).
  switch (found->holder) {
    case fake::MutexHolder::kOtherAccount: *ownerSid = fake::kOtherUserSid; break;
    case fake::MutexHolder::kRunningSetup:
    case fake::MutexHolder::kKilledSetup: *ownerSid = fake::kSystemSid; break;
    default: GetTokenSid(kTokenOwner, ownerSid);
  }
  return kErrorSuccess;
}

bool ReleaseMutex(Handle mutex) {
  fake::Mutex* found = fake::MutexOf(mutex);
  if (!found) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (found->ownerThread != fake::CurrentThread()) {
    SetLastError(kErrorNotOwner);
    return false;
  }
  if (--found->count == 0) found->ownerThread = 0;
  return true;
}

}  // namespace platform
