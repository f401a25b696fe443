// File and folder handles, the system folders and the current folder, as
// platform/file_handle.h and platform/folders.h promise them, on the fake
// and, built for Windows, for real (under Wine). Everything happens in a
// folder of its own inside the temporary folder, removed afterwards.
#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/file_handle.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "platform/security.h"
#include "platform/time.h"
#include "tests/contract/on_wine.h"
#include "tests/contract/open_handles.h"

#ifndef _WIN32
#include "platform/fake/fake.h"
#endif

namespace {

using namespace platform;

constexpr uint32_t kSentinel = 0xDEADBEEF;

std::wstring Lower(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::wstring Self() {
  std::wstring path;
  GetModuleFileNameW(32768, &path);
  return path;
}

class HandleContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    fake::Reset();
    fake::AddFile(Self(), "MZ");
    fake::AddFile(L"C:\\Windows\\System32\\cmd.exe", "MZ");
#endif
    startFolder_ = GetCurrentDirectoryW();
    unsigned char random[8];
    ASSERT_EQ(0u, BCryptGenRandom(random, sizeof(random)));
    std::wstring name = L"tsl-handles-";
    for (unsigned char b : random) {
      name += L"0123456789abcdef"[b >> 4];
      name += L"0123456789abcdef"[b & 15];
    }
    folder_ = GetTempPathW() + name;
    ASSERT_TRUE(CreateDirectoryW(folder_)) << "error " << GetLastError();
  }
  void TearDown() override {
    SetCurrentDirectoryW(startFolder_);
    open_.CloseAll();
    // A program a test started may leave a helper (Wine's console host)
    // that still has the folder as its current folder for a moment after the
    // program ended: wait while the folder is only in use.
    uint32_t error = 0;
    for (int attempt = 0; attempt < 600; ++attempt) {
      for (const auto& path : made_) DeleteFileW(path);
      for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) RemoveDirectoryW(*it);
      if (RemoveDirectoryW(folder_)) return;
      error = GetLastError();
      if (error != kErrorSharingViolation && error != kErrorDirNotEmpty) break;
      Sleep(50);
    }
    ADD_FAILURE() << "left behind, error " << error;
  }

  std::wstring File(const std::wstring& name, const std::string& bytes) {
    std::wstring path = folder_ + L"\\" + name;
    Handle file = CreateFileW(path, kGenericWrite, 0, kCreateAlways, kFileAttributeNormal);
    EXPECT_NE(kInvalidHandleValue, file) << "error " << GetLastError();
    uint32_t done = 0;
    WriteFile(file, bytes.data(), static_cast<uint32_t>(bytes.size()), &done);
    CloseHandle(file);
    made_.push_back(path);
    return path;
  }
  std::wstring Folder(const std::wstring& name) {
    std::wstring path = folder_ + L"\\" + name;
    EXPECT_TRUE(CreateDirectoryW(path)) << "error " << GetLastError();
    folders_.push_back(path);
    return path;
  }
  Handle Open(const std::wstring& path, uint32_t access, uint32_t share, uint32_t flags) {
    Handle h = CreateFileW(path, access, share, kOpenExisting, flags);
    return open_.Track(h);
  }
  void Close(Handle h) { open_.Close(h); }
  ByHandleFileInformation Info(Handle h) {
    ByHandleFileInformation info;
    info.fileIndex = kSentinel;
    EXPECT_TRUE(GetFileInformationByHandle(h, &info)) << "error " << GetLastError();
    return info;
  }

  std::wstring startFolder_;
  std::wstring folder_;
  OpenHandles open_;
  std::vector<std::wstring> made_;
  std::vector<std::wstring> folders_;
};

TEST_F(HandleContractTest, SystemFoldersAndTheCurrentFolder) {
  std::wstring system = GetSystemDirectoryW();
  std::wstring windows = GetSystemWindowsDirectoryW();
  EXPECT_EQ(L"c:\\windows\\system32", Lower(system));
  EXPECT_EQ(L"c:\\windows", Lower(windows));
  EXPECT_NE(kInvalidFileAttributes, GetFileAttributesW(windows + L"\\Temp"))
      << "the system's temp folder";

  ASSERT_TRUE(SetCurrentDirectoryW(folder_)) << "error " << GetLastError();
  EXPECT_EQ(Lower(folder_), Lower(GetCurrentDirectoryW()));
  ASSERT_TRUE(SetCurrentDirectoryW(system));
  EXPECT_EQ(Lower(system), Lower(GetCurrentDirectoryW()));

  SetLastError(kSentinel);
  EXPECT_FALSE(SetCurrentDirectoryW(folder_ + L"\\missing"));
  EXPECT_EQ(2u, GetLastError());
  SetLastError(kSentinel);
  EXPECT_FALSE(SetCurrentDirectoryW(File(L"plain.txt", "x")));
  EXPECT_EQ(267u, GetLastError());
  EXPECT_EQ(Lower(system), Lower(GetCurrentDirectoryW())) << "a failure changes nothing";

  // The current folder is held open without delete sharing.
  std::wstring current = Folder(L"current");
  ASSERT_TRUE(SetCurrentDirectoryW(current));
  SetLastError(kSentinel);
  EXPECT_FALSE(RemoveDirectoryW(current));
  EXPECT_EQ(32u, GetLastError());
  ASSERT_TRUE(SetCurrentDirectoryW(system));
}

// Two handles on one file tell the same identity, another file another;
// a handle keeps naming its file through a rename.
TEST_F(HandleContractTest, IdentityFollowsTheFileNotThePath) {
  std::wstring a = File(L"a.bin", "aaaa");
  std::wstring b = File(L"b.bin", "bb");
  const uint32_t anyShare = kFileShareRead | kFileShareWrite | kFileShareDelete;
  Handle first = Open(a, kGenericRead, anyShare, kFileAttributeNormal);
  Handle second = Open(a, kFileReadAttributes, anyShare, kFileAttributeNormal);
  Handle other = Open(b, kGenericRead, anyShare, kFileAttributeNormal);
  ASSERT_NE(kInvalidHandleValue, first);
  ASSERT_NE(kInvalidHandleValue, second) << "error " << GetLastError();
  ASSERT_NE(kInvalidHandleValue, other);
  ByHandleFileInformation one = Info(first);
  ByHandleFileInformation two = Info(second);
  ByHandleFileInformation three = Info(other);
  EXPECT_EQ(one.volumeSerialNumber, two.volumeSerialNumber);
  EXPECT_EQ(one.fileIndex, two.fileIndex);
  EXPECT_NE(one.fileIndex, three.fileIndex);
  EXPECT_EQ(4u, one.fileSize);
  EXPECT_EQ(1u, one.numberOfLinks);
  EXPECT_EQ(0u, one.fileAttributes & kFileAttributeDirectory);

  ASSERT_TRUE(MoveFileExW(a, folder_ + L"\\renamed.bin", 0)) << "error " << GetLastError();
  made_.push_back(folder_ + L"\\renamed.bin");
  Handle renamed = Open(folder_ + L"\\renamed.bin", kFileReadAttributes, anyShare,
                        kFileAttributeNormal);
  EXPECT_EQ(one.fileIndex, Info(first).fileIndex);
  EXPECT_EQ(one.fileIndex, Info(renamed).fileIndex);

  ByHandleFileInformation untouched;
  untouched.fileIndex = kSentinel;
  SetLastError(kSentinel);
  Close(other);
  EXPECT_FALSE(GetFileInformationByHandle(other, &untouched));
  EXPECT_EQ(6u, GetLastError());
  EXPECT_EQ(kSentinel, untouched.fileIndex);
}

// Read access with read sharing only: the file can be read by others but
// neither renamed, deleted nor written while the handle is open.
TEST_F(HandleContractTest, ReadSharingOnlyPinsTheFile) {
  std::wstring path = File(L"pinned.exe", "MZ pinned");
  Handle pin = Open(path, kGenericRead, kFileShareRead, kFileAttributeNormal);
  ASSERT_NE(kInvalidHandleValue, pin);
  SetLastError(kSentinel);
  EXPECT_FALSE(MoveFileExW(path, folder_ + L"\\moved.exe", 0));
  EXPECT_EQ(32u, GetLastError());
  SetLastError(kSentinel);
  EXPECT_FALSE(DeleteFileW(path));
  EXPECT_EQ(32u, GetLastError());
  SetLastError(kSentinel);
  EXPECT_EQ(kInvalidHandleValue,
            CreateFileW(path, kGenericWrite, kFileShareRead, kOpenExisting, kFileAttributeNormal));
  EXPECT_EQ(32u, GetLastError());
  Handle reader = Open(path, kGenericRead, kFileShareRead, kFileAttributeNormal);
  EXPECT_NE(kInvalidHandleValue, reader) << "others may still read";

  // Read from the start again through the same handle.
  char buffer[16];
  uint32_t read = 0;
  ASSERT_TRUE(ReadFile(pin, buffer, sizeof(buffer), &read));
  EXPECT_EQ(9u, read);
  ASSERT_TRUE(SetFilePointerEx(pin, 0, kFileBegin));
  ASSERT_TRUE(ReadFile(pin, buffer, 2, &read));
  EXPECT_EQ("MZ", std::string(buffer, read));
  SetLastError(kSentinel);
  EXPECT_FALSE(SetFilePointerEx(pin, -1, kFileBegin));
  EXPECT_EQ(131u, GetLastError()) << "ERROR_NEGATIVE_SEEK";

  Close(pin);
  Close(reader);
  EXPECT_TRUE(MoveFileExW(path, folder_ + L"\\moved.exe", 0)) << "free once the pins are gone";
  made_.push_back(folder_ + L"\\moved.exe");
}

TEST_F(HandleContractTest, FlushNeedsWriteAccess) {
  std::wstring path = File(L"flush.bin", "x");
  Handle writer = Open(path, kGenericWrite, 0, kFileAttributeNormal);
  ASSERT_NE(kInvalidHandleValue, writer);
  EXPECT_TRUE(FlushFileBuffers(writer)) << "error " << GetLastError();
  Close(writer);
  Handle reader = Open(path, kGenericRead, kFileShareRead, kFileAttributeNormal);
  SetLastError(kSentinel);
  EXPECT_FALSE(FlushFileBuffers(reader));
  EXPECT_EQ(5u, GetLastError());
}

// A folder opened as itself (backup semantics, no link followed) is
// deleted through its handle once empty, when the handle closes.
TEST_F(HandleContractTest, FolderDeletedThroughItsHandle) {
  const uint32_t flags = kFileFlagBackupSemantics | kFileFlagOpenReparsePoint;
  std::wstring empty = Folder(L"empty");
  Handle held = Open(empty, kDelete | kFileReadAttributes,
                     kFileShareRead | kFileShareWrite | kFileShareDelete, flags);
  ASSERT_NE(kInvalidHandleValue, held) << "error " << GetLastError();
  ByHandleFileInformation info = Info(held);
  EXPECT_EQ(kFileAttributeDirectory, info.fileAttributes & (kFileAttributeDirectory |
                                                            kFileAttributeReparsePoint));
  ASSERT_TRUE(SetFileInformationByHandle(held, FileDispositionInfo{true}))
      << "error " << GetLastError();
  Close(held);
  EXPECT_EQ(kInvalidFileAttributes, GetFileAttributesW(empty)) << "deleted at the close";

  std::wstring full = Folder(L"full");
  File(L"full\\inside.txt", "x");
  Handle fullHandle = Open(full, kDelete | kFileReadAttributes,
                           kFileShareRead | kFileShareWrite | kFileShareDelete, flags);
  SetLastError(kSentinel);
  EXPECT_FALSE(SetFileInformationByHandle(fullHandle, FileDispositionInfo{true}));
  EXPECT_EQ(145u, GetLastError());
  Close(fullHandle);

  Handle noDelete = Open(full, kGenericRead, kFileShareRead | kFileShareWrite, flags);
  SetLastError(kSentinel);
  EXPECT_FALSE(SetFileInformationByHandle(noDelete, FileDispositionInfo{true}));
  EXPECT_EQ(5u, GetLastError());
}

// The pin of a folder without delete sharing keeps it in place, and keeps
// out anyone asking for DELETE access (the pin's holder included).
TEST_F(HandleContractTest, FolderPinnedWithoutDeleteSharing) {
  const uint32_t flags = kFileFlagBackupSemantics | kFileFlagOpenReparsePoint;
  std::wstring pinned = Folder(L"pinned");
  Handle pin = Open(pinned, kGenericRead, kFileShareRead | kFileShareWrite, flags);
  ASSERT_NE(kInvalidHandleValue, pin);
  SetLastError(kSentinel);
  EXPECT_FALSE(MoveFileExW(pinned, folder_ + L"\\elsewhere", 0));
  EXPECT_EQ(32u, GetLastError());
  SetLastError(kSentinel);
  EXPECT_EQ(kInvalidHandleValue,
            CreateFileW(pinned, kDelete, kFileShareRead | kFileShareWrite | kFileShareDelete,
                        kOpenExisting, flags));
  EXPECT_EQ(32u, GetLastError());
}

TEST_F(HandleContractTest, OwnerOfAFolderMadeWithAnOwner) {
  SecurityDescriptor descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", &descriptor))
      << "error " << GetLastError();
  std::wstring path = folder_ + L"\\owned";
  ASSERT_TRUE(CreateDirectoryW(path, descriptor)) << "error " << GetLastError();
  LocalFree(descriptor);
  folders_.push_back(path);
  Handle h = Open(path, kGenericRead, kFileShareRead | kFileShareWrite,
                  kFileFlagBackupSemantics | kFileFlagOpenReparsePoint);
  ASSERT_NE(kInvalidHandleValue, h) << "error " << GetLastError();
  std::wstring owner = L"sentinel";
  EXPECT_EQ(0u, GetSecurityInfo(h, &owner));
  if (RunningOnWine()) {
    // Wine 8 keeps no owner here: every file's owner is the Unix user's SID
    // (S-1-5-21-0-0-0-1000), the temp folder's as well.
    EXPECT_EQ(L"S-1-5-21-", owner.substr(0, 9)) << "got " << owner.size() << " chars";
  } else {
    EXPECT_EQ(L"S-1-5-32-544", owner);
  }

  Handle attributesOnly = Open(path, kFileReadAttributes, kFileShareRead | kFileShareWrite,
                               kFileFlagBackupSemantics);
  ASSERT_NE(kInvalidHandleValue, attributesOnly);
  owner = L"sentinel";
  EXPECT_EQ(5u, GetSecurityInfo(attributesOnly, &owner)) << "READ_CONTROL is needed";
  EXPECT_EQ(L"sentinel", owner);
}

// The loader's mapping of the running program names the file a handle on
// the program's path leads to.
TEST_F(HandleContractTest, MappedFileNameIsTheRunningProgram) {
  std::wstring image = GetMappedFileNameW();
  std::wstring openable;
  if (RunningOnWine()) {
    // Wine 8 answers the DOS-device form "\??\Z:\..." (Windows: "\Device\...").
    ASSERT_EQ(L"\\??\\", image.substr(0, 4)) << "got " << image.size() << " chars";
    openable = L"\\\\?\\" + image.substr(4);
  } else {
    ASSERT_EQ(L"\\device\\", Lower(image.substr(0, 8))) << "got " << image.size() << " chars";
    openable = L"\\\\?\\GLOBALROOT" + image;
  }
  const uint32_t anyShare = kFileShareRead | kFileShareWrite | kFileShareDelete;
  Handle self = Open(Self(), kGenericRead, kFileShareRead, kFileAttributeNormal);
  Handle mapped = Open(openable, kFileReadAttributes, anyShare, kFileAttributeNormal);
  ASSERT_NE(kInvalidHandleValue, self) << "error " << GetLastError();
  ASSERT_NE(kInvalidHandleValue, mapped) << "error " << GetLastError();
  EXPECT_EQ(Info(self).fileIndex, Info(mapped).fileIndex);
  EXPECT_EQ(Info(self).volumeSerialNumber, Info(mapped).volumeSerialNumber);
}

// "\\?\" before a full path lifts the MAX_PATH limit of the file calls.
TEST_F(HandleContractTest, LongPathFormReachesBeyondMaxPath) {
  std::wstring deep = folder_;
  while (deep.size() < 300) {
    deep += L"\\" + std::wstring(60, L'd');
    ASSERT_TRUE(CreateDirectoryW(L"\\\\?\\" + deep)) << "error " << GetLastError();
    folders_.push_back(L"\\\\?\\" + deep);
  }
  std::wstring file = L"\\\\?\\" + deep + L"\\setup.exe";
  Handle made = CreateFileW(file, kGenericWrite, 0, kCreateAlways, kFileAttributeNormal);
  ASSERT_NE(kInvalidHandleValue, made) << "error " << GetLastError();
  made_.push_back(file);
  uint32_t done = 0;
  EXPECT_TRUE(WriteFile(made, "MZ", 2, &done));
  Close(made);
  Handle read = Open(file, kGenericRead, kFileShareRead, kFileAttributeNormal);
  ASSERT_NE(kInvalidHandleValue, read) << "error " << GetLastError();
  EXPECT_EQ(2u, Info(read).fileSize);
}

// ShellExecuteExW's directory is the started program's working folder.
TEST_F(HandleContractTest, ShellExecuteStartsInTheGivenFolder) {
  std::wstring work = Folder(L"work");
  Handle process = nullptr;
  ASSERT_TRUE(ShellExecuteExW(kSeeMaskNoCloseProcess, L"open", L"C:\\Windows\\System32\\cmd.exe",
                              L"/C cd > here.txt", work, kSwHide, &process))
      << "error " << GetLastError();
  ASSERT_NE(nullptr, process);
  EXPECT_EQ(kWaitObject0, WaitForSingleObject(process, 30000));
  CloseHandle(process);
#ifdef _WIN32
  made_.push_back(work + L"\\here.txt");
  Handle out = Open(work + L"\\here.txt", kGenericRead, kFileShareRead, kFileAttributeNormal);
  ASSERT_NE(kInvalidHandleValue, out) << "written in the working folder";
  char buffer[1024];
  uint32_t read = 0;
  ReadFile(out, buffer, sizeof(buffer), &read);
  std::string line = std::string(buffer, read).substr(0, std::string(buffer, read).find_first_of("\r\n"));
  std::string got;
  for (char c : line) got += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string expected;
  for (wchar_t c : Lower(work)) expected += static_cast<char>(c);
  EXPECT_EQ(expected, got);
#else
  EXPECT_EQ(work, fake::ProcessStarts().back().directory);
#endif
}

#ifndef _WIN32
// Wine 8 cannot make junctions, so what a link opened as itself answers is
// pinned down on the fake only.
TEST_F(HandleContractTest, LinkOpenedAsItselfOnTheFakeOnly) {
  std::wstring target = Folder(L"target");
  std::wstring link = folder_ + L"\\link";
  fake::AddJunction(link, target);
  const uint32_t share = kFileShareRead | kFileShareWrite;
  Handle itself = Open(link, kGenericRead, share,
                       kFileFlagBackupSemantics | kFileFlagOpenReparsePoint);
  Handle followed = Open(link, kGenericRead, share, kFileFlagBackupSemantics);
  Handle direct = Open(target, kGenericRead, share, kFileFlagBackupSemantics);
  EXPECT_NE(0u, Info(itself).fileAttributes & kFileAttributeReparsePoint);
  EXPECT_EQ(0u, Info(followed).fileAttributes & kFileAttributeReparsePoint);
  EXPECT_EQ(Info(direct).fileIndex, Info(followed).fileIndex);
  EXPECT_NE(Info(direct).fileIndex, Info(itself).fileIndex);
  std::wstring owner;
  EXPECT_EQ(0u, GetSecurityInfo(itself, &owner));
  EXPECT_EQ(fake::kUserSid, owner) << "what a test adds belongs to the user";
  for (Handle h : {itself, followed, direct}) Close(h);
  RemoveDirectoryW(link);
}
#endif

}  // namespace
