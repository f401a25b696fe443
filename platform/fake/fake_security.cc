// The fake's access lists and random numbers. A descriptor is the SDDL text
// it was made from, checked for the shape of a DACL; a folder created with
// one remembers that text.
#include <map>
#include <memory>
#include <set>

#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/file.h"
#include "platform/security.h"

namespace fake {
namespace {

using namespace platform;

struct Descriptor {
  std::wstring sddl;
};

std::set<Descriptor*> g_descriptors;
std::map<std::wstring, std::wstring> g_folderSecurity;
uint64_t g_randomState = 0;
uint32_t g_randomFailure = 0;

constexpr uint64_t kRandomSeed = 0x9E3779B97F4A7C15;

void ResetSecurity() {
  for (Descriptor* d : g_descriptors) delete d;
  g_descriptors.clear();
  g_folderSecurity.clear();
  g_randomState = kRandomSeed;
  g_randomFailure = 0;
}

ResetHook g_resetSecurity(ResetSecurity);
const bool g_initialised = (ResetSecurity(), true);

// One ACE "(type;flags;rights;object;inherited object;account)": six fields,
// an allow or deny type, rights and an account present.
bool ValidAce(const std::wstring& ace) {
  std::vector<std::wstring> fields(1);
  for (wchar_t c : ace) {
    if (c == L';') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields.size() == 6 && (fields[0] == L"A" || fields[0] == L"D") && !fields[2].empty() &&
         !fields[5].empty();
}

// The owner's SID text of an "O:BA" or "O:SY" part at the start; empty
// without one.
std::wstring OwnerOf(const std::wstring& sddl) {
  if (sddl.compare(0, 4, L"O:BA") == 0) return kAdministratorsSid;
  if (sddl.compare(0, 4, L"O:SY") == 0) return kSystemSid;
  return std::wstring();
}

// An optional "O:BA" or "O:SY", then "D:" with optional P/AI/AR flags and one
// or more ACEs, nothing else.
bool ValidDacl(const std::wstring& sddl) {
  size_t i = OwnerOf(sddl).empty() ? 0 : 4;
  if (sddl.compare(i, 2, L"D:") != 0) return false;
  i += 2;
  while (i < sddl.size() && sddl[i] != L'(') {
    if (sddl[i] != L'P' && sddl[i] != L'A' && sddl[i] != L'I' && sddl[i] != L'R') return false;
    ++i;
  }
  if (i == sddl.size()) return false;
  while (i < sddl.size()) {
    if (sddl[i] != L'(') return false;
    size_t close = sddl.find(L')', i);
    if (close == std::wstring::npos || !ValidAce(sddl.substr(i + 1, close - i - 1))) return false;
    i = close + 1;
  }
  return true;
}

// xorshift64*: a fixed sequence after each Reset, different on every call.
uint8_t NextRandomByte() {
  g_randomState ^= g_randomState >> 12;
  g_randomState ^= g_randomState << 25;
  g_randomState ^= g_randomState >> 27;
  return static_cast<uint8_t>((g_randomState * 0x2545F4914F6CDD1D) >> 56);
}

}  // namespace

std::optional<std::wstring> FolderSecurity(const std::wstring& path) {
  auto it = g_folderSecurity.find(PathKey(path));
  if (it == g_folderSecurity.end() || !Exists(path)) return std::nullopt;
  return it->second;
}

std::wstring DescriptorSddl(platform::SecurityDescriptor descriptor) {
  auto* made = static_cast<Descriptor*>(descriptor);
  return g_descriptors.count(made) ? made->sddl : std::wstring();
}

int LiveSecurityDescriptorCount() { return static_cast<int>(g_descriptors.size()); }

void FailRandom(uint32_t status) { g_randomFailure = status; }

}  // namespace fake

namespace platform {

bool ConvertStringSecurityDescriptorToSecurityDescriptorW(const std::wstring& sddl,
                                                          SecurityDescriptor* descriptor) {
  *descriptor = nullptr;
  if (!fake::ValidDacl(sddl)) {
    SetLastError(kErrorInvalidAcl);
    return false;
  }
  auto* made = new fake::Descriptor{sddl};
  fake::g_descriptors.insert(made);
  *descriptor = made;
  return true;
}

void LocalFree(void* memory) {
  auto* descriptor = static_cast<fake::Descriptor*>(memory);
  if (fake::g_descriptors.erase(descriptor)) delete descriptor;
}

bool CreateDirectoryW(const std::wstring& path, SecurityDescriptor descriptor) {
  if (!fake::CreateDirectoryCore(path)) return false;
  auto* made = static_cast<fake::Descriptor*>(descriptor);
  if (made && fake::g_descriptors.count(made)) {
    fake::g_folderSecurity[fake::PathKey(path)] = made->sddl;
    std::wstring owner = fake::OwnerOf(made->sddl);
    if (!owner.empty()) fake::SetOwner(path, owner);
  } else {
    fake::g_folderSecurity.erase(fake::PathKey(path));
  }
  fake::NotifyCreateDirectory(path);
  return true;
}

uint32_t SetSecurityInfo(Handle handle, uint32_t securityInformation,
                         SecurityDescriptor descriptor) {
  std::wstring key;
  uint32_t access = 0;
  if (!fake::OpenFileOf(handle, &key, &access)) return kErrorInvalidHandle;
  auto* made = static_cast<fake::Descriptor*>(descriptor);
  if (!made || !fake::g_descriptors.count(made)) return kErrorInvalidParameter;
  bool owner = securityInformation & kOwnerSecurityInformation;
  bool dacl = securityInformation & kDaclSecurityInformation;
  if ((owner && !(access & kWriteOwner)) || (dacl && !(access & kWriteDac))) {
    return kErrorAccessDenied;
  }
  // What is kept is what Windows would store: the owner only when asked
  // for, and the DACL protected only through the flag (the descriptor's
  // own "P" is not looked at).
  const std::wstring& sddl = made->sddl;
  std::wstring ownerSid = fake::OwnerOf(sddl);
  size_t start = ownerSid.empty() ? 0 : 4;
  size_t aces = sddl.find(L'(', start);
  std::wstring kept;
  if (owner && !ownerSid.empty()) {
    kept += sddl.substr(0, start);
    fake::SetOwner(key, ownerSid);
  }
  if (dacl) {
    kept += L"D:";
    if (securityInformation & kProtectedDaclSecurityInformation) kept += L"P";
    kept += sddl.substr(aces);
  }
  fake::g_folderSecurity[key] = kept;
  return kErrorSuccess;
}

uint32_t BCryptGenRandom(void* buffer, uint32_t size) {
  if (fake::g_randomFailure) return fake::g_randomFailure;
  auto* bytes = static_cast<uint8_t*>(buffer);
  for (uint32_t i = 0; i < size; ++i) bytes[i] = fake::NextRandomByte();
  return 0;
}

}  // namespace platform
