#include "install/setup_mutex.h"

#include <string>

#include "install/product_constants.h"
#include "platform/process.h"
#include "platform/security.h"
#include "platform/sync.h"
#include "platform/trace.h"

namespace {

// Accounts whose mutex of that name is a setup's: the weekly task
// (SYSTEM), an elevated administrator's run (its objects are owned by
// Administrators), and this program's own account and the owner it gives
// its objects (which is how a run sees its own kind where the two differ).
bool IsSetupOwner(const std::wstring& owner) {
  if (owner == L"S-1-5-18" || owner == L"S-1-5-32-544") return true;
  for (uint32_t infoClass : {platform::kTokenUser, platform::kTokenOwner}) {
    std::wstring self;
    if (platform::GetTokenSid(infoClass, &self) == platform::kErrorSuccess && owner == self) {
      return true;
    }
  }
  return false;
}

bool GoOnWithout(const char* tag, platform::Handle* lock) {
  platform::OutputDebugStringA(std::string(tag) +
                               "Setup lock is held by another account: going on without it\n");
  *lock = nullptr;
  return true;
}

}  // namespace

bool TakeSetupMutex(const char* tag, platform::Handle* lock) {
  *lock = nullptr;
  platform::SecurityDescriptor descriptor = nullptr;
  if (!platform::ConvertStringSecurityDescriptorToSecurityDescriptorW(kSetupMutexSddl,
                                                                      &descriptor)) {
    platform::OutputDebugStringA(std::string(tag) + "Failed to build the setup lock's access list: " +
                                 std::to_string(platform::GetLastError()) + "\n");
    return false;
  }
  platform::Handle mutex = platform::CreateMutexW(descriptor, kSetupMutexName);
  uint32_t error = platform::GetLastError();
  platform::LocalFree(descriptor);
  if (!mutex) {
    // Ours lets SYSTEM and Administrators in: a name that keeps us out was
    // made by someone else, who must not be able to stop every update.
    if (error == platform::kErrorAccessDenied) return GoOnWithout(tag, lock);
    platform::OutputDebugStringA(std::string(tag) + "Setup lock not available: " +
                                 std::to_string(error) + "\n");
    return false;
  }
  if (error == platform::kErrorAlreadyExists) {
    std::wstring owner;
    if (platform::GetSecurityInfo(mutex, platform::kSeKernelObject, &owner) !=
            platform::kErrorSuccess ||
        !IsSetupOwner(owner)) {
      platform::CloseHandle(mutex);
      return GoOnWithout(tag, lock);
    }
  }
  uint32_t wait = platform::WaitForSingleObject(mutex, 0);
  if (wait == platform::kWaitObject0 || wait == platform::kWaitAbandoned) {
    // Abandoned: a setup was killed while it ran; the repair in the
    // sequence puts back what it left half done.
    if (wait == platform::kWaitAbandoned) {
      platform::OutputDebugStringA(std::string(tag) + "Setup lock abandoned by an earlier run\n");
    }
    *lock = mutex;
    return true;
  }
  platform::OutputDebugStringA(std::string(tag) + "Another setup holds the setup lock\n");
  platform::CloseHandle(mutex);
  return false;
}

void ReleaseSetupMutex(platform::Handle mutex) {
  if (!mutex) return;
  platform::ReleaseMutex(mutex);
  platform::CloseHandle(mutex);
}
