// Processes as platform/process.h promises them, on the fake and, built for
// Windows, for real (under Wine). The long-running child is this very test
// program running its disabled sleeper test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/process.h"
#include "platform/time.h"
#include "tests/contract/on_wine.h"

#ifndef _WIN32
#include "platform/fake/fake.h"
#endif

namespace {

using namespace platform;

const std::wstring kCmd = L"C:\\Windows\\System32\\cmd.exe";
Handle const kSentinelHandle = reinterpret_cast<Handle>(uintptr_t{0xDEADBEEF});
constexpr uint32_t kSentinel = 0xDEADBEEF;

std::wstring Self() {
  std::wstring path;
  GetModuleFileNameW(260, &path);
  return path;
}

class ProcessContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    // What Windows has and does, set up on the fake.
    fake::Reset();
    fake::AddFile(kCmd, "MZ");
    fake::AddFile(Self(), "MZ");
    fake::ProcessScript exit7;
    exit7.exitCode = 7;
    fake::SetProcessScript(kCmd, exit7);
    fake::ProcessScript sleeper;
    sleeper.neverExits = true;
    fake::SetProcessScript(Self(), sleeper);
#endif
  }

  // Starts cmd.exe hidden with `line`.
  bool StartCmd(const std::wstring& line, Handle* process, Handle* thread) {
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    return CreateProcessW(kCmd, buffer.data(), kCreateNoWindow, kStartfUseShowWindow, kSwHide,
                          process, thread);
  }

  bool StartSleeper(Handle* process, Handle* thread) {
    std::wstring line = L"\"" + Self() +
                        L"\" --gtest_also_run_disabled_tests "
                        L"--gtest_filter=ProcessContractChild.DISABLED_SleepsForAMinute";
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    return CreateProcessW(Self(), buffer.data(), kCreateNoWindow, kStartfUseShowWindow, kSwHide,
                          process, thread);
  }
};

TEST_F(ProcessContractTest, MissingProgramGivesFileNotFound) {
  Handle process = kSentinelHandle, thread = kSentinelHandle;
  std::wstring line = L"x";
  std::vector<wchar_t> buffer(line.begin(), line.end());
  buffer.push_back(L'\0');
  SetLastError(kSentinel);
  EXPECT_FALSE(CreateProcessW(L"C:\\Windows\\System32\\no-such-program.exe", buffer.data(),
                              kCreateNoWindow, kStartfUseShowWindow, kSwHide, &process, &thread));
  EXPECT_EQ(2u, GetLastError()) << "got " << GetLastError();
  EXPECT_EQ(nullptr, process);
  EXPECT_EQ(nullptr, thread);

  SetLastError(kSentinel);
  EXPECT_FALSE(CreateProcessW(L"C:\\No Such Folder\\program.exe", buffer.data(), kCreateNoWindow,
                              kStartfUseShowWindow, kSwHide, &process, &thread));
  EXPECT_EQ(3u, GetLastError()) << "got " << GetLastError();
}

TEST_F(ProcessContractTest, HiddenCommandEndsWithItsExitCode) {
  Handle process = kSentinelHandle, thread = kSentinelHandle;
  ASSERT_TRUE(StartCmd(L"/C exit 7", &process, &thread)) << "error " << GetLastError();
  EXPECT_NE(nullptr, process);
  EXPECT_NE(nullptr, thread);
  uint32_t wait = WaitForSingleObject(process, 10000);
  EXPECT_EQ(kWaitObject0, wait) << "got " << wait;
  uint32_t code = kSentinel;
  EXPECT_TRUE(GetExitCodeProcess(process, &code));
  EXPECT_EQ(7u, code) << "got " << code;
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_TRUE(CloseHandle(process));
}

TEST_F(ProcessContractTest, WaitTimesOutTerminateEndsTheProcessAndOnlyOnce) {
  Handle process = nullptr, thread = nullptr;
  ASSERT_TRUE(StartSleeper(&process, &thread)) << "error " << GetLastError();
  uint32_t wait = WaitForSingleObject(process, 200);
  EXPECT_EQ(kWaitTimeout, wait) << "got " << wait;
  uint32_t code = kSentinel;
  EXPECT_TRUE(GetExitCodeProcess(process, &code));
  EXPECT_EQ(kStillActive, code) << "got " << code;

  EXPECT_TRUE(TerminateProcess(process, 42)) << "error " << GetLastError();
  wait = WaitForSingleObject(process, 10000);
  EXPECT_EQ(kWaitObject0, wait) << "got " << wait;
  code = kSentinel;
  EXPECT_TRUE(GetExitCodeProcess(process, &code));
  EXPECT_EQ(42u, code) << "got " << code;

  SetLastError(kSentinel);
  bool again = TerminateProcess(process, 43);
  if (RunningOnWine()) {
    // Wine 8 accepts terminating a process that has already ended.
    EXPECT_TRUE(again) << "Wine now refuses it, error " << GetLastError();
  } else {
    EXPECT_FALSE(again) << "the process has ended";
    EXPECT_EQ(5u, GetLastError()) << "got " << GetLastError();
  }
  code = kSentinel;
  EXPECT_TRUE(GetExitCodeProcess(process, &code));
  EXPECT_EQ(42u, code) << "the first exit code stays, got " << code;
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_TRUE(CloseHandle(process));

  SetLastError(kSentinel);
  EXPECT_EQ(kWaitFailed, WaitForSingleObject(process, 0)) << "closed handle";
  EXPECT_EQ(6u, GetLastError()) << "got " << GetLastError();
}

TEST_F(ProcessContractTest, RunningProgramFileCannotBeDeleted) {
  std::wstring self = Self();
  SetLastError(kSentinel);
  EXPECT_FALSE(DeleteFileW(self));
  EXPECT_EQ(5u, GetLastError()) << "got " << GetLastError();
}

// What lets the uninstall get its own file out of the install folder: a
// running program's file can be renamed, is still in use at its new place,
// and the program keeps reporting the path it was started from.
TEST_F(ProcessContractTest, RunningProgramFileCanBeMovedButNotDeletedThere) {
  std::wstring self = Self();
  std::wstring moved = self + L".moved";
  ASSERT_TRUE(MoveFileExW(self, moved, 0)) << "error " << GetLastError();
  SetLastError(kSentinel);
  bool deleted = DeleteFileW(moved);
  uint32_t error = GetLastError();
  std::wstring reported;
  GetModuleFileNameW(260, &reported);
  bool movedBack = MoveFileExW(moved, self, 0);
  ASSERT_TRUE(movedBack) << "error " << GetLastError() << "; the program is left at "
                         << std::string(moved.begin(), moved.end());
  EXPECT_FALSE(deleted) << "the moved program was deleted while running";
  EXPECT_EQ(5u, error) << "got " << error;
  EXPECT_EQ(self, reported);
}

TEST_F(ProcessContractTest, ShellExecuteReturnsAProcessHandleOnlyWhenAsked) {
  Handle process = kSentinelHandle;
  ASSERT_TRUE(
      ShellExecuteExW(kSeeMaskNoCloseProcess, L"open", kCmd, L"/C exit 7", L"", kSwHide, &process))
      << "error " << GetLastError();
  ASSERT_NE(nullptr, process);
  EXPECT_EQ(kWaitObject0, WaitForSingleObject(process, 10000));
  uint32_t code = kSentinel;
  EXPECT_TRUE(GetExitCodeProcess(process, &code));
  EXPECT_EQ(7u, code) << "got " << code;
  EXPECT_TRUE(CloseHandle(process));

  process = kSentinelHandle;
  ASSERT_TRUE(ShellExecuteExW(0, L"open", kCmd, L"/C exit 7", L"", kSwHide, &process));
  EXPECT_EQ(nullptr, process) << "no SEE_MASK_NOCLOSEPROCESS, no handle";
}

TEST_F(ProcessContractTest, ShellExecuteOfAMissingFileFails) {
  Handle process = kSentinelHandle;
  SetLastError(kSentinel);
  EXPECT_FALSE(ShellExecuteExW(kSeeMaskNoCloseProcess, L"open",
                               L"C:\\Windows\\System32\\no-such-installer.exe", L"", L"",
                               kSwHide, &process));
  if (RunningOnWine()) {
    // Wine 8 tries its own error box, which fails without a display, and
    // leaves that failure (1400) as the last error.
    EXPECT_EQ(1400u, GetLastError()) << "got " << GetLastError();
  } else {
    EXPECT_EQ(2u, GetLastError()) << "got " << GetLastError();
  }
  EXPECT_EQ(nullptr, process);
}

TEST_F(ProcessContractTest, ModuleFileNameIsCutToTheBuffer) {
  std::wstring full = L"sentinel";
  uint32_t n = GetModuleFileNameW(260, &full);
  EXPECT_EQ(full.size(), n);
  EXPECT_GT(n, 4u);
  EXPECT_NE(kInvalidFileAttributes, GetFileAttributesW(full)) << "names an existing file";

  std::wstring cut = L"sentinel";
  n = GetModuleFileNameW(5, &cut);
  EXPECT_EQ(5u, n) << "got " << n;
  EXPECT_EQ(122u, GetLastError()) << "got " << GetLastError();
  EXPECT_EQ(full.substr(0, 4), cut);
}

TEST_F(ProcessContractTest, LocalTimeHasAValidDate) {
  SystemTime now = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
  GetLocalTime(&now);
  EXPECT_GE(now.year, 2024) << now.year;
  EXPECT_GE(now.month, 1) << now.month;
  EXPECT_LE(now.month, 12) << now.month;
  EXPECT_GE(now.day, 1) << now.day;
  EXPECT_LE(now.day, 31) << now.day;
  EXPECT_LE(now.dayOfWeek, 6) << now.dayOfWeek;
  EXPECT_LE(now.hour, 23) << now.hour;
}

// Run only as the child of WaitTimesOutTerminate...: it is the process that
// does not end by itself.
TEST(ProcessContractChild, DISABLED_SleepsForAMinute) { Sleep(60000); }

}  // namespace
