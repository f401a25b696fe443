#include "install/staged_file.h"

#include "platform/file.h"
#include "platform/file_handle.h"

namespace {

constexpr uint32_t kStagedSharing = platform::kFileShareRead | platform::kFileShareDelete;

}  // namespace

platform::Handle CreateStagedFile(const std::wstring& path) {
  return platform::CreateFileW(path, platform::kGenericWrite | platform::kDelete, kStagedSharing,
                               platform::kCreateAlways, platform::kFileAttributeNormal);
}

platform::Handle HoldStagedFile(const std::wstring& path, platform::Handle written) {
  // The hold shares no writing, so it cannot be opened beside the writing
  // handle; a bridge that shares writing covers the moment between them.
  const uint32_t access = platform::kGenericRead | platform::kDelete;
  platform::Handle bridge = platform::CreateFileW(
      path, access, kStagedSharing | platform::kFileShareWrite, platform::kOpenExisting,
      platform::kFileAttributeNormal);
  uint32_t error = platform::GetLastError();
  platform::CloseHandle(written);
  if (bridge == platform::kInvalidHandleValue) {
    platform::SetLastError(error);
    return platform::kInvalidHandleValue;
  }
  platform::Handle hold = platform::CreateFileW(path, access, kStagedSharing,
                                                platform::kOpenExisting,
                                                platform::kFileAttributeNormal);
  error = platform::GetLastError();
  platform::CloseHandle(bridge);
  platform::SetLastError(error);
  return hold;
}
