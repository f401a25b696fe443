// Sessions and window stations as platform/session.h promises them, on the
// fake and, built for Windows, for real (under Wine). A station no user sees
// is made here for a child: this very test program running its disabled
// child test there.
#include <gtest/gtest.h>

#include <string>

#include "platform/process.h"
#include "platform/security.h"
#include "platform/session.h"
#include "tests/contract/on_wine.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/fake/fake.h"
#endif

namespace {

constexpr uint32_t kSentinel = 0xDEADBEEF;

class SessionContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    fake::Reset();
#endif
  }
};

// The flags of the running program's window station, read as the program
// reads them.
platform::UserObjectFlags StationFlags() {
  platform::UserObjectFlags flags{int32_t(kSentinel), int32_t(kSentinel), kSentinel};
  uint32_t needed = kSentinel;
  EXPECT_TRUE(platform::GetUserObjectInformationW(
      platform::GetProcessWindowStation(), platform::kUoiFlags, &flags, sizeof(flags), &needed))
      << "error " << platform::GetLastError();
  EXPECT_EQ(12u, needed);
  return flags;
}

TEST_F(SessionContractTest, OwnProcessRunsInAUsersSession) {
  uint32_t session = kSentinel;
  ASSERT_TRUE(platform::ProcessIdToSessionId(platform::GetCurrentProcessId(), &session))
      << "error " << platform::GetLastError();
  // The tests run on a desktop, never in the services' session 0.
  EXPECT_NE(0u, session);
  if (RunningOnWine()) {
    EXPECT_EQ(1u, session) << "Wine 8 puts its processes in session 1";
  }
}

TEST_F(SessionContractTest, ProcessIdOfNoProcessFails) {
  uint32_t session = kSentinel;
  platform::SetLastError(kSentinel);
  // Process ids are multiples of 4; this one is far beyond any in use.
  EXPECT_FALSE(platform::ProcessIdToSessionId(0x7FFFFFF0u, &session));
  EXPECT_EQ(platform::kErrorInvalidParameter, platform::GetLastError())
      << "got " << platform::GetLastError();
  EXPECT_EQ(kSentinel, session);
}

TEST_F(SessionContractTest, DesktopStationIsVisible) {
  EXPECT_EQ(platform::kWsfVisible, StationFlags().flags & platform::kWsfVisible);
}

TEST_F(SessionContractTest, ShortBufferGetsTheSizeAndNothingElse) {
  uint32_t buffer[3] = {kSentinel, kSentinel, kSentinel};
  uint32_t needed = kSentinel;
  platform::SetLastError(kSentinel);
  EXPECT_FALSE(platform::GetUserObjectInformationW(platform::GetProcessWindowStation(),
                                                   platform::kUoiFlags, buffer, 0, &needed));
  if (RunningOnWine()) {
    // Wine 8 passes on the server's STATUS_BUFFER_OVERFLOW as 111 where
    // Windows says ERROR_INSUFFICIENT_BUFFER; the program reads no code here.
    EXPECT_EQ(platform::kErrorBufferOverflow, platform::GetLastError())
        << "got " << platform::GetLastError();
  } else {
    EXPECT_EQ(platform::kErrorInsufficientBuffer, platform::GetLastError())
        << "got " << platform::GetLastError();
  }
  EXPECT_EQ(12u, needed);
  for (uint32_t word : buffer) EXPECT_EQ(kSentinel, word);
}

TEST_F(SessionContractTest, NullHandleIsNoUserObject) {
  platform::UserObjectFlags flags{};
  uint32_t needed = 0;
  platform::SetLastError(kSentinel);
  EXPECT_FALSE(platform::GetUserObjectInformationW(nullptr, platform::kUoiFlags, &flags,
                                                   sizeof(flags), &needed));
  EXPECT_EQ(platform::kErrorInvalidHandle, platform::GetLastError())
      << "got " << platform::GetLastError();
}

// The tests run as a user: the token's user is not LocalSystem (S-1-5-18),
// and the question is answered, not refused.
TEST_F(SessionContractTest, UsersTokenIsNotLocalSystem) {
  const uint32_t rids[8] = {platform::kSecurityLocalSystemRid};
  platform::Sid sid = nullptr;
  ASSERT_TRUE(platform::AllocateAndInitializeSid(platform::kSecurityNtAuthority, 1, rids, &sid));
  bool member = true;
  EXPECT_TRUE(platform::CheckTokenMembership(nullptr, sid, &member))
      << "error " << platform::GetLastError();
  EXPECT_FALSE(member);
  EXPECT_EQ(nullptr, platform::FreeSid(sid));
}

// Run by the test below inside a window station of its own.
TEST(SessionContractChild, DISABLED_StationIsNotVisible) {
  EXPECT_EQ(0u, StationFlags().flags & platform::kWsfVisible);
}

TEST_F(SessionContractTest, ChildInAStationOfItsOwnSeesNoVisibleFlag) {
#ifdef _WIN32
  const wchar_t kStation[] = L"TslContractStation";
  HWINSTA home = GetProcessWindowStation();
  HWINSTA station = CreateWindowStationW(kStation, 0, WINSTA_ALL_ACCESS, nullptr);
  ASSERT_NE(nullptr, station) << "CreateWindowStationW: " << GetLastError();
  // A desktop is made in the caller's station, so the caller visits it.
  ASSERT_TRUE(SetProcessWindowStation(station)) << GetLastError();
  HDESK desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  DWORD desktopError = GetLastError();
  ASSERT_TRUE(SetProcessWindowStation(home)) << GetLastError();
  ASSERT_NE(nullptr, desktop) << "CreateDesktopW: " << desktopError;

  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring line = std::wstring(L"\"") + self +
                      L"\" --gtest_also_run_disabled_tests "
                      L"--gtest_filter=SessionContractChild.DISABLED_StationIsNotVisible";
  std::wstring desktopName = std::wstring(kStation) + L"\\Default";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.lpDesktop = &desktopName[0];
  PROCESS_INFORMATION child = {};
  ASSERT_TRUE(CreateProcessW(self, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &child))
      << GetLastError();
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.hProcess, 120000));
  DWORD code = kSentinel;
  GetExitCodeProcess(child.hProcess, &code);
  EXPECT_EQ(0u, code) << "the child saw WSF_VISIBLE or failed to ask";
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  CloseDesktop(desktop);
  CloseWindowStation(station);
#else
  fake::SetWindowStationVisible(false);
  EXPECT_EQ(0u, StationFlags().flags & platform::kWsfVisible);
#endif
}

}  // namespace
