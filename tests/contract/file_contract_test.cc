// Platform contract for the file-system operations of platform/file.h and
// platform/types.h. The same source runs on the host against the fake and on
// Windows (here: under Wine) against platform/win32, so that the fake keeps
// doing what Windows does. Each test works in a fresh folder of its own under
// GetTempPathW. Where Wine answers differently from Windows, the test says so
// ("Wine difference", under kRunningUnderWine or kWineAsUnixRoot) and pins
// Wine's answer with the reason, keeping the Windows expectation for Windows
// and the fake.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/types.h"
#include "tests/contract/on_wine.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using platform::Handle;
using platform::kInvalidHandleValue;

constexpr uint32_t kSentinel = 0xdeadbeef;

constexpr uint32_t kShareNone = 0;
constexpr uint32_t kShareAll =
    platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete;
constexpr uint32_t kReadWrite = platform::kGenericRead | platform::kGenericWrite;

const bool kRunningUnderWine = RunningOnWine();

// Whether Wine runs as the Unix superuser. Wine maps Z: to the Unix root, so
// the process's own /proc entry names its Unix user.
bool DetectWineAsUnixRoot() {
#ifdef _WIN32
  if (!kRunningUnderWine) return false;
  HANDLE status =
      ::CreateFileW(L"Z:\\proc\\self\\status", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (status == INVALID_HANDLE_VALUE) return false;
  char text[4096];
  DWORD size = 0;
  BOOL read = ::ReadFile(status, text, sizeof text - 1, &size, nullptr);
  ::CloseHandle(status);
  if (!read) return false;
  text[size] = 0;
  // "Uid:" is followed by the real, effective, saved and file-system uids.
  const char* uid = std::strstr(text, "\nUid:\t");
  return uid != nullptr && std::strncmp(uid + 6, "0\t", 2) == 0;
#else
  return false;
#endif
}

const bool kWineAsUnixRoot = DetectWineAsUnixRoot();

// States once, before the tests, which of the expectations above apply.
class PlatformReport : public ::testing::Environment {
 public:
  void SetUp() override {
    std::printf("file contract: %s%s\n", Platform().c_str(),
                kWineAsUnixRoot ? ", as Unix root" : "");
  }

 private:
  static std::string Platform() {
#ifdef _WIN32
    if (!kRunningUnderWine) return "Windows";
    auto version = reinterpret_cast<const char* (*)()>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
    return std::string("Wine ") + version();
#else
    return "the in-memory fake";
#endif
  }
};

::testing::Environment* const kPlatformReport =
    ::testing::AddGlobalTestEnvironment(new PlatformReport);

// Wine difference: Wine 8 derives a file's attributes from the Unix file
// (dlls/ntdll/unix/file.c, get_file_attributes): ARCHIVE for every regular
// file, READONLY from the mode bits, and only HIDDEN and SYSTEM kept in an
// extended attribute. A file without ARCHIVE cannot exist there, so where
// Windows reports READONLY (0x1) or NORMAL (0x80), Wine reports 0x21 or 0x20.
uint32_t FileAttributesAsReported(uint32_t onWindows) {
  if (!kRunningUnderWine) return onWindows;
  return (onWindows & ~platform::kFileAttributeNormal) | platform::kFileAttributeArchive;
}

const char* ErrorName(uint32_t code) {
  switch (code) {
    case platform::kErrorSuccess: return "ERROR_SUCCESS";
    case platform::kErrorFileNotFound: return "ERROR_FILE_NOT_FOUND";
    case platform::kErrorPathNotFound: return "ERROR_PATH_NOT_FOUND";
    case platform::kErrorAccessDenied: return "ERROR_ACCESS_DENIED";
    case platform::kErrorInvalidHandle: return "ERROR_INVALID_HANDLE";
    case platform::kErrorSharingViolation: return "ERROR_SHARING_VIOLATION";
    case platform::kErrorFileExists: return "ERROR_FILE_EXISTS";
    case platform::kErrorInvalidParameter: return "ERROR_INVALID_PARAMETER";
    case platform::kErrorInvalidName: return "ERROR_INVALID_NAME";
    case platform::kErrorDirNotEmpty: return "ERROR_DIR_NOT_EMPTY";
    case platform::kErrorAlreadyExists: return "ERROR_ALREADY_EXISTS";
    case platform::kErrorDirectory: return "ERROR_DIRECTORY";
    case kSentinel: return "0xdeadbeef sentinel, not set";
    default: return "?";
  }
}

std::string Code(uint32_t code) { return std::to_string(code) + " (" + ErrorName(code) + ")"; }

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

std::string Show(const std::wstring& path) { return ::testing::PrintToString(path); }

// What a call did: whether it succeeded, and the last error right after it
// (the sentinel when the call left it alone).
struct Result {
  bool ok;
  uint32_t lastError;
};

std::ostream& operator<<(std::ostream& out, const Result& result) {
  return out << (result.ok ? "succeeded, last error " : "failed, last error ")
             << Code(result.lastError);
}

// What a call should do. A success without a stated last error leaves the
// last error unchecked: Windows documents none for it.
struct Expected {
  bool ok;
  std::optional<uint32_t> lastError;
};

Expected Fails(uint32_t code) { return {false, code}; }
Expected Succeeds() { return {true, std::nullopt}; }
Expected SucceedsWithLastError(uint32_t code) { return {true, code}; }

std::ostream& operator<<(std::ostream& out, const Expected& expected) {
  out << (expected.ok ? "succeeds" : "fails");
  if (expected.lastError) out << ", last error " << Code(*expected.lastError);
  return out;
}

bool operator==(const Expected& expected, const Result& result) {
  return expected.ok == result.ok &&
         (!expected.lastError || *expected.lastError == result.lastError);
}

// Runs a platform call that reports success as bool, with the last error
// pre-set to the sentinel.
template <typename Function>
Result Call(Function call) {
  platform::SetLastError(kSentinel);
  bool ok = call();
  return {ok, platform::GetLastError()};
}

Result DeleteFile(const std::wstring& path) {
  return Call([&] { return platform::DeleteFileW(path); });
}
Result RemoveDirectory(const std::wstring& path) {
  return Call([&] { return platform::RemoveDirectoryW(path); });
}
Result CreateDirectory(const std::wstring& path) {
  return Call([&] { return platform::CreateDirectoryW(path); });
}
Result SetAttributes(const std::wstring& path, uint32_t attributes) {
  return Call([&] { return platform::SetFileAttributesW(path, attributes); });
}
Result GetAttributes(const std::wstring& path) {
  return Call(
      [&] { return platform::GetFileAttributesW(path) != platform::kInvalidFileAttributes; });
}

// A CreateFileW result; closes its handle when it goes out of scope.
class OpenedFile {
 public:
  OpenedFile(const std::wstring& path, uint32_t access, uint32_t share, uint32_t disposition,
             uint32_t attributes = platform::kFileAttributeNormal) {
    platform::SetLastError(kSentinel);
    handle_ = platform::CreateFileW(path, access, share, disposition, attributes);
    lastError_ = platform::GetLastError();
  }
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;
  ~OpenedFile() { Close(); }

  bool ok() const { return handle_ != kInvalidHandleValue; }
  Handle handle() const { return handle_; }
  Result result() const { return {ok(), lastError_}; }

  Result Close() {
    if (!ok()) return {true, kSentinel};
    Result closed = Call([&] { return platform::CloseHandle(handle_); });
    handle_ = kInvalidHandleValue;
    return closed;
  }

 private:
  Handle handle_ = kInvalidHandleValue;
  uint32_t lastError_ = kSentinel;
};

// Reads to the end of the file; nullopt (and a test failure) when the file
// cannot be opened for reading or a read fails.
std::optional<std::string> ReadAll(const std::wstring& path) {
  OpenedFile file(path, platform::kGenericRead, kShareAll, platform::kOpenExisting);
  EXPECT_EQ(Succeeds(), file.result()) << "opening " << Show(path) << " to read it";
  if (!file.ok()) return std::nullopt;
  std::string content;
  for (;;) {
    char buffer[7];  // small, so that several reads are needed
    uint32_t done = kSentinel;
    bool ok = platform::ReadFile(file.handle(), buffer, sizeof buffer, &done);
    EXPECT_TRUE(ok) << "ReadFile of " << Show(path) << ": last error "
                    << Code(platform::GetLastError());
    if (!ok) return std::nullopt;
    EXPECT_LE(done, sizeof buffer) << "ReadFile of " << Show(path) << " gave done=" << Hex(done);
    if (done == 0 || done > sizeof buffer) break;
    content.append(buffer, done);
  }
  return content;
}

class FileContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::wstring temp = platform::GetTempPathW();
    ASSERT_FALSE(temp.empty()) << "GetTempPathW failed: " << Code(platform::GetLastError());
    std::random_device device;
    std::mt19937_64 random(
        (uint64_t{device()} << 32) ^ device() ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 5; ++attempt) {
      wchar_t name[64];
      std::swprintf(name, 64, L"tsl-contract-%016llx", static_cast<unsigned long long>(random()));
      std::wstring candidate = temp + name;
      Result made = CreateDirectory(candidate);
      if (made.ok) {
        root_ = candidate + L"\\";
        return;
      }
      ASSERT_EQ(Fails(platform::kErrorAlreadyExists), made) << Show(candidate);
    }
    FAIL() << "no free folder name under " << Show(temp);
  }

  // Removes whatever the test made through Path(), deepest first, then the
  // test's folder; that last removal failing means something was left
  // behind or held open.
  void TearDown() override {
    if (root_.empty()) return;
    std::vector<std::wstring> paths = made_;
    std::sort(paths.begin(), paths.end(),
              [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    for (const std::wstring& path : paths) {
      uint32_t attributes = platform::GetFileAttributesW(path);
      if (attributes == platform::kInvalidFileAttributes) continue;
      platform::SetFileAttributesW(path, platform::kFileAttributeNormal);
      if (attributes & platform::kFileAttributeDirectory) {
        platform::RemoveDirectoryW(path);
      } else {
        platform::DeleteFileW(path);
      }
    }
    EXPECT_EQ(Succeeds(), RemoveDirectory(root_)) << "removing the test folder " << Show(root_);
  }

  // A path in the test's folder, remembered for clean-up.
  std::wstring Path(const std::wstring& relative) {
    made_.push_back(root_ + relative);
    return made_.back();
  }

  // Creates a file with the content the way the installer writes one.
  void MakeFile(const std::wstring& path, const std::string& content) {
    OpenedFile file(path, platform::kGenericWrite, kShareNone, platform::kCreateNew);
    ASSERT_EQ(SucceedsWithLastError(platform::kErrorSuccess), file.result())
        << "creating " << Show(path);
    uint32_t done = kSentinel;
    ASSERT_TRUE(platform::WriteFile(file.handle(), content.data(),
                                    static_cast<uint32_t>(content.size()), &done))
        << "writing " << Show(path) << ": last error " << Code(platform::GetLastError());
    ASSERT_EQ(content.size(), done) << "bytes written to " << Show(path);
    ASSERT_EQ(Succeeds(), file.Close()) << "closing " << Show(path);
  }

  std::wstring root_;  // ends in a backslash
  std::vector<std::wstring> made_;
};

TEST_F(FileContractTest, TempPathIsAnExistingFolderEndingInBackslash) {
  std::wstring temp = platform::GetTempPathW();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(L'\\', temp.back()) << Show(temp);
  uint32_t attributes = platform::GetFileAttributesW(temp);
  EXPECT_NE(platform::kInvalidFileAttributes, attributes)
      << Show(temp) << ": last error " << Code(platform::GetLastError());
  EXPECT_TRUE(attributes & platform::kFileAttributeDirectory)
      << Show(temp) << " " << Hex(attributes);
}

// Windows compares names without regard to case and takes '/' for '\'.
TEST_F(FileContractTest, PathsAreCaseInsensitive) {
  ASSERT_EQ(Succeeds(), CreateDirectory(Path(L"Data")));
  std::wstring original = Path(L"Data\\MixedCase.Txt");
  ASSERT_NO_FATAL_FAILURE(MakeFile(original, "payload"));

  const wchar_t* const kSpellings[] = {
      L"data\\mixedcase.txt",
      L"DATA\\MIXEDCASE.TXT",
      L"dAtA\\mIxEdCaSe.tXt",
      L"Data/MixedCase.Txt",
  };
  for (const wchar_t* spelling : kSpellings) {
    std::wstring path = Path(spelling);
    SCOPED_TRACE(Show(path));
    uint32_t attributes = platform::GetFileAttributesW(path);
    EXPECT_EQ(Hex(platform::kFileAttributeArchive), Hex(attributes))
        << "last error " << Code(platform::GetLastError());
    EXPECT_EQ("payload", ReadAll(path).value_or("<unreadable>"));
    OpenedFile again(path, platform::kGenericWrite, kShareNone, platform::kCreateNew);
    EXPECT_EQ(Fails(platform::kErrorFileExists), again.result()) << "CREATE_NEW";
  }

  EXPECT_EQ(Fails(platform::kErrorAlreadyExists), CreateDirectory(Path(L"DATA")));
  EXPECT_EQ(Succeeds(),
            SetAttributes(Path(L"data\\MIXEDCASE.txt"), platform::kFileAttributeReadonly));
  EXPECT_EQ(Hex(FileAttributesAsReported(platform::kFileAttributeReadonly)),
            Hex(platform::GetFileAttributesW(original)))
      << "read-only set through another spelling";
  EXPECT_EQ(Succeeds(),
            SetAttributes(Path(L"DATA\\mixedcase.TXT"), platform::kFileAttributeNormal));
  EXPECT_EQ(Succeeds(), DeleteFile(Path(L"DATA\\MIXEDCASE.TXT")));
  EXPECT_EQ(Fails(platform::kErrorFileNotFound), GetAttributes(original));
  EXPECT_EQ(Succeeds(), RemoveDirectory(Path(L"dAtA")));
  EXPECT_EQ(Fails(platform::kErrorFileNotFound), GetAttributes(Path(L"Data")));
}

// 2 when only the last component is missing, 3 when a folder on the way is.
TEST_F(FileContractTest, MissingFileVersusMissingFolder) {
  struct Row {
    const char* call;
    Result (*run)(const std::wstring& path);
  };
  const Row kRows[] = {
      {"CreateFileW OPEN_EXISTING",
       [](const std::wstring& path) {
         OpenedFile file(path, platform::kGenericRead, kShareAll, platform::kOpenExisting);
         return file.result();
       }},
      {"CreateFileW TRUNCATE_EXISTING",
       [](const std::wstring& path) {
         OpenedFile file(path, platform::kGenericWrite, kShareAll, platform::kTruncateExisting);
         return file.result();
       }},
      {"DeleteFileW", DeleteFile},
      {"GetFileAttributesW", GetAttributes},
      {"SetFileAttributesW",
       [](const std::wstring& path) {
         return SetAttributes(path, platform::kFileAttributeNormal);
       }},
      {"RemoveDirectoryW", RemoveDirectory},
  };
  ASSERT_EQ(Succeeds(), CreateDirectory(Path(L"present")));
  const struct {
    const wchar_t* path;
    uint32_t error;
  } kPaths[] = {
      {L"missing", platform::kErrorFileNotFound},
      {L"present\\missing.txt", platform::kErrorFileNotFound},
      {L"absent\\missing.txt", platform::kErrorPathNotFound},
      {L"absent\\deeper\\missing.txt", platform::kErrorPathNotFound},
      {L"present\\absent\\missing", platform::kErrorPathNotFound},
  };
  for (const Row& row : kRows) {
    for (const auto& missing : kPaths) {
      std::wstring path = Path(missing.path);
      SCOPED_TRACE(std::string(row.call) + " " + Show(path));
      EXPECT_EQ(Fails(missing.error), row.run(path));
    }
  }
}

// Calls that create an object fail with 3 when its folder is missing.
TEST_F(FileContractTest, CreatingInMissingFolderFailsWithPathNotFound) {
  const struct {
    const char* call;
    uint32_t disposition;
  } kDispositions[] = {
      {"CREATE_NEW", platform::kCreateNew},
      {"CREATE_ALWAYS", platform::kCreateAlways},
      {"OPEN_ALWAYS", platform::kOpenAlways},
  };
  std::wstring path = Path(L"absent\\new.txt");
  for (const auto& row : kDispositions) {
    SCOPED_TRACE(row.call);
    OpenedFile file(path, platform::kGenericWrite, kShareNone, row.disposition);
    EXPECT_EQ(Fails(platform::kErrorPathNotFound), file.result()) << Show(path);
  }
  EXPECT_EQ(Fails(platform::kErrorPathNotFound), CreateDirectory(Path(L"absent\\new")));
  EXPECT_EQ(Fails(platform::kErrorFileNotFound), GetAttributes(Path(L"absent")));
}

TEST_F(FileContractTest, ReadOnlyFileCannotBeDeletedUntilTheAttributeIsCleared) {
  std::wstring path = Path(L"readonly.txt");
  ASSERT_NO_FATAL_FAILURE(MakeFile(path, "keep"));
  ASSERT_EQ(Succeeds(), SetAttributes(path, platform::kFileAttributeReadonly));

  EXPECT_EQ(Fails(platform::kErrorAccessDenied), DeleteFile(path));
  {
    OpenedFile writer(path, platform::kGenericWrite, kShareAll, platform::kOpenExisting);
    OpenedFile replacer(path, platform::kGenericWrite, kShareAll, platform::kCreateAlways);
    if (kWineAsUnixRoot) {
      // Wine difference, as Unix root only: Wine leaves the read-only check of
      // an open for writing to the Unix open(), which root always passes. Run
      // as an ordinary user (uid 65534) the same build gives 5 here, as
      // Windows does. Its DeleteFileW checks the mode itself and is right.
      EXPECT_EQ(Succeeds(), writer.result()) << "open for writing (Wine as root)";
      EXPECT_EQ(SucceedsWithLastError(platform::kErrorAlreadyExists), replacer.result())
          << "CREATE_ALWAYS (Wine as root)";
    } else {
      EXPECT_EQ(Fails(platform::kErrorAccessDenied), writer.result()) << "open for writing";
      EXPECT_EQ(Fails(platform::kErrorAccessDenied), replacer.result()) << "CREATE_ALWAYS";
    }
  }
  EXPECT_EQ(kWineAsUnixRoot ? "" : "keep", ReadAll(path).value_or("<unreadable>"));

  ASSERT_EQ(Succeeds(), SetAttributes(path, platform::kFileAttributeNormal));
  EXPECT_EQ(Succeeds(), DeleteFile(path));
  EXPECT_EQ(Fails(platform::kErrorFileNotFound), GetAttributes(path));
}

TEST_F(FileContractTest, FileHeldWithoutSharingCannotBeOpenedDeletedOrReplaced) {
  std::wstring path = Path(L"held.txt");
  ASSERT_NO_FATAL_FAILURE(MakeFile(path, "held content"));
  OpenedFile holder(path, platform::kGenericRead, kShareNone, platform::kOpenExisting);
  ASSERT_EQ(Succeeds(), holder.result());

  {
    OpenedFile reader(path, platform::kGenericRead, kShareAll, platform::kOpenExisting);
    EXPECT_EQ(Fails(platform::kErrorSharingViolation), reader.result()) << "second reader";
    OpenedFile writer(path, platform::kGenericWrite, kShareAll, platform::kOpenExisting);
    EXPECT_EQ(Fails(platform::kErrorSharingViolation), writer.result()) << "writer";
    OpenedFile replacer(path, platform::kGenericWrite, kShareNone, platform::kCreateAlways);
    EXPECT_EQ(Fails(platform::kErrorSharingViolation), replacer.result()) << "CREATE_ALWAYS";
    OpenedFile opener(path, platform::kGenericWrite, kShareAll, platform::kOpenAlways);
    EXPECT_EQ(Fails(platform::kErrorSharingViolation), opener.result()) << "OPEN_ALWAYS";
  }
  EXPECT_EQ(Fails(platform::kErrorSharingViolation), DeleteFile(path));
  EXPECT_NE(platform::kInvalidFileAttributes, platform::GetFileAttributesW(path))
      << "attributes stay readable: " << Code(platform::GetLastError());

  ASSERT_EQ(Succeeds(), holder.Close());
  EXPECT_EQ("held content", ReadAll(path).value_or("<unreadable>")) << "nothing was truncated";
  EXPECT_EQ(Succeeds(), DeleteFile(path));
}

// A second open must allow the first one's access and ask for nothing the
// first one's sharing forbids.
TEST_F(FileContractTest, SharingModesOfTwoOpens) {
  using platform::kFileShareDelete;
  using platform::kFileShareRead;
  using platform::kFileShareWrite;
  using platform::kGenericRead;
  using platform::kGenericWrite;
  const struct {
    const char* name;
    uint32_t heldAccess, heldShare;
    uint32_t access, share;
    bool allowed;
  } kRows[] = {
      {"reader sharing read, second reader", kGenericRead, kFileShareRead, kGenericRead,
       kFileShareRead, true},
      {"reader sharing read, writer", kGenericRead, kFileShareRead, kGenericWrite,
       kFileShareRead | kFileShareWrite, false},
      {"reader sharing read, reader not sharing", kGenericRead, kFileShareRead, kGenericRead,
       kShareNone, false},
      {"reader sharing read+write, writer", kGenericRead, kFileShareRead | kFileShareWrite,
       kGenericWrite, kFileShareRead | kFileShareWrite, true},
      {"reader sharing read+write, writer not sharing read", kGenericRead,
       kFileShareRead | kFileShareWrite, kGenericWrite, kFileShareWrite, false},
      {"reader sharing write only, writer sharing read", kGenericRead, kFileShareWrite,
       kGenericWrite, kFileShareRead, true},
      {"reader sharing write only, second reader", kGenericRead, kFileShareWrite, kGenericRead,
       kShareAll, false},
      {"writer sharing read, reader sharing read", kGenericWrite, kFileShareRead, kGenericRead,
       kFileShareRead, false},
      {"writer sharing read, reader sharing read+write", kGenericWrite, kFileShareRead,
       kGenericRead, kFileShareRead | kFileShareWrite, true},
      {"writer sharing read, second writer", kGenericWrite, kFileShareRead, kGenericWrite,
       kShareAll, false},
      {"writer sharing nothing, reader sharing all", kGenericWrite, kShareNone, kGenericRead,
       kShareAll, false},
      {"reader sharing delete only, second reader", kGenericRead, kFileShareDelete, kGenericRead,
       kShareAll, false},
      {"read+write sharing all, read+write sharing all", kReadWrite, kShareAll, kReadWrite,
       kShareAll, true},
      {"read+write sharing all, reader sharing read", kReadWrite, kShareAll, kGenericRead,
       kFileShareRead, false},
  };
  int index = 0;
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    std::wstring path = Path(L"shared" + std::to_wstring(index++) + L".txt");
    ASSERT_NO_FATAL_FAILURE(MakeFile(path, "x"));
    OpenedFile held(path, row.heldAccess, row.heldShare, platform::kOpenExisting);
    ASSERT_EQ(Succeeds(), held.result()) << "first open";
    OpenedFile second(path, row.access, row.share, platform::kOpenExisting);
    EXPECT_EQ(row.allowed ? Succeeds() : Fails(platform::kErrorSharingViolation), second.result())
        << "second open";
  }
}

// DeleteFileW of a file someone holds open succeeds only when that open
// shares delete; the file goes away once the last handle is closed.
TEST_F(FileContractTest, DeleteOfAnOpenFileNeedsShareDelete) {
  using platform::kFileShareDelete;
  using platform::kFileShareRead;
  using platform::kFileShareWrite;
  const struct {
    const char* name;
    uint32_t heldAccess, heldShare;
    bool allowed;
  } kRows[] = {
      {"reader sharing nothing", platform::kGenericRead, kShareNone, false},
      {"reader sharing read", platform::kGenericRead, kFileShareRead, false},
      {"reader sharing read+write", platform::kGenericRead, kFileShareRead | kFileShareWrite,
       false},
      {"reader sharing delete", platform::kGenericRead, kFileShareDelete, true},
      {"reader sharing read+delete", platform::kGenericRead, kFileShareRead | kFileShareDelete,
       true},
      {"writer sharing read+write", platform::kGenericWrite, kFileShareRead | kFileShareWrite,
       false},
      {"writer sharing all", platform::kGenericWrite, kShareAll, true},
  };
  int index = 0;
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    std::wstring path = Path(L"deleted" + std::to_wstring(index++) + L".txt");
    ASSERT_NO_FATAL_FAILURE(MakeFile(path, "x"));
    OpenedFile held(path, row.heldAccess, row.heldShare, platform::kOpenExisting);
    ASSERT_EQ(Succeeds(), held.result()) << "holding it open";
    EXPECT_EQ(row.allowed ? Succeeds() : Fails(platform::kErrorSharingViolation), DeleteFile(path));
    // While the handle is open, Windows versions differ: the name is either
    // gone at once (POSIX delete semantics) or pending deletion. Only the
    // state after the last close is the same everywhere.
    ASSERT_EQ(Succeeds(), held.Close());
    EXPECT_EQ(row.allowed ? Fails(platform::kErrorFileNotFound) : Succeeds(), GetAttributes(path))
        << "after closing";
  }
}

TEST_F(FileContractTest, RemoveDirectoryErrors) {
  ASSERT_EQ(Succeeds(), CreateDirectory(Path(L"with-file")));
  ASSERT_NO_FATAL_FAILURE(MakeFile(Path(L"with-file\\inside.txt"), "x"));
  ASSERT_EQ(Succeeds(), CreateDirectory(Path(L"with-folder")));
  ASSERT_EQ(Succeeds(), CreateDirectory(Path(L"with-folder\\inside")));
  ASSERT_NO_FATAL_FAILURE(MakeFile(Path(L"a-file.txt"), "x"));

  const struct {
    const wchar_t* path;
    uint32_t error;
  } kRows[] = {
      {L"with-file", platform::kErrorDirNotEmpty},
      {L"with-folder", platform::kErrorDirNotEmpty},
      {L"missing", platform::kErrorFileNotFound},
      {L"missing\\deeper", platform::kErrorPathNotFound},
      {L"a-file.txt", platform::kErrorDirectory},
  };
  for (const auto& row : kRows) {
    std::wstring path = Path(row.path);
    SCOPED_TRACE(Show(path));
    EXPECT_EQ(Fails(row.error), RemoveDirectory(path));
    EXPECT_EQ(row.error == platform::kErrorDirNotEmpty || row.error == platform::kErrorDirectory,
              platform::GetFileAttributesW(path) != platform::kInvalidFileAttributes)
        << "still there after the failed removal";
  }

  EXPECT_EQ(Succeeds(), RemoveDirectory(Path(L"with-folder\\inside\\")))
      << "an empty folder, spelled with a trailing backslash";
  EXPECT_EQ(Succeeds(), RemoveDirectory(Path(L"with-folder")));
  EXPECT_EQ(Fails(platform::kErrorFileNotFound), GetAttributes(Path(L"with-folder")));
}

TEST_F(FileContractTest, CreateDirectoryErrors) {
  std::wstring folder = Path(L"folder");
  ASSERT_EQ(Succeeds(), CreateDirectory(folder));
  uint32_t attributes = platform::GetFileAttributesW(folder);
  // Only the bits this program looks at: real Windows may add inherited
  // ones such as NOT_CONTENT_INDEXED.
  EXPECT_EQ(Hex(platform::kFileAttributeDirectory),
            Hex(attributes & (platform::kFileAttributeDirectory | platform::kFileAttributeReadonly |
                              platform::kFileAttributeHidden | platform::kFileAttributeSystem |
                              platform::kFileAttributeNormal)))
      << "new folder, all attributes " << Hex(attributes);

  ASSERT_NO_FATAL_FAILURE(MakeFile(Path(L"file.txt"), "x"));
  const struct {
    const wchar_t* path;
    uint32_t error;
  } kRows[] = {
      {L"folder", platform::kErrorAlreadyExists},
      {L"folder\\", platform::kErrorAlreadyExists},
      {L"file.txt", platform::kErrorAlreadyExists},
      {L"missing\\child", platform::kErrorPathNotFound},
      {L"missing\\deeper\\child", platform::kErrorPathNotFound},
  };
  for (const auto& row : kRows) {
    std::wstring path = Path(row.path);
    SCOPED_TRACE(Show(path));
    EXPECT_EQ(Fails(row.error), CreateDirectory(path));
  }
  EXPECT_EQ(Fails(platform::kErrorFileNotFound), GetAttributes(Path(L"missing")));
}

// What each disposition does to an existing file and where none exists.
TEST_F(FileContractTest, CreationDispositions) {
  const struct {
    const char* name;
    uint32_t disposition;
    Expected onExisting;
    const char* contentAfter;  // of an existing "old content" file
    Expected onMissing;        // and whether a file is made then
  } kRows[] = {
      {"CREATE_NEW", platform::kCreateNew, Fails(platform::kErrorFileExists), "old content",
       SucceedsWithLastError(platform::kErrorSuccess)},
      {"CREATE_ALWAYS", platform::kCreateAlways,
       SucceedsWithLastError(platform::kErrorAlreadyExists), "",
       SucceedsWithLastError(platform::kErrorSuccess)},
      {"OPEN_EXISTING", platform::kOpenExisting, Succeeds(), "old content",
       Fails(platform::kErrorFileNotFound)},
      {"OPEN_ALWAYS", platform::kOpenAlways, SucceedsWithLastError(platform::kErrorAlreadyExists),
       "old content", SucceedsWithLastError(platform::kErrorSuccess)},
      {"TRUNCATE_EXISTING", platform::kTruncateExisting, Succeeds(), "",
       Fails(platform::kErrorFileNotFound)},
  };
  int index = 0;
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    std::wstring existing = Path(L"existing" + std::to_wstring(index) + L".txt");
    std::wstring missing = Path(L"missing" + std::to_wstring(index) + L".txt");
    ++index;
    ASSERT_NO_FATAL_FAILURE(MakeFile(existing, "old content"));
    {
      OpenedFile file(existing, platform::kGenericWrite, kShareNone, row.disposition);
      EXPECT_EQ(row.onExisting, file.result()) << "on an existing file";
    }
    EXPECT_EQ(row.contentAfter, ReadAll(existing).value_or("<unreadable>"));
    {
      OpenedFile file(missing, platform::kGenericWrite, kShareNone, row.disposition);
      EXPECT_EQ(row.onMissing, file.result()) << "where no file is";
    }
    if (row.onMissing.ok) {
      EXPECT_EQ("", ReadAll(missing).value_or("<unreadable>")) << "the new file";
    } else {
      EXPECT_EQ(Fails(platform::kErrorFileNotFound), GetAttributes(missing)) << "nothing made";
    }
  }
}

TEST_F(FileContractTest, CreateFileOnAFolderIsAccessDenied) {
  std::wstring folder = Path(L"folder");
  ASSERT_EQ(Succeeds(), CreateDirectory(folder));
  const struct {
    const char* name;
    uint32_t access;
    uint32_t disposition;
  } kRows[] = {
      {"OPEN_EXISTING for reading", platform::kGenericRead, platform::kOpenExisting},
      {"OPEN_EXISTING for writing", platform::kGenericWrite, platform::kOpenExisting},
      {"OPEN_ALWAYS", platform::kGenericWrite, platform::kOpenAlways},
      {"CREATE_ALWAYS", platform::kGenericWrite, platform::kCreateAlways},
      {"TRUNCATE_EXISTING", platform::kGenericWrite, platform::kTruncateExisting},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    OpenedFile file(folder, row.access, kShareAll, row.disposition);
    EXPECT_EQ(Fails(platform::kErrorAccessDenied), file.result()) << Show(folder);
  }
  EXPECT_EQ(Fails(platform::kErrorAccessDenied), DeleteFile(folder)) << "DeleteFileW";
  EXPECT_TRUE(platform::GetFileAttributesW(folder) & platform::kFileAttributeDirectory)
      << "the folder is still there";
}

// Windows sets ARCHIVE on every file it creates or replaces and keeps the
// requested HIDDEN, SYSTEM and READONLY; FILE_ATTRIBUTE_NORMAL alone becomes
// ARCHIVE.
TEST_F(FileContractTest, AttributesOfNewFiles) {
  using platform::kFileAttributeArchive;
  using platform::kFileAttributeHidden;
  using platform::kFileAttributeNormal;
  using platform::kFileAttributeReadonly;
  const struct {
    const char* name;
    uint32_t disposition;
    uint32_t requested;
    uint32_t expected;
  } kRows[] = {
      {"CREATE_ALWAYS normal", platform::kCreateAlways, kFileAttributeNormal,
       kFileAttributeArchive},
      {"CREATE_NEW normal", platform::kCreateNew, kFileAttributeNormal, kFileAttributeArchive},
      {"OPEN_ALWAYS normal", platform::kOpenAlways, kFileAttributeNormal, kFileAttributeArchive},
      {"CREATE_ALWAYS hidden", platform::kCreateAlways, kFileAttributeHidden,
       kFileAttributeHidden | kFileAttributeArchive},
      {"CREATE_NEW read-only", platform::kCreateNew, kFileAttributeReadonly,
       kFileAttributeReadonly | kFileAttributeArchive},
  };
  int index = 0;
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    std::wstring path = Path(L"new" + std::to_wstring(index++) + L".txt");
    {
      OpenedFile file(path, platform::kGenericWrite, kShareNone, row.disposition, row.requested);
      ASSERT_EQ(SucceedsWithLastError(platform::kErrorSuccess), file.result());
      // The handle of a new read-only file is still writable.
      uint32_t done = kSentinel;
      EXPECT_TRUE(platform::WriteFile(file.handle(), "abc", 3, &done))
          << "last error " << Code(platform::GetLastError());
      EXPECT_EQ(3u, done);
    }
    EXPECT_EQ(Hex(row.expected), Hex(platform::GetFileAttributesW(path)));
    EXPECT_EQ("abc", ReadAll(path).value_or("<unreadable>"));
  }
}

// SetFileAttributesW replaces the attributes; a file left with none reports
// FILE_ATTRIBUTE_NORMAL.
TEST_F(FileContractTest, SetFileAttributesRoundTrip) {
  using platform::kFileAttributeArchive;
  using platform::kFileAttributeDirectory;
  using platform::kFileAttributeHidden;
  using platform::kFileAttributeNormal;
  using platform::kFileAttributeReadonly;
  std::wstring file = Path(L"file.txt");
  ASSERT_NO_FATAL_FAILURE(MakeFile(file, "x"));
  std::wstring folder = Path(L"folder");
  ASSERT_EQ(Succeeds(), CreateDirectory(folder));

  const struct {
    bool onFolder;
    uint32_t set;
    uint32_t expected;
  } kRows[] = {
      {false, kFileAttributeNormal, kFileAttributeNormal},
      {false, kFileAttributeReadonly, kFileAttributeReadonly},
      {false, kFileAttributeNormal, kFileAttributeNormal},
      {false, kFileAttributeHidden, kFileAttributeHidden},
      {false, kFileAttributeReadonly | kFileAttributeHidden,
       kFileAttributeReadonly | kFileAttributeHidden},
      {false, kFileAttributeArchive, kFileAttributeArchive},
      {false, kFileAttributeNormal, kFileAttributeNormal},
      {true, kFileAttributeReadonly, kFileAttributeDirectory | kFileAttributeReadonly},
      {true, kFileAttributeNormal, kFileAttributeDirectory},
  };
  for (const auto& row : kRows) {
    std::wstring path = row.onFolder ? folder : file;
    SCOPED_TRACE(Show(path) + " set to " + Hex(row.set));
    ASSERT_EQ(Succeeds(), SetAttributes(path, row.set));
    uint32_t expected = row.onFolder ? row.expected : FileAttributesAsReported(row.expected);
    if (kRunningUnderWine && row.onFolder) {
      // Wine difference: Wine 8 keeps READONLY only as the Unix mode of a
      // file and drops it for folders (dlls/ntdll/unix/file.c,
      // fd_set_file_info: "FILE_ATTRIBUTE_READONLY ignored for directory");
      // Windows keeps it on folders too.
      expected &= ~kFileAttributeReadonly;
    }
    EXPECT_EQ(Hex(expected), Hex(platform::GetFileAttributesW(path)));
  }
}

TEST_F(FileContractTest, WrittenBytesReadBack) {
  std::wstring path = Path(L"bytes.bin");
  std::string content("first\0second\xff\x80\r\nthird", 22);
  {
    OpenedFile file(path, platform::kGenericWrite, kShareNone, platform::kCreateAlways);
    ASSERT_EQ(SucceedsWithLastError(platform::kErrorSuccess), file.result());
    for (size_t at = 0; at < content.size(); at += 9) {
      uint32_t size = static_cast<uint32_t>(std::min<size_t>(9, content.size() - at));
      uint32_t done = kSentinel;
      EXPECT_TRUE(platform::WriteFile(file.handle(), content.data() + at, size, &done))
          << "at " << at << ": last error " << Code(platform::GetLastError());
      EXPECT_EQ(size, done) << "at " << at;
    }
    uint32_t done = kSentinel;
    EXPECT_TRUE(platform::WriteFile(file.handle(), "", 0, &done)) << "empty write";
    EXPECT_EQ(0u, done) << "empty write";

    char buffer[4];
    done = kSentinel;
    EXPECT_EQ(Fails(platform::kErrorAccessDenied),
              Call([&] { return platform::ReadFile(file.handle(), buffer, sizeof buffer, &done); }))
        << "ReadFile on a handle opened for writing only";
    EXPECT_EQ(0u, done);
  }

  OpenedFile file(path, platform::kGenericRead, kShareNone, platform::kOpenExisting);
  ASSERT_EQ(Succeeds(), file.result());
  char buffer[64];
  std::memset(buffer, 0x5a, sizeof buffer);
  uint32_t done = kSentinel;
  EXPECT_TRUE(platform::ReadFile(file.handle(), buffer, sizeof buffer, &done))
      << "last error " << Code(platform::GetLastError());
  EXPECT_EQ(content.size(), done);
  EXPECT_EQ(::testing::PrintToString(content),
            ::testing::PrintToString(std::string(buffer, std::min<size_t>(done, sizeof buffer))));
  done = kSentinel;
  EXPECT_TRUE(platform::ReadFile(file.handle(), buffer, sizeof buffer, &done))
      << "at the end: last error " << Code(platform::GetLastError());
  EXPECT_EQ(0u, done) << "at the end";

  done = kSentinel;
  EXPECT_EQ(Fails(platform::kErrorAccessDenied),
            Call([&] { return platform::WriteFile(file.handle(), "x", 1, &done); }))
      << "WriteFile on a handle opened for reading only";
  EXPECT_EQ(0u, done);
}

TEST_F(FileContractTest, ClosedHandleIsInvalid) {
  std::wstring path = Path(L"closed.txt");
  OpenedFile file(path, kReadWrite, kShareNone, platform::kCreateNew);
  ASSERT_EQ(Succeeds(), file.result());
  Handle handle = file.handle();
  ASSERT_EQ(Succeeds(), file.Close());

  // Nothing opens a handle in between, so the value cannot have been reused.
  EXPECT_EQ(Fails(platform::kErrorInvalidHandle),
            Call([&] { return platform::CloseHandle(handle); }))
      << "second CloseHandle";
  uint32_t done = kSentinel;
  EXPECT_EQ(Fails(platform::kErrorInvalidHandle),
            Call([&] { return platform::WriteFile(handle, "x", 1, &done); }))
      << "WriteFile";
  EXPECT_EQ(0u, done) << "WriteFile";
  char buffer[4];
  done = kSentinel;
  EXPECT_EQ(Fails(platform::kErrorInvalidHandle),
            Call([&] { return platform::ReadFile(handle, buffer, sizeof buffer, &done); }))
      << "ReadFile";
  EXPECT_EQ(0u, done) << "ReadFile";
  EXPECT_EQ(Succeeds(), DeleteFile(path)) << "the file is no longer held";
}

// Replacing a file (CREATE_ALWAYS, TRUNCATE_EXISTING) must name its HIDDEN
// and SYSTEM attributes, or Windows refuses with 5 (CreateFileW's remarks;
// the MS-FSA overwrite rules cover FILE_OVERWRITE and FILE_OVERWRITE_IF
// alike); opening without replacing does not.
TEST_F(FileContractTest, ReplacingAHiddenOrSystemFile) {
  using platform::kFileAttributeArchive;
  using platform::kFileAttributeHidden;
  using platform::kFileAttributeNormal;
  using platform::kFileAttributeSystem;
  constexpr uint32_t kHiddenSystem = kFileAttributeHidden | kFileAttributeSystem;
  const struct {
    const char* name;
    uint32_t existing;
    uint32_t disposition;
    uint32_t requested;
    Expected expected;
    // nullopt: Windows documents no attributes for an overwrite of this kind.
    std::optional<uint32_t> attributesAfter;
  } kRows[] = {
      {"hidden, CREATE_ALWAYS normal", kFileAttributeHidden, platform::kCreateAlways,
       kFileAttributeNormal, Fails(platform::kErrorAccessDenied), kFileAttributeHidden},
      {"system, CREATE_ALWAYS normal", kFileAttributeSystem, platform::kCreateAlways,
       kFileAttributeNormal, Fails(platform::kErrorAccessDenied), kFileAttributeSystem},
      {"hidden+system, CREATE_ALWAYS hidden", kHiddenSystem, platform::kCreateAlways,
       kFileAttributeHidden, Fails(platform::kErrorAccessDenied), kHiddenSystem},
      {"hidden, TRUNCATE_EXISTING normal", kFileAttributeHidden, platform::kTruncateExisting,
       kFileAttributeNormal, Fails(platform::kErrorAccessDenied), kFileAttributeHidden},
      {"hidden, CREATE_ALWAYS hidden", kFileAttributeHidden, platform::kCreateAlways,
       kFileAttributeHidden, SucceedsWithLastError(platform::kErrorAlreadyExists),
       kFileAttributeHidden | kFileAttributeArchive},
      {"hidden+system, CREATE_ALWAYS hidden+system", kHiddenSystem, platform::kCreateAlways,
       kHiddenSystem, SucceedsWithLastError(platform::kErrorAlreadyExists),
       kHiddenSystem | kFileAttributeArchive},
      {"hidden, TRUNCATE_EXISTING hidden", kFileAttributeHidden, platform::kTruncateExisting,
       kFileAttributeHidden, Succeeds(), std::nullopt},
      {"hidden, OPEN_ALWAYS normal", kFileAttributeHidden, platform::kOpenAlways,
       kFileAttributeNormal, SucceedsWithLastError(platform::kErrorAlreadyExists),
       kFileAttributeHidden},
      {"hidden, OPEN_EXISTING normal", kFileAttributeHidden, platform::kOpenExisting,
       kFileAttributeNormal, Succeeds(), kFileAttributeHidden},
  };
  int index = 0;
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    std::wstring path = Path(L"guarded" + std::to_wstring(index++) + L".txt");
    ASSERT_NO_FATAL_FAILURE(MakeFile(path, "old"));
    ASSERT_EQ(Succeeds(), SetAttributes(path, row.existing));
    bool replacing = row.disposition == platform::kCreateAlways ||
                     row.disposition == platform::kTruncateExisting;
    Expected expected = row.expected;
    std::optional<uint32_t> attributesAfter = row.attributesAfter;
    if (attributesAfter) attributesAfter = FileAttributesAsReported(*attributesAfter);
    if (kRunningUnderWine && replacing && !row.expected.ok) {
      // Wine difference: Wine 8's NtCreateFile has no check of the existing
      // HIDDEN/SYSTEM attributes on overwrite; it replaces the file and keeps
      // those attributes.
      expected = row.disposition == platform::kCreateAlways
                     ? SucceedsWithLastError(platform::kErrorAlreadyExists)
                     : Succeeds();
      attributesAfter = row.existing | kFileAttributeArchive;
    }
    {
      OpenedFile file(path, platform::kGenericWrite, kShareNone, row.disposition, row.requested);
      EXPECT_EQ(expected, file.result());
    }
    if (attributesAfter) {
      EXPECT_EQ(Hex(*attributesAfter), Hex(platform::GetFileAttributesW(path)));
    }
    EXPECT_EQ(expected.ok && replacing ? "" : "old", ReadAll(path).value_or("<unreadable>"));
  }
}

}  // namespace
