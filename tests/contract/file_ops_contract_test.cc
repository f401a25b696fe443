// Temporary names, copies, folders with an access list and random bytes, as
// platform/file.h and platform/security.h promise them, on the fake and,
// built for Windows, for real (under Wine). Everything happens in a folder
// of its own inside the temporary folder, removed afterwards.
#include <gtest/gtest.h>

#include <cwctype>
#include <string>

#include "platform/file.h"
#include "platform/file_handle.h"
#include "platform/security.h"
#include "tests/contract/on_wine.h"

#ifndef _WIN32
#include "platform/fake/fake.h"
#endif

namespace {

using namespace platform;

constexpr uint32_t kSentinel = 0xDEADBEEF;
constexpr wchar_t kAdminOnly[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

std::wstring Lower(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

bool WriteWhole(const std::wstring& path, const std::string& bytes) {
  Handle file = CreateFileW(path, kGenericWrite, 0, kCreateAlways, kFileAttributeNormal);
  if (file == kInvalidHandleValue) return false;
  uint32_t done = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<uint32_t>(bytes.size()), &done);
  CloseHandle(file);
  return ok && done == bytes.size();
}

std::string ReadWhole(const std::wstring& path) {
  Handle file = CreateFileW(path, kGenericRead, kFileShareRead, kOpenExisting, kFileAttributeNormal);
  if (file == kInvalidHandleValue) return "<cannot open: " + std::to_string(GetLastError()) + ">";
  std::string out;
  char buffer[4096];
  uint32_t read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read) && read > 0) out.append(buffer, read);
  CloseHandle(file);
  return out;
}

class FileOpsContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    fake::Reset();
#endif
    unsigned char random[8];
    ASSERT_EQ(0u, BCryptGenRandom(random, sizeof(random)));
    std::wstring name = L"tsl-contract-";
    for (unsigned char b : random) name += L"0123456789abcdef"[b >> 4], name += L"0123456789abcdef"[b & 15];
    folder_ = GetTempPathW() + name;
    ASSERT_TRUE(CreateDirectoryW(folder_)) << "error " << GetLastError();
  }
  void TearDown() override {
    for (const auto& path : made_) {
      SetFileAttributesW(path, kFileAttributeNormal);
      DeleteFileW(path);
    }
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) RemoveDirectoryW(*it);
    EXPECT_TRUE(RemoveDirectoryW(folder_)) << "left behind, error " << GetLastError();
  }
  std::wstring File(const std::wstring& name) {
    made_.push_back(folder_ + L"\\" + name);
    return made_.back();
  }

  std::wstring folder_;
  std::vector<std::wstring> made_;
  std::vector<std::wstring> folders_;
};

TEST_F(FileOpsContractTest, TempFileNameReservesAnEmptyTmpFile) {
  std::wstring first = L"sentinel";
  uint32_t unique = GetTempFileNameW(folder_, L"TSLX", 0, &first);
  ASSERT_NE(0u, unique) << "error " << GetLastError();
  made_.push_back(first);
  // The case of the hex digits differs (Windows upper, Wine lower); neither
  // matters to a caller.
  std::wstring expectedStart = Lower(folder_ + L"\\TSL");
  EXPECT_EQ(expectedStart, Lower(first.substr(0, expectedStart.size())))
      << "only three prefix characters";
  EXPECT_EQ(L".tmp", Lower(first.substr(first.size() - 4)));
  std::wstring hex = first.substr(expectedStart.size(), first.size() - 4 - expectedStart.size());
  EXPECT_EQ(unique, std::wcstoul(hex.c_str(), nullptr, 16)) << "name carries the number";
  EXPECT_EQ("", ReadWhole(first)) << "an empty file is there";

  std::wstring second;
  ASSERT_NE(0u, GetTempFileNameW(folder_ + L"\\", L"TSL", 0, &second));
  made_.push_back(second);
  EXPECT_NE(Lower(first), Lower(second));
  EXPECT_EQ(Lower(folder_ + L"\\TSL"), Lower(second.substr(0, folder_.size() + 4)))
      << "a trailing backslash is not doubled";
}

TEST_F(FileOpsContractTest, TempFileNameFailures) {
  std::wstring name = L"untouched";
  SetLastError(kSentinel);
  EXPECT_EQ(0u, GetTempFileNameW(folder_ + L"\\missing", L"TSL", 0, &name));
  EXPECT_EQ(267u, GetLastError()) << "ERROR_DIRECTORY for a missing folder, got " << GetLastError();
  EXPECT_EQ(L"untouched", name);

  std::wstring file = File(L"plain.txt");
  ASSERT_TRUE(WriteWhole(file, "x"));
  SetLastError(kSentinel);
  EXPECT_EQ(0u, GetTempFileNameW(file, L"TSL", 0, &name));
  EXPECT_EQ(267u, GetLastError()) << "a file is no folder, got " << GetLastError();

  // The folder text may be at most MAX_PATH - 14 characters; a longer one is
  // refused before the folder is looked at (Wine 8 does not check, so the
  // layer does, and no platform writes past the MAX_PATH buffer).
  std::wstring longest = L"C:\\" + std::wstring(260 - 14 - 3, L'x');
  SetLastError(kSentinel);
  EXPECT_EQ(0u, GetTempFileNameW(longest, L"TSL", 0, &name));
  EXPECT_EQ(267u, GetLastError()) << "246 characters pass the length check, got " << GetLastError();
  SetLastError(kSentinel);
  EXPECT_EQ(0u, GetTempFileNameW(longest + L"x", L"TSL", 0, &name));
  EXPECT_EQ(111u, GetLastError()) << "247 characters, got " << GetLastError();
}

TEST_F(FileOpsContractTest, CopyFileResults) {
  std::wstring source = File(L"source.bin");
  std::wstring target = File(L"target.bin");
  std::string bytes(10000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31);
  ASSERT_TRUE(WriteWhole(source, bytes));

  EXPECT_TRUE(CopyFileW(source, target, false)) << "error " << GetLastError();
  EXPECT_EQ(bytes, ReadWhole(target));
  ASSERT_TRUE(WriteWhole(target, "older"));
  EXPECT_TRUE(CopyFileW(source, target, false)) << "overwrites, error " << GetLastError();
  EXPECT_EQ(bytes, ReadWhole(target));

  struct Row {
    const char* name;
    std::wstring from, to;
    bool failIfExists;
    uint32_t error;
  };
  const std::vector<Row> rows = {
      {"target exists, fail-if-exists", source, target, true, 80},
      {"missing source", folder_ + L"\\absent.bin", File(L"never.bin"), false, 2},
      {"source in a missing folder", folder_ + L"\\gone\\absent.bin", File(L"never2.bin"), false, 3},
      {"target in a missing folder", source, folder_ + L"\\gone\\target.bin", false, 3},
      {"onto itself", source, source, false, 32},
      {"onto a folder", source, folder_, false, 5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SetLastError(kSentinel);
    EXPECT_FALSE(CopyFileW(row.from, row.to, row.failIfExists));
    EXPECT_EQ(row.error, GetLastError()) << "got " << GetLastError();
  }
  EXPECT_EQ(bytes, ReadWhole(source)) << "source unharmed";

  ASSERT_TRUE(SetFileAttributesW(target, kFileAttributeReadonly));
  SetLastError(kSentinel);
  bool copied = CopyFileW(source, target, false);
  if (RunningOnWine()) {
    // Wine 8 replaces a read-only target; Windows refuses with 5.
    EXPECT_TRUE(copied) << "Wine now refuses, error " << GetLastError();
  } else {
    EXPECT_FALSE(copied);
    EXPECT_EQ(5u, GetLastError()) << "read-only target, got " << GetLastError();
  }

  Handle held = CreateFileW(source, kGenericRead, 0, kOpenExisting, kFileAttributeNormal);
  ASSERT_NE(kInvalidHandleValue, held);
  SetLastError(kSentinel);
  EXPECT_FALSE(CopyFileW(source, File(L"other.bin"), false));
  EXPECT_EQ(32u, GetLastError()) << "source held without sharing, got " << GetLastError();
  CloseHandle(held);
}

TEST_F(FileOpsContractTest, FolderWithAnAccessList) {
  SecurityDescriptor descriptor = reinterpret_cast<SecurityDescriptor>(uintptr_t{kSentinel});
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminOnly, &descriptor))
      << "error " << GetLastError();
  EXPECT_NE(nullptr, descriptor);
  std::wstring path = folder_ + L"\\private";
  EXPECT_TRUE(CreateDirectoryW(path, descriptor)) << "error " << GetLastError();
  folders_.push_back(path);
  EXPECT_EQ(kFileAttributeDirectory, GetFileAttributesW(path) & kFileAttributeDirectory);
  SetLastError(kSentinel);
  EXPECT_FALSE(CreateDirectoryW(path, descriptor));
  EXPECT_EQ(183u, GetLastError()) << "got " << GetLastError();
  SetLastError(kSentinel);
  EXPECT_FALSE(CreateDirectoryW(folder_ + L"\\gone\\private", descriptor));
  EXPECT_EQ(3u, GetLastError()) << "got " << GetLastError();
  LocalFree(descriptor);

  // As an administrator we can still work inside it.
  std::wstring inside;
  ASSERT_NE(0u, GetTempFileNameW(path, L"TSL", 0, &inside)) << "error " << GetLastError();
  made_.push_back(inside);
}

TEST_F(FileOpsContractTest, MalformedAccessListIsRefused) {
  SecurityDescriptor descriptor = reinterpret_cast<SecurityDescriptor>(uintptr_t{kSentinel});
  SetLastError(kSentinel);
  EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;BA)", &descriptor));
  EXPECT_EQ(1336u, GetLastError()) << "ERROR_INVALID_ACL, got " << GetLastError();
  EXPECT_EQ(nullptr, descriptor);
}

TEST_F(FileOpsContractTest, RandomBytesDifferFromCallToCall) {
  unsigned char a[16], b[16];
  std::fill(std::begin(a), std::end(a), 0xEF);
  std::fill(std::begin(b), std::end(b), 0xEF);
  EXPECT_EQ(0u, BCryptGenRandom(a, sizeof(a)));
  EXPECT_EQ(0u, BCryptGenRandom(b, sizeof(b)));
  EXPECT_NE(std::string(std::begin(a), std::end(a)), std::string(16, '\xEF')) << "written";
  EXPECT_NE(std::string(std::begin(a), std::end(a)), std::string(std::begin(b), std::end(b)));
}

}  // namespace

namespace {

// A folder handle held without FILE_SHARE_DELETE pins the folder in place:
// the private folder a runtime installer runs from relies on it.
TEST_F(FileOpsContractTest, HeldFolderCannotBeRenamedOrRemoved) {
  std::wstring held = folder_ + L"\\held";
  std::wstring renamed = folder_ + L"\\renamed";
  ASSERT_TRUE(CreateDirectoryW(held)) << "error " << GetLastError();

  SetLastError(kSentinel);
  EXPECT_EQ(kInvalidHandleValue,
            CreateFileW(held, kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting,
                        kFileAttributeNormal));
  EXPECT_EQ(kErrorAccessDenied, GetLastError()) << "a folder without backup semantics";

  Handle handle = CreateFileW(held, kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting,
                              kFileFlagBackupSemantics);
  ASSERT_NE(kInvalidHandleValue, handle) << "error " << GetLastError();

  SetLastError(kSentinel);
  EXPECT_FALSE(MoveFileExW(held, renamed, 0));
  EXPECT_EQ(kErrorSharingViolation, GetLastError()) << "rename while held";
  SetLastError(kSentinel);
  EXPECT_FALSE(RemoveDirectoryW(held));
  EXPECT_EQ(kErrorSharingViolation, GetLastError()) << "remove while held";
  EXPECT_NE(kInvalidFileAttributes, GetFileAttributesW(held));

  // Files inside can still be made and deleted while the folder is held.
  std::wstring inner = held + L"\\inner.bin";
  EXPECT_TRUE(WriteWhole(inner, "x"));
  EXPECT_TRUE(DeleteFileW(inner)) << "error " << GetLastError();

  EXPECT_TRUE(CloseHandle(handle));
  EXPECT_TRUE(MoveFileExW(held, renamed, 0)) << "error " << GetLastError();
  EXPECT_TRUE(RemoveDirectoryW(renamed)) << "error " << GetLastError();
}

// A file staged for a swap: while one handle on it has delete access,
// whoever else opens it must share delete, so a reader cannot keep it from
// being renamed into place. The writing handle is traded for a hold that
// shares no writing through a bridge, with no moment between them.
TEST_F(FileOpsContractTest, FileHeldWithDeleteAccessCanOnlyBeOpenedSharingDelete) {
  const std::wstring staged = File(L"staged.bin");
  const std::wstring installed = File(L"installed.bin");
  ASSERT_TRUE(WriteWhole(installed, "old"));
  const uint32_t readDelete = kGenericRead | kDelete;
  const uint32_t shareReadDelete = kFileShareRead | kFileShareDelete;
  const uint32_t shareAll = shareReadDelete | kFileShareWrite;
  auto refused = [&](uint32_t access, uint32_t share, const char* what) {
    SetLastError(kSentinel);
    Handle other = CreateFileW(staged, access, share, kOpenExisting, kFileAttributeNormal);
    EXPECT_EQ(kInvalidHandleValue, other) << what;
    EXPECT_EQ(kErrorSharingViolation, GetLastError()) << what;
    if (other != kInvalidHandleValue) CloseHandle(other);
  };

  Handle written = CreateFileW(staged, kGenericWrite | kDelete, shareReadDelete, kCreateAlways,
                               kFileAttributeNormal);
  ASSERT_NE(kInvalidHandleValue, written) << "error " << GetLastError();
  uint32_t done = 0;
  EXPECT_TRUE(WriteFile(written, "new", 3, &done));
  refused(kGenericRead, kFileShareRead, "a reader sharing only reading, while written");
  refused(kGenericRead, shareAll & ~kFileShareDelete, "a reader not sharing delete, while written");
  Handle reader = CreateFileW(staged, kGenericRead, shareAll, kOpenExisting, kFileAttributeNormal);
  EXPECT_NE(kInvalidHandleValue, reader) << "a reader sharing everything: error " << GetLastError();

  Handle bridge = CreateFileW(staged, readDelete, shareAll, kOpenExisting, kFileAttributeNormal);
  ASSERT_NE(kInvalidHandleValue, bridge) << "error " << GetLastError();
  EXPECT_TRUE(CloseHandle(written));
  refused(kGenericRead, kFileShareRead, "a reader sharing only reading, bridged");
  Handle hold = CreateFileW(staged, readDelete, shareReadDelete, kOpenExisting, kFileAttributeNormal);
  ASSERT_NE(kInvalidHandleValue, hold) << "error " << GetLastError();
  EXPECT_TRUE(CloseHandle(bridge));
  refused(kGenericRead, kFileShareRead, "a reader sharing only reading, held");
  refused(kGenericWrite, shareAll, "a writer, held");

  // The rename by path goes through, the hold and the reader open.
  EXPECT_TRUE(MoveFileExW(staged, installed, kMovefileReplaceExisting | kMovefileWriteThrough))
      << "error " << GetLastError();
  EXPECT_TRUE(CloseHandle(hold));
  if (reader != kInvalidHandleValue) CloseHandle(reader);
  EXPECT_EQ("new", ReadWhole(installed));
  EXPECT_EQ(kInvalidFileAttributes, GetFileAttributesW(staged));
}

}  // namespace
