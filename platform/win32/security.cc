// Access lists through SDDL (advapi32) and random bytes from bcrypt.dll,
// which is no KnownDLL and so is loaded from System32 explicitly.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "platform/security.h"

namespace platform {
namespace {

using GenRandomFn = LONG(WINAPI*)(void* algorithm, UCHAR* buffer, ULONG size, ULONG flags);

constexpr ULONG kUseSystemPreferredRng = 0x00000002;  // BCRYPT_USE_SYSTEM_PREFERRED_RNG
constexpr uint32_t kStatusDllNotFound = 0xC0000135;
constexpr uint32_t kStatusEntrypointNotFound = 0xC0000139;

struct BCrypt {
  GenRandomFn genRandom = nullptr;
  uint32_t loadStatus = 0;
};

BCrypt LoadBCrypt() {
  BCrypt api;
  HMODULE module = ::LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module) {
    api.loadStatus = kStatusDllNotFound;
    return api;
  }
  api.genRandom = reinterpret_cast<GenRandomFn>(
      reinterpret_cast<void*>(::GetProcAddress(module, "BCryptGenRandom")));
  if (!api.genRandom) api.loadStatus = kStatusEntrypointNotFound;
  return api;
}

}  // namespace

bool ConvertStringSecurityDescriptorToSecurityDescriptorW(const std::wstring& sddl,
                                                          SecurityDescriptor* descriptor) {
  PSECURITY_DESCRIPTOR converted = nullptr;
  BOOL ok = ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                   &converted, nullptr);
  *descriptor = ok ? converted : nullptr;
  return ok != FALSE;
}

void LocalFree(void* memory) { ::LocalFree(memory); }

bool CreateDirectoryW(const std::wstring& path, SecurityDescriptor descriptor) {
  SECURITY_ATTRIBUTES attributes = {};
  attributes.nLength = sizeof(attributes);
  attributes.lpSecurityDescriptor = descriptor;
  attributes.bInheritHandle = FALSE;
  return ::CreateDirectoryW(path.c_str(), &attributes) != FALSE;
}

uint32_t SetSecurityInfo(Handle handle, uint32_t securityInformation,
                         SecurityDescriptor descriptor) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (!::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
    return ::GetLastError();
  }
  return ::SetSecurityInfo(handle, SE_FILE_OBJECT, securityInformation,
                           (securityInformation & OWNER_SECURITY_INFORMATION) ? owner : nullptr,
                           nullptr,
                           (securityInformation & DACL_SECURITY_INFORMATION) ? dacl : nullptr,
                           nullptr);
}

uint32_t BCryptGenRandom(void* buffer, uint32_t size) {
  static const BCrypt api = LoadBCrypt();
  if (!api.genRandom) return api.loadStatus;
  return static_cast<uint32_t>(
      api.genRandom(nullptr, static_cast<UCHAR*>(buffer), size, kUseSystemPreferredRng));
}

}  // namespace platform
