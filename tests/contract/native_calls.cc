#include "tests/contract/native_calls.h"

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

uint32_t MakeHardLink(const std::wstring& link, const std::wstring& existing) {
  return CreateHardLinkW(link.c_str(), existing.c_str(), nullptr) ? 0 : GetLastError();
}

std::optional<std::wstring> SecurityOf(const std::wstring& path) {
  const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, what, nullptr, nullptr, nullptr,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  LPWSTR text = nullptr;
  BOOL ok = ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                 what, &text, nullptr);
  LocalFree(descriptor);
  if (!ok) return std::nullopt;
  std::wstring out = text;
  LocalFree(text);
  return out;
}

#else
#include "platform/fake/fake.h"

uint32_t MakeHardLink(const std::wstring& link, const std::wstring& existing) {
  fake::AddHardLink(link, existing);
  return 0;
}

std::optional<std::wstring> SecurityOf(const std::wstring& path) {
  return fake::FolderSecurity(path);
}
#endif
