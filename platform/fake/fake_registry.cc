// The fake's registry: two roots, case-insensitive key paths and value
// names, values as typed raw bytes in the order they were first written,
// and handles that check the access they were opened with.
#include <algorithm>
#include <cwctype>
#include <map>
#include <vector>

#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/registry.h"

namespace fake {
namespace {

using namespace platform;

struct Key {
  uint64_t id = 0;
  std::vector<RegistryValue> values;
};

struct OpenKey {
  std::wstring path;  // full identity, "HKLM\\SOFTWARE\\..."
  uint64_t id = 0;    // the key it was opened on; a recreated key is another
  uint32_t access = 0;
};

std::map<std::wstring, Key> g_keys;
std::map<uintptr_t, OpenKey> g_openKeys;
std::vector<std::wstring> g_denied;
uint64_t g_nextKeyId = 1;
uintptr_t g_nextHandle = 0x7000;

constexpr uint32_t kWriteRights = kKeySetValue | kKeyCreateSubKey;

std::wstring Upper(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) out += static_cast<wchar_t>(std::towupper(c));
  return out;
}

std::wstring Join(const std::wstring& base, const std::wstring& subKey) {
  std::wstring path = Upper(subKey);
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path.empty() ? base : base + L'\\' + path;
}

// The identity that root + subKey names, or empty for a root that is not a
// predefined key or an open handle.
std::wstring Resolve(RegKey root, const std::wstring& subKey) {
  if (root == kHkeyLocalMachine) return Join(L"HKLM", subKey);
  if (root == kHkeyCurrentUser) return Join(L"HKCU", subKey);
  auto it = g_openKeys.find(reinterpret_cast<uintptr_t>(root));
  if (it == g_openKeys.end()) return std::wstring();
  return Join(it->second.path, subKey);
}

bool IsRoot(const std::wstring& path) { return path == L"HKLM" || path == L"HKCU"; }

bool KeyExists(const std::wstring& path) { return IsRoot(path) || g_keys.count(path) > 0; }

bool Denied(const std::wstring& path) {
  for (const auto& denied : g_denied) {
    if (path == denied || path.compare(0, denied.size() + 1, denied + L'\\') == 0) return true;
  }
  return false;
}

bool HasSubkeys(const std::wstring& path) {
  std::wstring prefix = path + L'\\';
  auto it = g_keys.lower_bound(prefix);
  return it != g_keys.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

void Create(const std::wstring& path) {
  if (KeyExists(path)) return;
  Create(path.substr(0, path.rfind(L'\\')));
  g_keys[path] = Key{g_nextKeyId++, {}};
}

RegKey NewKeyHandle(const std::wstring& path, uint32_t access) {
  uint64_t id = g_keys[path].id;
  uintptr_t value = g_nextHandle;
  g_nextHandle += 4;
  g_openKeys[value] = OpenKey{path, id, access};
  return reinterpret_cast<RegKey>(value);
}

// The key behind an open handle: nullptr with *status 6 for a bad handle,
// 1018 when the key has been deleted since.
Key* KeyOf(RegKey handle, uint32_t* access, uint32_t* status) {
  auto it = g_openKeys.find(reinterpret_cast<uintptr_t>(handle));
  if (it == g_openKeys.end()) {
    *status = kErrorInvalidHandle;
    return nullptr;
  }
  auto key = g_keys.find(it->second.path);
  if (key == g_keys.end() || key->second.id != it->second.id) {
    *status = kErrorKeyDeleted;
    return nullptr;
  }
  *access = it->second.access;
  *status = kErrorSuccess;
  return &key->second;
}

RegistryValue* FindValue(Key* key, const std::wstring& name) {
  std::wstring wanted = Upper(name);
  for (auto& value : key->values) {
    if (Upper(value.name) == wanted) return &value;
  }
  return nullptr;
}

void ResetRegistry() {
  g_keys.clear();
  g_openKeys.clear();
  g_denied.clear();
  // The roots hold values too; they only cannot be deleted.
  g_keys[L"HKLM"] = Key{g_nextKeyId++, {}};
  g_keys[L"HKCU"] = Key{g_nextKeyId++, {}};
  Create(L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL");
  Create(L"HKCU\\SOFTWARE");
}

ResetHook g_resetRegistry(ResetRegistry);
const bool g_initialised = (ResetRegistry(), true);

}  // namespace

void SetRegistryValue(RegKey root, const std::wstring& keyPath, const std::wstring& name,
                      uint32_t type, const std::string& data) {
  std::wstring path = Resolve(root, keyPath);
  Create(path);
  Key& key = g_keys[path];
  if (RegistryValue* value = FindValue(&key, name)) {
    value->type = type;
    value->data = data;
  } else {
    key.values.push_back(RegistryValue{name, type, data});
  }
}

void AddRegistryKey(RegKey root, const std::wstring& keyPath) { Create(Resolve(root, keyPath)); }

bool RegistryKeyExists(RegKey root, const std::wstring& keyPath) {
  return KeyExists(Resolve(root, keyPath));
}

std::vector<RegistryValue> RegistryValues(RegKey root, const std::wstring& keyPath) {
  auto it = g_keys.find(Resolve(root, keyPath));
  return it == g_keys.end() ? std::vector<RegistryValue>() : it->second.values;
}

void DenyRegistryWrites(RegKey root, const std::wstring& keyPath) {
  g_denied.push_back(Resolve(root, keyPath));
}

int OpenRegistryKeyCount() { return static_cast<int>(g_openKeys.size()); }

std::string RegSz(const std::wstring& text) { return platform::RegSzData(text); }

std::string RegDword(uint32_t value) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

}  // namespace fake

namespace platform {

uint32_t RegOpenKeyExW(RegKey root, const std::wstring& subKey, uint32_t /*options*/,
                       uint32_t access, RegKey* key) {
  *key = nullptr;
  std::wstring path = fake::Resolve(root, subKey);
  if (path.empty()) return kErrorInvalidHandle;
  if (!fake::KeyExists(path)) return kErrorFileNotFound;
  if ((access & fake::kWriteRights) && fake::Denied(path)) return kErrorAccessDenied;
  *key = fake::NewKeyHandle(path, access);
  return kErrorSuccess;
}

uint32_t RegCreateKeyExW(RegKey root, const std::wstring& subKey, uint32_t /*options*/,
                         uint32_t access, RegKey* key, uint32_t* disposition) {
  *key = nullptr;
  std::wstring path = fake::Resolve(root, subKey);
  if (path.empty()) return kErrorInvalidHandle;
  bool existed = fake::KeyExists(path);
  if (fake::Denied(path) && (!existed || (access & fake::kWriteRights))) {
    return kErrorAccessDenied;
  }
  fake::Create(path);
  *key = fake::NewKeyHandle(path, access);
  if (disposition) *disposition = existed ? kRegOpenedExistingKey : kRegCreatedNewKey;
  return kErrorSuccess;
}

uint32_t RegQueryValueExW(RegKey key, const std::wstring& valueName, uint32_t* type,
                          void* data, uint32_t* size) {
  uint32_t access = 0;
  uint32_t status = 0;
  fake::Key* found = fake::KeyOf(key, &access, &status);
  if (!found) return status;
  if (!(access & kKeyQueryValue)) return kErrorAccessDenied;
  if (data && !size) return kErrorInvalidParameter;
  fake::RegistryValue* value = fake::FindValue(found, valueName);
  if (!value) return kErrorFileNotFound;
  if (type) *type = value->type;
  uint32_t needed = static_cast<uint32_t>(value->data.size());
  if (!data) {
    if (size) *size = needed;
    return kErrorSuccess;
  }
  uint32_t room = *size;
  *size = needed;
  // What lands in a too small buffer is undefined; the first bytes do here,
  // so a caller that ignores the result reads a cut-off value.
  std::copy_n(value->data.data(), room < needed ? room : needed, static_cast<char*>(data));
  return room < needed ? kErrorMoreData : kErrorSuccess;
}

uint32_t RegSetValueExW(RegKey key, const std::wstring& valueName, uint32_t type,
                        const void* data, uint32_t size) {
  uint32_t access = 0;
  uint32_t status = 0;
  fake::Key* found = fake::KeyOf(key, &access, &status);
  if (!found) return status;
  if (!(access & kKeySetValue)) return kErrorAccessDenied;
  std::string bytes(static_cast<const char*>(data), size);
  if (fake::RegistryValue* value = fake::FindValue(found, valueName)) {
    value->type = type;
    value->data = bytes;
  } else {
    found->values.push_back(fake::RegistryValue{valueName, type, bytes});
  }
  return kErrorSuccess;
}

uint32_t RegDeleteKeyW(RegKey root, const std::wstring& subKey) {
  std::wstring path = fake::Resolve(root, subKey);
  if (path.empty()) return kErrorInvalidHandle;
  if (!fake::KeyExists(path)) return kErrorFileNotFound;
  if (fake::IsRoot(path) || fake::Denied(path) || fake::HasSubkeys(path)) {
    return kErrorAccessDenied;
  }
  fake::g_keys.erase(path);
  return kErrorSuccess;
}

uint32_t RegCloseKey(RegKey key) {
  if (key == kHkeyLocalMachine || key == kHkeyCurrentUser) return kErrorSuccess;
  if (fake::g_openKeys.erase(reinterpret_cast<uintptr_t>(key)) == 0) return kErrorInvalidHandle;
  return kErrorSuccess;
}

}  // namespace platform
