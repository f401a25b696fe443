// What keeps an update from breaking the installed files, and one setup at a
// time, as platform/file.h, process.h and sync.h promise it: flushing, a
// running program's file, suspended starts in a job, named mutexes. On the
// fake, what another process would do is set up through its control API;
// built for Windows, the other processes are this test program running one
// of its disabled child tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/file_handle.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/sync.h"
#include "platform/time.h"

#ifdef _WIN32
#include "tests/contract/image_mapping.h"
#else
#include "platform/fake/fake.h"
#endif

namespace {

using namespace platform;

constexpr uint32_t kSentinel = 0xDEADBEEF;
const std::wstring kMutexName = L"Global\\TslContractMutex";
const std::wstring kSetupSddl = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

std::wstring Self() {
  std::wstring path;
  GetModuleFileNameW(260, &path);
  return path;
}

std::wstring Folder() {
  std::wstring self = Self();
  return self.substr(0, self.rfind(L'\\'));
}

// Starts `program` (this test program or a copy of it) running the disabled
// child test `test`.
bool StartChild(const std::wstring& program, const std::string& test, uint32_t flags,
                Handle* process, Handle* thread) {
  std::wstring line = L"\"" + program + L"\" --gtest_also_run_disabled_tests --gtest_filter=" +
                      std::wstring(test.begin(), test.end());
  std::vector<wchar_t> buffer(line.begin(), line.end());
  buffer.push_back(L'\0');
  return CreateProcessW(program, buffer.data(), flags | kCreateNoWindow, kStartfUseShowWindow,
                        kSwHide, process, thread);
}

// Polls the job until none of its processes runs; false after 20 seconds.
bool WaitUntilJobEmpty(Handle job) {
  for (int i = 0; i < 400; ++i) {
    JobAccounting accounting;
    if (!QueryInformationJobObject(job, &accounting)) return false;
    if (accounting.activeProcesses == 0) return true;
    Sleep(50);
  }
  return false;
}

class SyncContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    fake::Reset();
    fake::AddFile(Self(), "MZ");
    fake::ProcessScript sleeper;
    sleeper.neverExits = true;
    fake::SetProcessScript(Self(), sleeper);
#endif
    scratch_ = Folder() + L"\\sync-contract-scratch.bin";
    DeleteFileW(scratch_);
  }
  void TearDown() override {
    for (const auto& path : cleanup_) DeleteFileW(path);
    DeleteFileW(scratch_);
  }

  // A copy of this program under another name, so that what is done to its
  // file cannot touch the running test.
  std::wstring CopyOfSelf(const std::wstring& name) {
    std::wstring copy = Folder() + L"\\" + name;
    DeleteFileW(copy);
    EXPECT_TRUE(CopyFileW(Self(), copy, false)) << "error " << GetLastError();
    cleanup_.push_back(copy);
    return copy;
  }

  std::wstring scratch_;
  std::vector<std::wstring> cleanup_;
};

TEST_F(SyncContractTest, FlushNeedsAWriteHandle) {
  Handle file = CreateFileW(scratch_, kGenericWrite, 0, kCreateAlways, kFileAttributeNormal);
  ASSERT_NE(kInvalidHandleValue, file) << "error " << GetLastError();
  uint32_t written = 0;
  ASSERT_TRUE(WriteFile(file, "abc", 3, &written));
  EXPECT_TRUE(FlushFileBuffers(file)) << "error " << GetLastError();
  EXPECT_TRUE(CloseHandle(file));

  file = CreateFileW(scratch_, kGenericRead, kFileShareRead, kOpenExisting, kFileAttributeNormal);
  ASSERT_NE(kInvalidHandleValue, file) << "error " << GetLastError();
  SetLastError(kSentinel);
  EXPECT_FALSE(FlushFileBuffers(file));
  EXPECT_EQ(5u, GetLastError()) << "got " << GetLastError();
  EXPECT_TRUE(CloseHandle(file));
}

// The file of a running program: renamed yes, replaced, deleted or written
// no. The swap of an update relies on each answer.
TEST_F(SyncContractTest, RunningProgramFileIsRenamedButNeverReplacedOrWritten) {
  std::wstring program = CopyOfSelf(L"sync-contract-running.exe");
  std::wstring renamed = program + L".renamed";
  cleanup_.push_back(renamed);
#ifndef _WIN32
  fake::ProcessScript sleeper;
  sleeper.neverExits = true;
  fake::SetProcessScript(program, sleeper);
#endif
  Handle process = nullptr, thread = nullptr;
  ASSERT_TRUE(StartChild(program, "ProcessContractChild.DISABLED_SleepsForAMinute", 0, &process,
                         &thread))
      << "error " << GetLastError();
  ASSERT_EQ(kWaitTimeout, WaitForSingleObject(process, 500)) << "the child ended early";

  Handle file = CreateFileW(scratch_, kGenericWrite, 0, kCreateAlways, kFileAttributeNormal);
  uint32_t written = 0;
  WriteFile(file, "new", 3, &written);
  CloseHandle(file);

  SetLastError(kSentinel);
  EXPECT_FALSE(MoveFileExW(scratch_, program, kMovefileReplaceExisting)) << "replaced it";
  EXPECT_EQ(5u, GetLastError()) << "replace: got " << GetLastError();

  SetLastError(kSentinel);
  Handle writer = CreateFileW(program, kGenericWrite,
                              kFileShareRead | kFileShareWrite | kFileShareDelete, kOpenExisting,
                              kFileAttributeNormal);
  EXPECT_EQ(kInvalidHandleValue, writer) << "opened for writing";
  EXPECT_EQ(32u, GetLastError()) << "open for writing: got " << GetLastError();
  if (writer != kInvalidHandleValue) CloseHandle(writer);

  EXPECT_TRUE(MoveFileExW(program, renamed, 0)) << "error " << GetLastError();
  SetLastError(kSentinel);
  EXPECT_FALSE(DeleteFileW(renamed));
  EXPECT_EQ(5u, GetLastError()) << "delete after the rename: got " << GetLastError();
  EXPECT_TRUE(MoveFileExW(scratch_, program, kMovefileReplaceExisting | kMovefileWriteThrough))
      << "the free name takes the new file, error " << GetLastError();

  EXPECT_TRUE(TerminateProcess(process, 1));
  EXPECT_EQ(kWaitObject0, WaitForSingleObject(process, 10000));
  CloseHandle(thread);
  CloseHandle(process);
  EXPECT_TRUE(DeleteFileW(renamed)) << "once it has ended, error " << GetLastError();
}

// A DLL that a running program has loaded answers as the program's own
// file does.
TEST_F(SyncContractTest, LoadedDllIsRenamedButNeverReplacedOrDeleted) {
  std::wstring dll = CopyOfSelf(L"sync-contract-loaded.dll");
  std::wstring renamed = dll + L".renamed";
  cleanup_.push_back(renamed);
#ifdef _WIN32
  void* module = MapAsImage(dll);
  ASSERT_NE(nullptr, module) << "error " << GetLastError();
#else
  std::wstring host = CopyOfSelf(L"sync-contract-host.exe");
  fake::ProcessScript loads;
  loads.neverExits = true;
  loads.loadsModules = {dll};
  fake::SetProcessScript(host, loads);
  Handle process = fake::RunProgram(host);
#endif
  Handle file = CreateFileW(scratch_, kGenericWrite, 0, kCreateAlways, kFileAttributeNormal);
  CloseHandle(file);

  SetLastError(kSentinel);
  EXPECT_FALSE(MoveFileExW(scratch_, dll, kMovefileReplaceExisting)) << "replaced it";
  EXPECT_EQ(5u, GetLastError()) << "replace: got " << GetLastError();
  SetLastError(kSentinel);
  EXPECT_FALSE(DeleteFileW(dll));
  EXPECT_EQ(5u, GetLastError()) << "delete: got " << GetLastError();
  EXPECT_TRUE(MoveFileExW(dll, renamed, 0)) << "error " << GetLastError();
  SetLastError(kSentinel);
  EXPECT_FALSE(DeleteFileW(renamed));
  EXPECT_EQ(5u, GetLastError()) << "delete after the rename: got " << GetLastError();

#ifdef _WIN32
  UnmapImage(module);
#else
  TerminateProcess(process, 1);
  WaitForSingleObject(process, 1000);
  CloseHandle(process);
#endif
  EXPECT_TRUE(DeleteFileW(renamed)) << "once unloaded, error " << GetLastError();
}

// A suspended process runs nothing until resumed, so it can be put in a job
// before it starts anything; ending the job ends everything it started.
TEST_F(SyncContractTest, SuspendedStartInAJobEndsWithEverythingItStarted) {
  std::wstring spawner = CopyOfSelf(L"sync-contract-spawner.exe");
#ifndef _WIN32
  fake::ProcessScript spawns;
  spawns.neverExits = true;
  spawns.startsChild = Self();
  fake::SetProcessScript(spawner, spawns);
#endif
  Handle job = CreateJobObjectW();
  ASSERT_NE(nullptr, job) << "error " << GetLastError();
  Handle process = nullptr, thread = nullptr;
  ASSERT_TRUE(StartChild(spawner, "SyncContractChild.DISABLED_StartsASleeperAndSleeps",
                         kCreateSuspended, &process, &thread))
      << "error " << GetLastError();
  EXPECT_TRUE(AssignProcessToJobObject(job, process)) << "error " << GetLastError();

  JobAccounting accounting;
  accounting.totalProcesses = accounting.activeProcesses = kSentinel;
  ASSERT_TRUE(QueryInformationJobObject(job, &accounting)) << "error " << GetLastError();
  EXPECT_EQ(1u, accounting.totalProcesses);
  EXPECT_EQ(1u, accounting.activeProcesses);

  EXPECT_EQ(1u, ResumeThread(thread)) << "suspend count before";
  EXPECT_EQ(0u, ResumeThread(thread)) << "already running";
  SetLastError(kSentinel);
  EXPECT_EQ(kResumeFailed, ResumeThread(process)) << "a process handle is no thread";

  // The child starts its own sleeper, which belongs to the job too.
  for (int i = 0; i < 400 && accounting.totalProcesses < 2; ++i) {
    Sleep(50);
    ASSERT_TRUE(QueryInformationJobObject(job, &accounting));
  }
  EXPECT_EQ(2u, accounting.totalProcesses);
  EXPECT_EQ(2u, accounting.activeProcesses);

  EXPECT_EQ(kWaitTimeout, WaitForSingleObject(job, 0)) << "a job handle is not signalled";
  EXPECT_TRUE(TerminateJobObject(job, 3)) << "error " << GetLastError();
  EXPECT_TRUE(WaitUntilJobEmpty(job)) << "processes of the job still run";
  EXPECT_EQ(kWaitObject0, WaitForSingleObject(process, 10000));
  uint32_t code = kSentinel;
  EXPECT_TRUE(GetExitCodeProcess(process, &code));
  EXPECT_EQ(3u, code) << "got " << code;
  CloseHandle(thread);
  CloseHandle(process);
  EXPECT_TRUE(CloseHandle(job));
}

// Closing the job does not end its processes: what an installer leaves
// running on purpose keeps running.
TEST_F(SyncContractTest, ClosingAJobLeavesItsProcessesRunning) {
  Handle job = CreateJobObjectW();
  ASSERT_NE(nullptr, job);
  Handle process = nullptr, thread = nullptr;
  ASSERT_TRUE(StartChild(Self(), "ProcessContractChild.DISABLED_SleepsForAMinute",
                         kCreateSuspended, &process, &thread));
  ASSERT_TRUE(AssignProcessToJobObject(job, process)) << "error " << GetLastError();
  EXPECT_EQ(1u, ResumeThread(thread));
  EXPECT_TRUE(CloseHandle(job));
  EXPECT_EQ(kWaitTimeout, WaitForSingleObject(process, 300)) << "closing the job ended it";
  TerminateProcess(process, 1);
  WaitForSingleObject(process, 10000);
  CloseHandle(thread);
  CloseHandle(process);
}

TEST_F(SyncContractTest, NamedMutexIsSharedOwnedAndReleasedOnce) {
  SecurityDescriptor descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(kSetupSddl, &descriptor));
  SetLastError(kSentinel);
  Handle first = CreateMutexW(descriptor, kMutexName);
  ASSERT_NE(nullptr, first) << "error " << GetLastError();
  EXPECT_EQ(0u, GetLastError()) << "a new mutex, got " << GetLastError();
  SetLastError(kSentinel);
  Handle second = CreateMutexW(descriptor, kMutexName);
  ASSERT_NE(nullptr, second) << "error " << GetLastError();
  EXPECT_EQ(183u, GetLastError()) << "got " << GetLastError();
  LocalFree(descriptor);

  EXPECT_EQ(kWaitObject0, WaitForSingleObject(first, 0));
  EXPECT_EQ(kWaitObject0, WaitForSingleObject(second, 0)) << "the owner may take it again";
  EXPECT_TRUE(ReleaseMutex(first));
  EXPECT_TRUE(ReleaseMutex(second));
  SetLastError(kSentinel);
  EXPECT_FALSE(ReleaseMutex(first)) << "released more often than taken";
  EXPECT_EQ(288u, GetLastError()) << "got " << GetLastError();
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_TRUE(CloseHandle(first));
}

// Another process takes the mutex: this one cannot; that process is killed:
// the next wait owns it and is told so.
TEST_F(SyncContractTest, MutexHeldElsewhereTimesOutAndIsAbandonedByAKill) {
  SecurityDescriptor descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(kSetupSddl, &descriptor));
  Handle mutex = CreateMutexW(descriptor, kMutexName);
  LocalFree(descriptor);
  ASSERT_NE(nullptr, mutex) << "error " << GetLastError();
#ifdef _WIN32
  Handle process = nullptr, thread = nullptr;
  ASSERT_TRUE(StartChild(Self(), "SyncContractChild.DISABLED_HoldsTheMutexAndSleeps", 0, &process,
                         &thread));
  // Until the child has taken it, this process may get it: give it back.
  uint32_t wait = kWaitObject0;
  for (int i = 0; i < 400 && wait != kWaitTimeout; ++i) {
    wait = WaitForSingleObject(mutex, 0);
    if (wait == kWaitObject0) {
      ReleaseMutex(mutex);
      Sleep(50);
    }
  }
#else
  fake::SetMutexHolder(kMutexName, fake::MutexHolder::kRunningSetup);
  uint32_t wait = WaitForSingleObject(mutex, 0);
#endif
  EXPECT_EQ(kWaitTimeout, wait) << "got " << wait;
  SetLastError(kSentinel);
  EXPECT_FALSE(ReleaseMutex(mutex)) << "not ours";
  EXPECT_EQ(288u, GetLastError()) << "got " << GetLastError();

#ifdef _WIN32
  TerminateProcess(process, 1);
  WaitForSingleObject(process, 10000);
  CloseHandle(thread);
  CloseHandle(process);
#else
  fake::SetMutexHolder(kMutexName, fake::MutexHolder::kKilledSetup);
#endif
  wait = WaitForSingleObject(mutex, 0);
  EXPECT_EQ(kWaitAbandoned, wait) << "got " << wait;
  EXPECT_TRUE(ReleaseMutex(mutex)) << "an abandoned mutex is the waiter's";
  EXPECT_TRUE(CloseHandle(mutex));
}

// A mutex whose access list leaves the caller out cannot be opened by name.
TEST_F(SyncContractTest, MutexOfAnotherAccountIsDenied) {
  const std::wstring name = L"Global\\TslContractSystemOnly";
  SecurityDescriptor descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;GA;;;SY)", &descriptor));
  Handle owner = CreateMutexW(descriptor, name);
  LocalFree(descriptor);
  ASSERT_NE(nullptr, owner) << "the creator gets a handle, error " << GetLastError();
#ifndef _WIN32
  fake::SetMutexHolder(name, fake::MutexHolder::kNoAccess);
#endif
  SetLastError(kSentinel);
  Handle other = CreateMutexW(nullptr, name);
  EXPECT_EQ(nullptr, other);
  EXPECT_EQ(5u, GetLastError()) << "got " << GetLastError();
  if (other) CloseHandle(other);
  EXPECT_TRUE(CloseHandle(owner));
}

// Only the owner tells a setup's mutex from a name someone else took first:
// a new object gets the token's default owner (Windows: Administrators for
// an elevated run, SYSTEM for SYSTEM, which the Windows kit shows; Wine 8:
// the user's primary group).
TEST_F(SyncContractTest, MutexOwnerIsTheCreatorsAccount) {
  SecurityDescriptor descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(kSetupSddl, &descriptor));
  Handle mutex = CreateMutexW(descriptor, L"Global\\TslContractOwner");
  LocalFree(descriptor);
  ASSERT_NE(nullptr, mutex) << "error " << GetLastError();
  std::wstring user = L"sentinel";
  std::wstring tokenOwner = L"sentinel";
  std::wstring owner = L"sentinel";
  ASSERT_EQ(0u, GetTokenSid(kTokenUser, &user));
  ASSERT_EQ(0u, GetTokenSid(kTokenOwner, &tokenOwner));
  EXPECT_EQ(0u, user.rfind(L"S-1-5-", 0)) << std::string(user.begin(), user.end());
  EXPECT_EQ(0u, GetSecurityInfo(mutex, kSeKernelObject, &owner));
  EXPECT_EQ(tokenOwner, owner) << std::string(owner.begin(), owner.end());
  EXPECT_TRUE(CloseHandle(mutex));
}

// A move queued for the restart is written where the session manager reads
// it: "\??\<from>" then "!\??\<to>" when it replaces. (That the restart
// carries it out only the Windows kit shows.)
TEST_F(SyncContractTest, RestartQueueIsWrittenForTheSessionManager) {
  Handle file = CreateFileW(scratch_, kGenericWrite, 0, kCreateAlways, kFileAttributeNormal);
  ASSERT_NE(kInvalidHandleValue, file);
  CloseHandle(file);
  const std::wstring target = Folder() + L"\\sync-contract-target.bin";
  ASSERT_TRUE(MoveFileExW(scratch_, target, kMovefileDelayUntilReboot | kMovefileReplaceExisting))
      << "error " << GetLastError();
  RegKey key = nullptr;
  ASSERT_EQ(0u, RegOpenKeyExW(kHkeyLocalMachine,
                              L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                              kKeyQueryValue, &key));
  uint32_t type = 0;
  uint32_t size = 0;
  ASSERT_EQ(0u, RegQueryValueExW(key, L"PendingFileRenameOperations", &type, nullptr, &size));
  std::vector<char> data(size);
  EXPECT_EQ(0u, RegQueryValueExW(key, L"PendingFileRenameOperations", &type, data.data(), &size));
  RegCloseKey(key);
  EXPECT_EQ(7u, type) << "REG_MULTI_SZ";
  std::string pair = RegSzData(L"\\??\\" + scratch_) + RegSzData(L"!\\??\\" + target);
  EXPECT_NE(std::string::npos, std::string(data.begin(), data.end()).find(pair));
}

// Children of the tests above; they run only when started by them.
TEST(SyncContractChild, DISABLED_HoldsTheMutexAndSleeps) {
  Handle mutex = CreateMutexW(nullptr, kMutexName);
  ASSERT_NE(nullptr, mutex);
  ASSERT_NE(kWaitFailed, WaitForSingleObject(mutex, kInfinite));
  Sleep(60000);
}

TEST(SyncContractChild, DISABLED_StartsASleeperAndSleeps) {
  Handle process = nullptr, thread = nullptr;
  ASSERT_TRUE(StartChild(Self(), "ProcessContractChild.DISABLED_SleepsForAMinute", 0, &process,
                         &thread));
  Sleep(60000);
}

}  // namespace
