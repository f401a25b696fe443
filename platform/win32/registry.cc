#include <windows.h>

#include "platform/registry.h"

namespace platform {

uint32_t RegOpenKeyExW(RegKey root, const std::wstring& subKey, uint32_t options,
                       uint32_t access, RegKey* key) {
  HKEY opened = nullptr;
  LSTATUS status =
      ::RegOpenKeyExW(static_cast<HKEY>(root), subKey.c_str(), options, access, &opened);
  *key = status == ERROR_SUCCESS ? opened : nullptr;
  return static_cast<uint32_t>(status);
}

uint32_t RegCreateKeyExW(RegKey root, const std::wstring& subKey, uint32_t options,
                         uint32_t access, RegKey* key, uint32_t* disposition) {
  HKEY created = nullptr;
  DWORD how = 0;
  LSTATUS status = ::RegCreateKeyExW(static_cast<HKEY>(root), subKey.c_str(), 0, nullptr,
                                     options, access, nullptr, &created, &how);
  *key = status == ERROR_SUCCESS ? created : nullptr;
  if (disposition && status == ERROR_SUCCESS) *disposition = how;
  return static_cast<uint32_t>(status);
}

uint32_t RegQueryValueExW(RegKey key, const std::wstring& valueName, uint32_t* type,
                          void* data, uint32_t* size) {
  DWORD valueType = 0;
  DWORD bytes = size ? *size : 0;
  LSTATUS status =
      ::RegQueryValueExW(static_cast<HKEY>(key), valueName.c_str(), nullptr,
                         type ? &valueType : nullptr, static_cast<BYTE*>(data),
                         size ? &bytes : nullptr);
  if (type && (status == ERROR_SUCCESS || status == ERROR_MORE_DATA)) *type = valueType;
  if (size) *size = bytes;
  return static_cast<uint32_t>(status);
}

uint32_t RegSetValueExW(RegKey key, const std::wstring& valueName, uint32_t type,
                        const void* data, uint32_t size) {
  return static_cast<uint32_t>(::RegSetValueExW(static_cast<HKEY>(key), valueName.c_str(), 0,
                                                type, static_cast<const BYTE*>(data), size));
}

uint32_t RegDeleteKeyW(RegKey root, const std::wstring& subKey) {
  return static_cast<uint32_t>(::RegDeleteKeyW(static_cast<HKEY>(root), subKey.c_str()));
}

uint32_t RegCloseKey(RegKey key) {
  return static_cast<uint32_t>(::RegCloseKey(static_cast<HKEY>(key)));
}

}  // namespace platform
