// The fake's answer to "is the caller an administrator": SIDs as the
// authority and sub-authorities they were built from, and one token whose
// membership of the Administrators group the test decides.
#include <array>
#include <map>

#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/security.h"

namespace fake {
namespace {

using namespace platform;

struct SidRecord {
  std::array<uint8_t, 6> authority{};
  std::vector<uint32_t> subAuthorities;
};

std::map<uintptr_t, SidRecord> g_sids;
uintptr_t g_nextSid = 0x70000;
bool g_administrator = true;
bool g_localSystem = false;
uint32_t g_failAllocate = 0;
uint32_t g_failCheck = 0;

ResetHook g_resetToken([] {
  g_sids.clear();
  g_administrator = true;
  g_localSystem = false;
  g_failAllocate = 0;
  g_failCheck = 0;
});

bool IsNtSid(const SidRecord& sid, const std::vector<uint32_t>& subAuthorities) {
  std::array<uint8_t, 6> nt{};
  for (int i = 0; i < 6; ++i) nt[i] = kSecurityNtAuthority.value[i];
  return sid.authority == nt && sid.subAuthorities == subAuthorities;
}

bool IsMember(const SidRecord& sid) {
  if (IsNtSid(sid, {kSecurityBuiltinDomainRid, kDomainAliasRidAdmins})) return g_administrator;
  // The token's user counts as a member, as on Windows.
  return g_localSystem && IsNtSid(sid, {kSecurityLocalSystemRid});
}

}  // namespace

void SetAdministrator(bool member) { g_administrator = member; }

void SetLocalSystem(bool system) { g_localSystem = system; }

void FailNextAllocateSid(uint32_t code) { g_failAllocate = code; }

void FailNextCheckTokenMembership(uint32_t code) { g_failCheck = code; }

int LiveSidCount() { return static_cast<int>(g_sids.size()); }

}  // namespace fake

namespace platform {

bool AllocateAndInitializeSid(const SidIdentifierAuthority& authority, uint8_t count,
                              const uint32_t (&subAuthorities)[8], Sid* sid) {
  *sid = nullptr;
  if (fake::g_failAllocate) {
    SetLastError(fake::g_failAllocate);
    fake::g_failAllocate = 0;
    return false;
  }
  if (count < 1 || count > 8) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  fake::SidRecord record;
  for (int i = 0; i < 6; ++i) record.authority[i] = authority.value[i];
  record.subAuthorities.assign(subAuthorities, subAuthorities + count);
  uintptr_t handle = fake::g_nextSid;
  fake::g_nextSid += 8;
  fake::g_sids[handle] = record;
  *sid = reinterpret_cast<Sid>(handle);
  return true;
}

bool CheckTokenMembership(Handle token, Sid sid, bool* isMember) {
  if (fake::g_failCheck) {
    SetLastError(fake::g_failCheck);
    fake::g_failCheck = 0;
    return false;
  }
  // The program asks only about its own token.
  if (token) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  auto it = fake::g_sids.find(reinterpret_cast<uintptr_t>(sid));
  if (it == fake::g_sids.end()) {
    SetLastError(kErrorInvalidSid);
    return false;
  }
  *isMember = fake::IsMember(it->second);
  return true;
}

Sid FreeSid(Sid sid) {
  return fake::g_sids.erase(reinterpret_cast<uintptr_t>(sid)) ? nullptr : sid;
}

}  // namespace platform

namespace platform {

uint32_t GetTokenSid(uint32_t infoClass, std::wstring* sid) {
  if (infoClass != kTokenUser && infoClass != kTokenOwner) return kErrorInvalidParameter;
  if (fake::g_localSystem) {
    *sid = fake::kSystemSid;
  } else {
    *sid = infoClass == kTokenUser ? fake::kUserSid : fake::kAdministratorsSid;
  }
  return kErrorSuccess;
}

}  // namespace platform
