// What the shell and COM operations answer, pinned on the fake and
// on Windows (under Wine) from one source. Paths live under the user's
// temporary folder; nothing is written to the desktop here.
#include <gtest/gtest.h>

#include <cctype>
#include <thread>

#include "platform/com.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/time.h"
#include "tests/contract/on_wine.h"

#ifndef _WIN32
#include "platform/fake/fake.h"
#endif

namespace {

using namespace platform;

constexpr uint32_t kSentinel = 0xdeadbeef;

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

bool IsFolder(const std::wstring& path) {
  uint32_t a = GetFileAttributesW(path);
  return a != kInvalidFileAttributes && (a & kFileAttributeDirectory);
}

bool IsFile(const std::wstring& path) {
  uint32_t a = GetFileAttributesW(path);
  return a != kInvalidFileAttributes && !(a & kFileAttributeDirectory);
}

bool MakeFile(const std::wstring& path, uint32_t attributes = kFileAttributeNormal) {
  Handle h = CreateFileW(path, kGenericWrite, 0, kCreateAlways, attributes);
  if (h == kInvalidHandleValue) return false;
  CloseHandle(h);
  return true;
}

class ShellContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    fake::Reset();
#endif
    base_ = GetTempPathW() + L"tsl-shell-contract";
    Clean();
    ASSERT_TRUE(CreateDirectoryW(base_)) << "error " << GetLastError();
  }
  void TearDown() override { Clean(); }

  std::wstring At(const std::wstring& relative) const { return base_ + L"\\" + relative; }

  // Everything a test here may make, children before their folders; a run
  // that died half-way is cleaned up by the next one.
  void Clean() {
    for (const wchar_t* file : {L"file.txt", L"link.lnk", L"readonly.lnk", L"here.txt"}) {
      SetFileAttributesW(At(file), kFileAttributeNormal);
      DeleteFileW(At(file));
    }
    for (const wchar_t* folder : {L"nested\\a\\b", L"nested\\a", L"nested", L"existing",
                                  L"trailing\\x", L"trailing"}) {
      RemoveDirectoryW(At(folder));
    }
    RemoveDirectoryW(LongFolder());
    RemoveDirectoryW(base_);
  }

  // Fits in MAX_PATH, but leaves no room for an 8.3 name below it.
  std::wstring LongFolder() const {
    return base_ + L"\\" + std::wstring(kMaxPath - 6 - base_.size(), L'x');
  }

  std::wstring base_;
};

TEST_F(ShellContractTest, SHCreateDirectoryExWReturnsTheCodeOfTheLastFolder) {
  ASSERT_TRUE(CreateDirectoryW(At(L"existing")));
  ASSERT_TRUE(MakeFile(At(L"file.txt")));
  struct Case {
    const char* name;
    std::wstring path;
    uint32_t expected;
  } cases[] = {
      {"three new levels", At(L"nested\\a\\b"), kErrorSuccess},
      {"again, all there", At(L"nested\\a\\b"), kErrorAlreadyExists},
      {"existing folder", At(L"existing"), kErrorAlreadyExists},
      {"a file of that name", At(L"file.txt"), kErrorAlreadyExists},
      {"a file in the way", At(L"file.txt\\sub"), kErrorPathNotFound},
      {"trailing backslash", At(L"trailing\\x\\"), kErrorSuccess},
      {"relative path", L"tsl-relative\\x", kErrorBadPathname},
      {"empty path", L"", kErrorBadPathname},
  };
  for (const Case& c : cases) {
    uint32_t got = SHCreateDirectoryExW(c.path);
    EXPECT_EQ(c.expected, got) << c.name << ": " << Narrow(c.path);
  }
  EXPECT_TRUE(IsFolder(At(L"nested\\a\\b")));
  EXPECT_TRUE(IsFolder(At(L"trailing\\x")));
  EXPECT_TRUE(IsFile(At(L"file.txt"))) << "a file was turned into a folder";
  EXPECT_FALSE(IsFolder(L"tsl-relative")) << "relative path was created";
}

TEST_F(ShellContractTest, SHCreateDirectoryExWRefusesAFolderPathWithoutRoomBelowIt) {
  std::wstring path = LongFolder();
  uint32_t got = SHCreateDirectoryExW(path);
  if (RunningOnWine()) {
    // Wine 8 makes folders up to the full MAX_PATH; Windows keeps 12
    // characters for an 8.3 name below a new folder and answers 206.
    EXPECT_EQ(kErrorSuccess, got) << "Wine, " << path.size() << " characters";
    return;
  }
  EXPECT_EQ(kErrorFilenameExcedRange, got) << path.size() << " characters";
  EXPECT_FALSE(IsFolder(path));
}

TEST(PathRemoveFileSpecWContractTest, StripsTheLastComponentAsShlwapiDoes) {
  struct Case {
    std::wstring in;
    std::wstring out;
    bool removed;
  } cases[] = {
      {L"C:\\Program Files\\Maretto\\TSL\\Velquist.exe", L"C:\\Program Files\\Maretto\\TSL", true},
      {L"C:\\Program Files\\Maretto\\TSL", L"C:\\Program Files\\Maretto", true},
      {L"C:\\Velquist.exe", L"C:\\", true},
      {L"C:\\", L"C:\\", false},
      {L"C:", L"C:", false},
      {L"C:Velquist.exe", L"C:", true},
      {L"C:\\dir\\", L"C:\\dir", true},
      {L"Velquist.exe", L"", true},
      {L"", L"", false},
      {L"\\Velquist.exe", L"\\", true},
      {L"\\\\server\\share\\Velquist.exe", L"\\\\server\\share", true},
      {L"\\\\server", L"\\\\", true},
      {L"C:\\a/b", L"C:\\", true},
  };
  for (const Case& c : cases) {
    std::wstring path = c.in;
    bool removed = PathRemoveFileSpecW(&path);
    EXPECT_EQ(Narrow(c.out), Narrow(path)) << "from " << Narrow(c.in);
    EXPECT_EQ(c.removed, removed) << "from " << Narrow(c.in);
  }
}

TEST_F(ShellContractTest, SHGetFolderPathWGivesAnExistingDesktopWithoutTrailingBackslash) {
  std::wstring desktop = L"0xdeadbeef";
  HResult hr = SHGetFolderPathW(kCsidlDesktop, kShgfpTypeCurrent, &desktop);
  ASSERT_EQ(kSOk, hr) << std::hex << static_cast<uint32_t>(hr);
  EXPECT_NE("0xdeadbeef", Narrow(desktop));
  ASSERT_GE(desktop.size(), 3u) << Narrow(desktop);
  EXPECT_LT(desktop.size(), kMaxPath);
  EXPECT_NE(L'\\', desktop.back()) << Narrow(desktop);
  EXPECT_EQ(L':', desktop[1]) << Narrow(desktop);
  EXPECT_TRUE(IsFolder(desktop)) << Narrow(desktop);

  std::wstring directory = L"0xdeadbeef";
  EXPECT_EQ(kSOk, SHGetFolderPathW(kCsidlDesktopDirectory, kShgfpTypeCurrent, &directory));
  EXPECT_EQ(Narrow(desktop), Narrow(directory));
}

TEST_F(ShellContractTest, SHGetFolderPathWRejectsAnUnknownFolder) {
  std::wstring path = L"0xdeadbeef";
  HResult hr = SHGetFolderPathW(0x7F, kShgfpTypeCurrent, &path);
  EXPECT_EQ(kEInvalidArg, hr) << std::hex << static_cast<uint32_t>(hr);
  EXPECT_EQ("", Narrow(path));
}

// Each check runs on a thread of its own, so no apartment is inherited.
TEST(ComContractTest, ApartmentsCountAndKeepTheirModel) {
  std::vector<HResult> got;
  std::thread sta([&] {
    got.push_back(CoInitialize());
    got.push_back(CoInitializeEx(kCoinitApartmentThreaded));
    got.push_back(CoInitializeEx(kCoinitMultithreaded));
    CoUninitialize();
    CoUninitialize();
  });
  sta.join();
  std::thread mta([&] {
    got.push_back(CoInitializeEx(kCoinitMultithreaded));
    got.push_back(CoInitialize());
    CoUninitialize();
  });
  mta.join();
  std::vector<HResult> expected = {kSOk, kSFalse, kRpcEChangedMode, kSOk, kRpcEChangedMode};
  ASSERT_EQ(expected.size(), got.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(expected[i], got[i]) << "call " << i << ": " << std::hex
                                   << static_cast<uint32_t>(got[i]);
  }
}

ShellLinkProperties SomeLink() {
  ShellLinkProperties link;
  link.path = L"C:\\Windows\\System32\\cmd.exe";
  link.description = L"Tessaline";
  link.iconPath = link.path;
  link.iconIndex = 0;
  link.workingDirectory = L"C:\\Windows\\System32";
  return link;
}

TEST_F(ShellContractTest, SaveShellLinkNeedsAnApartment) {
  HResult hr = static_cast<HResult>(kSentinel);
  std::thread bare([&] { hr = SaveShellLink(SomeLink(), At(L"link.lnk")); });
  bare.join();
  EXPECT_EQ(kCoENotInitialized, hr) << std::hex << static_cast<uint32_t>(hr);
  EXPECT_EQ(kInvalidFileAttributes, GetFileAttributesW(At(L"link.lnk")));
}

TEST_F(ShellContractTest, SaveShellLinkWritesAndReplacesTheFile) {
  ASSERT_GE(CoInitialize(), 0);
  struct Case {
    const char* name;
    std::wstring lnk;
    HResult expected;
  } cases[] = {
      {"new file", At(L"link.lnk"), kSOk},
      {"over the same file", At(L"link.lnk"), kSOk},
      {"missing folder", At(L"missing\\link.lnk"), HResultFromWin32(kErrorPathNotFound)},
      {"over a read-only file", At(L"readonly.lnk"), HResultFromWin32(kErrorAccessDenied)},
  };
  ASSERT_TRUE(MakeFile(At(L"readonly.lnk"), kFileAttributeReadonly));
  // Wine run as root (as here) writes over a read-only file: it leaves that
  // check to the Unix permissions, which root bypasses. Only its delete
  // checks the attribute.
  if (RunningOnWine()) cases[3].expected = kSOk;
  for (const Case& c : cases) {
    HResult hr = SaveShellLink(SomeLink(), c.lnk);
    EXPECT_EQ(c.expected, hr) << c.name << ": " << std::hex << static_cast<uint32_t>(hr);
  }
  CoUninitialize();
  EXPECT_TRUE(IsFile(At(L"link.lnk")));
  EXPECT_FALSE(IsFolder(At(L"missing")));
}

// The desktop shell starts cmd.exe in the given folder, where it writes the
// folder it runs in (Wine 8's explorer answers the whole chain as well).
TEST_F(ShellContractTest, ShellExecuteFromDesktopStartsThroughTheShell) {
  const std::wstring cmd = L"C:\\Windows\\System32\\cmd.exe";
  HResult hr = static_cast<HResult>(kSentinel);
  bool reached = true;
  auto launch = [&] {
    hr = ShellExecuteFromDesktop(L"open", cmd, L"/C cd > here.txt", base_, kSwHide, &reached);
  };
  std::thread bare(launch);
  bare.join();
  EXPECT_EQ(kCoENotInitialized, hr) << std::hex << static_cast<uint32_t>(hr);
  EXPECT_FALSE(reached);

  std::thread sta([&] {
    if (CoInitialize() < 0) return;
    launch();
    CoUninitialize();
  });
  sta.join();
  ASSERT_TRUE(reached) << std::hex << static_cast<uint32_t>(hr);
  EXPECT_EQ(kSOk, hr);
#ifdef _WIN32
  // The shell starts it on its own: wait for what it writes.
  std::string line;
  for (int waited = 0; waited < 30000 && line.empty(); waited += 100) {
    Sleep(100);
    Handle out = CreateFileW(At(L"here.txt"), kGenericRead, kFileShareRead, kOpenExisting,
                             kFileAttributeNormal);
    if (out == kInvalidHandleValue) continue;
    char buffer[1024];
    uint32_t read = 0;
    ReadFile(out, buffer, sizeof(buffer), &read);
    CloseHandle(out);
    std::string text(buffer, read);
    if (text.find('\n') != std::string::npos) line = text.substr(0, text.find_first_of("\r\n"));
  }
  std::string expected = Narrow(base_);
  for (std::string* s : {&line, &expected}) {
    for (char& c : *s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  EXPECT_EQ(expected, line) << "written in the working folder";
#else
  const fake::ProcessStart& start = fake::ProcessStarts().back();
  EXPECT_EQ(fake::StartApi::kShellDispatch, start.api);
  EXPECT_EQ(Narrow(base_), Narrow(start.directory));
#endif
}

}  // namespace
