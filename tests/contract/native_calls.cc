#include "tests/contract/native_calls.h"

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

#include <cstring>
#include <vector>

uint32_t MakeHardLink(const std::wstring& link, const std::wstring& existing) {
  return CreateHardLinkW(link.c_str(), existing.c_str(), nullptr) ? 0 : GetLastError();
}

uint32_t PlantJunction(const std::wstring& link, const std::wstring& target) {
  if (!CreateDirectoryW(link.c_str(), nullptr)) return GetLastError();
  HANDLE h = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  // REPARSE_DATA_BUFFER for IO_REPARSE_TAG_MOUNT_POINT: substitute name
  // (NT path) and print name, each null-terminated.
  std::wstring substitute = L"\\??\\" + target;
  USHORT subBytes = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
  USHORT printBytes = static_cast<USHORT>(target.size() * sizeof(wchar_t));
  USHORT pathBytes = subBytes + sizeof(wchar_t) + printBytes + sizeof(wchar_t);
  std::vector<BYTE> buffer(8 + 8 + pathBytes, 0);
  auto put16 = [&buffer](size_t at, USHORT v) { memcpy(&buffer[at], &v, 2); };
  DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  memcpy(&buffer[0], &tag, 4);
  put16(4, static_cast<USHORT>(8 + pathBytes));
  put16(8, 0);
  put16(10, subBytes);
  put16(12, static_cast<USHORT>(subBytes + sizeof(wchar_t)));
  put16(14, printBytes);
  memcpy(&buffer[16], substitute.c_str(), subBytes);
  memcpy(&buffer[16 + subBytes + sizeof(wchar_t)], target.c_str(), printBytes);
  DWORD returned = 0;
  BOOL ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(),
                            static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
  DWORD error = ok ? 0 : GetLastError();
  CloseHandle(h);
  if (!ok) RemoveDirectoryW(link.c_str());
  return error;
}

std::optional<std::wstring> SecurityOf(const std::wstring& path) {
  HANDLE object = CreateFileW(path.c_str(), READ_CONTROL,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (object == INVALID_HANDLE_VALUE) return std::nullopt;
  const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD status = GetSecurityInfo(object, SE_FILE_OBJECT, what, nullptr, nullptr, nullptr,
                                 nullptr, &descriptor);
  CloseHandle(object);
  if (status != ERROR_SUCCESS) return std::nullopt;
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

uint32_t PlantJunction(const std::wstring& link, const std::wstring& target) {
  fake::AddJunction(link, target);
  return 0;
}

std::optional<std::wstring> SecurityOf(const std::wstring& path) {
  return fake::FolderSecurity(path);
}
#endif
