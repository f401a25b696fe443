// The fake's session and window station: one process (the program itself)
// in a session the test chooses, and one window station whose visibility
// the test chooses.
#include <cstring>

#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/session.h"

namespace fake {
namespace {

using namespace platform;

constexpr uint32_t kOwnProcessId = 4660;
// A user object, not a kernel handle: CloseHandle does not know it.
Handle const kStation = reinterpret_cast<Handle>(uintptr_t{0x3C0});

uint32_t g_session = 1;
bool g_stationVisible = true;
uint32_t g_failSession = 0;
uint32_t g_failStation = 0;

ResetHook g_resetSession([] {
  g_session = 1;
  g_stationVisible = true;
  g_failSession = 0;
  g_failStation = 0;
});

}  // namespace

bool SeenByAUser() { return g_session != 0 && g_stationVisible; }

void SetSessionId(uint32_t session) { g_session = session; }

void SetWindowStationVisible(bool visible) { g_stationVisible = visible; }

void FailNextProcessIdToSessionId(uint32_t code) { g_failSession = code; }

void FailNextGetUserObjectInformation(uint32_t code) { g_failStation = code; }

}  // namespace fake

namespace platform {

uint32_t GetCurrentProcessId() { return fake::kOwnProcessId; }

bool ProcessIdToSessionId(uint32_t processId, uint32_t* sessionId) {
  if (fake::g_failSession) {
    SetLastError(fake::g_failSession);
    fake::g_failSession = 0;
    return false;
  }
  if (processId != fake::kOwnProcessId) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  *sessionId = fake::g_session;
  return true;
}

Handle GetProcessWindowStation() { return fake::kStation; }

bool GetUserObjectInformationW(Handle object, int32_t index, void* info, uint32_t length,
                               uint32_t* lengthNeeded) {
  if (fake::g_failStation) {
    SetLastError(fake::g_failStation);
    fake::g_failStation = 0;
    return false;
  }
  if (object != fake::kStation) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  // The program asks for nothing but the flags.
  if (index != kUoiFlags) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  *lengthNeeded = sizeof(UserObjectFlags);
  if (length < sizeof(UserObjectFlags)) {
    SetLastError(kErrorInsufficientBuffer);
    return false;
  }
  UserObjectFlags flags{};
  flags.flags = fake::g_stationVisible ? kWsfVisible : 0;
  std::memcpy(info, &flags, sizeof(flags));
  return true;
}

}  // namespace platform
