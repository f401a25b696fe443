// Platform contract for working through handles: what a handle is
// (GetFileInformationByHandleEx), a folder's listing through its handle,
// attribute changes and deletions through a handle
// (SetFileInformationByHandle), and an access list set through a handle
// (SetSecurityInfo). One source for the fake and for platform/win32 (run
// under Wine); where Wine answers differently from Windows the test says so
// and pins Wine's answer with the reason.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/security.h"
#include "tests/contract/on_wine.h"
#include "tests/contract/open_handles.h"

#include "tests/contract/native_calls.h"

#ifndef _WIN32
#include "platform/fake/fake.h"
#endif

namespace {

using namespace platform;

constexpr uint32_t kSentinel = 0xdeadbeef;
const bool kOnWine = RunningOnWine();
constexpr uint32_t kFolderAccess = kDelete | kFileListDirectory | kFileReadAttributes;
constexpr uint32_t kFileAccess = kDelete | kFileReadAttributes | kFileWriteAttributes;
constexpr uint32_t kShareReadWrite = kFileShareRead | kFileShareWrite;
constexpr uint32_t kNoFollow = kFileFlagBackupSemantics | kFileFlagOpenReparsePoint;

struct Result {
  bool ok;
  uint32_t lastError;
  bool operator==(const Result& other) const {
    return ok == other.ok && (ok || lastError == other.lastError);
  }
};
std::ostream& operator<<(std::ostream& out, const Result& r) {
  return out << (r.ok ? "succeeded" : "failed") << " (last error " << r.lastError << ")";
}
const Result kOk = {true, 0};
Result Fails(uint32_t code) { return {false, code}; }

template <typename Fn>
Result Call(Fn call) {
  SetLastError(kSentinel);
  bool ok = call();
  return {ok, GetLastError()};
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path) != kInvalidFileAttributes; }

void MakeFile(const std::wstring& path, uint32_t attributes = kFileAttributeNormal) {
  Handle h = CreateFileW(path, kGenericWrite, 0, kCreateAlways, kFileAttributeNormal);
  ASSERT_NE(kInvalidHandleValue, h) << "error " << GetLastError();
  uint32_t done = 0;
  ASSERT_TRUE(WriteFile(h, "x", 1, &done));
  CloseHandle(h);
  if (attributes != kFileAttributeNormal) {
    ASSERT_TRUE(SetFileAttributesW(path, attributes));
  }
}

class HandleWalkContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    fake::Reset();
#endif
    std::mt19937_64 random(static_cast<uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count()));
    base_ = GetTempPathW() + L"tsl-handle-" + std::to_wstring(random() % 1000000000);
    ASSERT_TRUE(CreateDirectoryW(base_)) << "error " << GetLastError();
  }
  void TearDown() override {
    open_.CloseAll();
    Clean(base_);
  }
  static void Clean(const std::wstring& folder) {
    FindData entry;
    Handle find = FindFirstFileW(folder + L"\\*", &entry);
    if (find != kInvalidHandleValue) {
      do {
        if (entry.fileName == L"." || entry.fileName == L"..") continue;
        std::wstring path = folder + L"\\" + entry.fileName;
        if (entry.fileAttributes & kFileAttributeDirectory) {
          Clean(path);
        } else {
          SetFileAttributesW(path, kFileAttributeNormal);
          DeleteFileW(path);
        }
      } while (FindNextFileW(find, &entry));
      FindClose(find);
    }
    RemoveDirectoryW(folder);
  }
  std::wstring At(const std::wstring& name) const { return base_ + L"\\" + name; }
  // Opens without following a link; closed at the end of the test.
  Handle Open(const std::wstring& path, uint32_t access, uint32_t share = kShareReadWrite) {
    Handle h = CreateFileW(path, access, share, kOpenExisting, kNoFollow);
    EXPECT_NE(kInvalidHandleValue, h) << "opening failed: " << GetLastError();
    return open_.Track(h);
  }
  void Close(Handle h) { open_.Close(h); }

  std::wstring base_;
  OpenHandles open_;
};

TEST_F(HandleWalkContractTest, WhatAHandleIs) {
  MakeFile(At(L"ro.txt"), kFileAttributeReadonly);
  MakeFile(At(L"one.txt"));
  ASSERT_EQ(0u, MakeHardLink(At(L"two.txt"), At(L"one.txt")));
  ASSERT_TRUE(CreateDirectoryW(At(L"dir")));
  struct Case {
    const char* name;
    std::wstring path;
    uint32_t attributes;  // of FILE_ATTRIBUTE_DIRECTORY, _READONLY, _REPARSE_POINT
    uint32_t links;
    bool directory;
  } cases[] = {
      {"a read-only file", At(L"ro.txt"), kFileAttributeReadonly, 1, false},
      {"a file with a second name", At(L"one.txt"), 0, 2, false},
      {"its second name", At(L"two.txt"), 0, 2, false},
      {"a folder", At(L"dir"), kFileAttributeDirectory, 1, true},
  };
  const uint32_t kShown = kFileAttributeDirectory | kFileAttributeReadonly | kFileAttributeReparsePoint;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Handle h = Open(c.path, kFileReadAttributes);
    FileAttributeTagInfo tag = {kSentinel, kSentinel};
    ASSERT_EQ(kOk, Call([&] { return GetFileInformationByHandleEx(h, &tag); }));
    EXPECT_EQ(c.attributes, tag.fileAttributes & kShown);
    EXPECT_EQ(0u, tag.reparseTag);
    FileStandardInfo standard = {-1, -1, kSentinel, true, !c.directory};
    ASSERT_EQ(kOk, Call([&] { return GetFileInformationByHandleEx(h, &standard); }));
    EXPECT_EQ(c.links, standard.numberOfLinks);
    EXPECT_EQ(c.directory, standard.directory);
    EXPECT_FALSE(standard.deletePending);
    Close(h);
  }
}

TEST_F(HandleWalkContractTest, ListingThroughTheHandle) {
  std::map<std::wstring, uint32_t> expected;
  for (int i = 0; i < 9; ++i) {
    std::wstring name = L"f" + std::to_wstring(i) + L".txt";
    MakeFile(At(name));
    expected[name] = 0;
  }
  MakeFile(At(L"ro.txt"), kFileAttributeReadonly);
  expected[L"ro.txt"] = kFileAttributeReadonly;
  ASSERT_TRUE(CreateDirectoryW(At(L"sub")));
  expected[L"sub"] = kFileAttributeDirectory;

  Handle folder = Open(base_, kFolderAccess);
  std::vector<FindData> all;
  uint32_t infoClass = kFileFullDirectoryRestartInfo;
  std::vector<FindData> page;
  Result r;
  for (int calls = 0; calls < 100; ++calls) {
    r = Call([&] { return GetFileInformationByHandleEx(folder, infoClass, &page); });
    if (!r.ok) break;
    all.insert(all.end(), page.begin(), page.end());
    infoClass = kFileFullDirectoryInfo;
  }
  EXPECT_EQ(Fails(kErrorNoMoreFiles), r) << "the end of the listing";
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(L".", all[0].fileName);
  EXPECT_EQ(L"..", all[1].fileName);
  std::map<std::wstring, uint32_t> got;
  for (size_t i = 2; i < all.size(); ++i) {
    EXPECT_EQ(0u, got.count(all[i].fileName)) << "twice";
    got[all[i].fileName] = all[i].fileAttributes & (kFileAttributeDirectory | kFileAttributeReadonly);
  }
  EXPECT_EQ(expected, got);

  // The restart class begins again from the first entry.
  ASSERT_EQ(kOk, Call([&] {
              return GetFileInformationByHandleEx(folder, kFileFullDirectoryRestartInfo, &page);
            }));
  ASSERT_FALSE(page.empty());
  EXPECT_EQ(L".", page[0].fileName);

  Handle file = Open(At(L"f0.txt"), kFolderAccess);
  page = {{kSentinel, L"sentinel"}};
  EXPECT_EQ(Fails(kErrorInvalidParameter), Call([&] {
              return GetFileInformationByHandleEx(file, kFileFullDirectoryRestartInfo, &page);
            })) << "a file is no folder";
  ASSERT_EQ(1u, page.size()) << "written on failure";
  EXPECT_EQ(L"sentinel", page[0].fileName);
}

TEST_F(HandleWalkContractTest, AttributesChangeThroughTheHandleForEveryName) {
  MakeFile(At(L"ro.txt"), kFileAttributeReadonly);
  ASSERT_EQ(0u, MakeHardLink(At(L"ro2.txt"), At(L"ro.txt")));
  Handle readOnlyAccess = Open(At(L"ro.txt"), kFileReadAttributes);
  FileBasicInfo normal = {0, 0, 0, 0, kFileAttributeNormal};
  Result r = Call([&] { return SetFileInformationByHandle(readOnlyAccess, normal); });
  Close(readOnlyAccess);
  if (kOnWine) {
    // Wine 8 does not check the handle's access for FileBasicInfo.
    EXPECT_EQ(kOk, r);
    ASSERT_TRUE(SetFileAttributesW(At(L"ro.txt"), kFileAttributeReadonly));
  } else {
    EXPECT_EQ(Fails(kErrorAccessDenied), r) << "without FILE_WRITE_ATTRIBUTES";
  }

  Handle h = Open(At(L"ro.txt"), kFileAccess);
  EXPECT_EQ(kOk, Call([&] { return SetFileInformationByHandle(h, normal); }));
  Close(h);
  EXPECT_EQ(0u, GetFileAttributesW(At(L"ro.txt")) & kFileAttributeReadonly);
  EXPECT_EQ(0u, GetFileAttributesW(At(L"ro2.txt")) & kFileAttributeReadonly)
      << "the other name shares the attributes";
}

TEST_F(HandleWalkContractTest, DeletionThroughTheHandle) {
  MakeFile(At(L"plain.txt"));
  MakeFile(At(L"ro.txt"), kFileAttributeReadonly);
  ASSERT_TRUE(CreateDirectoryW(At(L"full")));
  MakeFile(At(L"full\\x.txt"));
  ASSERT_TRUE(CreateDirectoryW(At(L"empty")));

  // FileDispositionInfo: the name goes when the last handle closes.
  Handle plain = Open(At(L"plain.txt"), kFileAccess);
  EXPECT_EQ(kOk, Call([&] { return SetFileInformationByHandle(plain, FileDispositionInfo{true}); }));
  EXPECT_TRUE(Exists(At(L"plain.txt"))) << "gone before the handle closed";
  Handle again = CreateFileW(At(L"plain.txt"), kFileReadAttributes, kShareReadWrite | kFileShareDelete,
                             kOpenExisting, kNoFollow);
  if (kOnWine) {
    // Wine 8 opens a file marked for deletion again (Windows answers
    // STATUS_DELETE_PENDING); the name still goes with the last handle.
    EXPECT_NE(kInvalidHandleValue, again);
  } else {
    EXPECT_EQ(kInvalidHandleValue, again) << "a file marked for deletion opened again";
    EXPECT_EQ(kErrorAccessDenied, GetLastError());
  }
  if (again != kInvalidHandleValue) CloseHandle(again);
  Close(plain);
  EXPECT_FALSE(Exists(At(L"plain.txt")));

  Handle ro = Open(At(L"ro.txt"), kFileAccess);
  EXPECT_EQ(Fails(kErrorAccessDenied),
            Call([&] { return SetFileInformationByHandle(ro, FileDispositionInfo{true}); }))
      << "a read-only file";
  Handle full = Open(At(L"full"), kFolderAccess);
  EXPECT_EQ(Fails(kErrorDirNotEmpty),
            Call([&] { return SetFileInformationByHandle(full, FileDispositionInfo{true}); }));
  Handle noDelete = Open(At(L"empty"), kFileListDirectory | kFileReadAttributes);
  EXPECT_EQ(Fails(kErrorAccessDenied),
            Call([&] { return SetFileInformationByHandle(noDelete, FileDispositionInfo{true}); }))
      << "without DELETE access";
  Close(noDelete);

  // FileDispositionInfoEx, POSIX semantics and ignoring the read-only mark:
  // the name goes at once and the mark is not needed off.
  FileDispositionInfoEx posix = {kFileDispositionFlagDelete | kFileDispositionFlagPosixSemantics |
                                 kFileDispositionFlagIgnoreReadonlyAttribute};
  Result r = Call([&] { return SetFileInformationByHandle(ro, posix); });
  if (kOnWine) {
    // Wine 8 has no FileDispositionInformationEx: callers fall back to
    // FileDispositionInfo.
    EXPECT_EQ(Fails(kErrorInvalidParameter), r);
    return;
  }
  EXPECT_EQ(kOk, r);
  EXPECT_FALSE(Exists(At(L"ro.txt"))) << "still there while the handle is open";
  Close(ro);
  Handle empty = Open(At(L"empty"), kFolderAccess);
  EXPECT_EQ(kOk, Call([&] { return SetFileInformationByHandle(empty, posix); }));
  EXPECT_FALSE(Exists(At(L"empty")));
  Close(empty);
}

TEST_F(HandleWalkContractTest, AnOpenFolderCannotBeTakenAway) {
  ASSERT_TRUE(CreateDirectoryW(At(L"dir")));
  MakeFile(At(L"dir\\held.txt"));
  Handle h = Open(At(L"dir"), kFolderAccess);
  EXPECT_EQ(Fails(kErrorSharingViolation),
            Call([&] { return MoveFileExW(At(L"dir"), At(L"moved"), 0); }));
  // Another program holding a file without delete sharing keeps this
  // program's delete access out.
  Handle other = CreateFileW(At(L"dir\\held.txt"), kGenericRead, kFileShareRead, kOpenExisting,
                             kFileAttributeNormal);
  ASSERT_NE(kInvalidHandleValue, other);
  EXPECT_EQ(kInvalidHandleValue,
            CreateFileW(At(L"dir\\held.txt"), kFileAccess, kShareReadWrite, kOpenExisting, kNoFollow));
  EXPECT_EQ(kErrorSharingViolation, GetLastError());
  CloseHandle(other);
  Close(h);
}

TEST_F(HandleWalkContractTest, AccessListSetThroughTheHandle) {
  const std::wstring sddl = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
  ASSERT_TRUE(CreateDirectoryW(At(L"own")));
  SecurityDescriptor descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, &descriptor))
      << GetLastError();
  const uint32_t what = kOwnerSecurityInformation | kDaclSecurityInformation |
                        kProtectedDaclSecurityInformation;

  Handle readOnly = Open(At(L"own"), kReadControl | kFileReadAttributes);
  EXPECT_EQ(kErrorAccessDenied, SetSecurityInfo(readOnly, what, descriptor))
      << "without WRITE_DAC and WRITE_OWNER";
  Close(readOnly);
  Handle h = Open(At(L"own"), kReadControl | kWriteDac | kWriteOwner | kFileReadAttributes);
  EXPECT_EQ(0u, SetSecurityInfo(h, what, descriptor));
  Close(h);
  LocalFree(descriptor);

  std::optional<std::wstring> got = SecurityOf(At(L"own"));
  ASSERT_TRUE(got.has_value());
  if (kOnWine) {
    // Wine 8 here keeps no access list of its own for a file: it answers
    // with one made from the Unix mode bits, owned by the user, so only the
    // SYSTEM entry can be read back.
    EXPECT_NE(std::wstring::npos, got->find(L"(A;OICI;FA;;;SY)")) << ::testing::PrintToString(*got);
    return;
  }
  EXPECT_EQ(sddl, *got);
}

}  // namespace
