// Registry operations, mirrors of the advapi32 calls of the same name. Every
// call returns Windows' own result code (0 on success) and leaves the
// thread's last error alone, as the registry functions do. Keys are read and
// written in the process's own (64-bit) view: no call passes a view flag, so
// "SOFTWARE\WOW6432Node\..." is simply a path that leads to the 32-bit
// registrations.
#ifndef PLATFORM_REGISTRY_H_
#define PLATFORM_REGISTRY_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

using RegKey = void*;  // an open registry key (HKEY)

// The predefined roots, with the values <windows.h> gives them.
inline RegKey const kHkeyCurrentUser =
    reinterpret_cast<RegKey>(static_cast<intptr_t>(static_cast<int32_t>(0x80000001)));
inline RegKey const kHkeyLocalMachine =
    reinterpret_cast<RegKey>(static_cast<intptr_t>(static_cast<int32_t>(0x80000002)));

constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kKeyCreateSubKey = 0x0004;
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyWrite = 0x20006;

constexpr uint32_t kRegOptionNonVolatile = 0;
constexpr uint32_t kRegCreatedNewKey = 1;
constexpr uint32_t kRegOpenedExistingKey = 2;

// REG_SZ data as Windows stores it: the text as UTF-16LE with its
// terminating zero, whatever the width of wchar_t on the building machine
// (a wchar_t above 0xFFFF becomes a surrogate pair).
std::string RegSzData(const std::wstring& text);

constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegDword = 4;

// RegOpenKeyExW(root, subKey, options, access, &key): 0 with *key set, 2 when
// the key (or a key on the way) is missing, 5 when the access is refused.
uint32_t RegOpenKeyExW(RegKey root, const std::wstring& subKey, uint32_t options,
                       uint32_t access, RegKey* key);

// RegCreateKeyExW(root, subKey, reserved 0, no class, options, access, no
// security attributes, &key, &disposition): creates the missing keys on the
// way. 0 with *key set and *disposition (when given) kRegCreatedNewKey or
// kRegOpenedExistingKey; 5 when the access is refused.
uint32_t RegCreateKeyExW(RegKey root, const std::wstring& subKey, uint32_t options,
                         uint32_t access, RegKey* key, uint32_t* disposition);

// RegQueryValueExW(key, name, reserved null, type, data, size). *size is the
// buffer size in bytes on entry and the value's size on return. With data
// null only the size is reported. 2 no such value, 5 key opened without
// KEY_QUERY_VALUE, 6 bad handle, 234 (ERROR_MORE_DATA) buffer too small, with
// *size the bytes needed and the buffer's content undefined, 1018 the key
// was deleted. type may be null.
uint32_t RegQueryValueExW(RegKey key, const std::wstring& valueName, uint32_t* type,
                          void* data, uint32_t* size);

// RegSetValueExW(key, name, reserved 0, type, data, size): stores the bytes
// as given, creating or replacing the value. 5 key opened without
// KEY_SET_VALUE, 6 bad handle, 1018 the key was deleted.
uint32_t RegSetValueExW(RegKey key, const std::wstring& valueName, uint32_t type,
                        const void* data, uint32_t size);

// RegDeleteKeyW(root, subKey): deletes one key with its values. 2 missing,
// 5 the key has subkeys or the access is refused. Handles still open on it
// stay valid but see 1018.
uint32_t RegDeleteKeyW(RegKey root, const std::wstring& subKey);

// RegCloseKey: 0, or 6 for a key that is not open. Closing a predefined root
// does nothing and succeeds.
uint32_t RegCloseKey(RegKey key);

}  // namespace platform

#endif  // PLATFORM_REGISTRY_H_
