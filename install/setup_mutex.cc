#include "install/setup_mutex.h"

#include <string>

#include "install/product_constants.h"
#include "platform/process.h"
#include "platform/security.h"
#include "platform/sync.h"
#include "platform/trace.h"

platform::Handle TakeSetupMutex(const char* tag) {
  platform::SecurityDescriptor descriptor = nullptr;
  if (!platform::ConvertStringSecurityDescriptorToSecurityDescriptorW(kSetupMutexSddl,
                                                                      &descriptor)) {
    platform::OutputDebugStringA(std::string(tag) + "Failed to build the setup lock's access list: " +
                                 std::to_string(platform::GetLastError()) + "\n");
    return nullptr;
  }
  platform::Handle mutex = platform::CreateMutexW(descriptor, kSetupMutexName);
  uint32_t error = platform::GetLastError();
  platform::LocalFree(descriptor);
  if (!mutex) {
    // 5: another setup made it and its access list does not include us.
    platform::OutputDebugStringA(std::string(tag) + "Setup lock not available: " +
                                 std::to_string(error) + "\n");
    return nullptr;
  }
  uint32_t wait = platform::WaitForSingleObject(mutex, 0);
  if (wait == platform::kWaitObject0) return mutex;
  if (wait == platform::kWaitAbandoned) {
    // A setup was killed while it ran; the repair at the start of the
    // sequence puts back what it left half done.
    platform::OutputDebugStringA(std::string(tag) + "Setup lock abandoned by an earlier run\n");
    return mutex;
  }
  platform::OutputDebugStringA(std::string(tag) + "Another setup holds the setup lock\n");
  platform::CloseHandle(mutex);
  return nullptr;
}

void ReleaseSetupMutex(platform::Handle mutex) {
  if (!mutex) return;
  platform::ReleaseMutex(mutex);
  platform::CloseHandle(mutex);
}
