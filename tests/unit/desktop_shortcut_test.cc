#include "registration/desktop_shortcut.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "install/product_constants.h"
#include "platform/fake/fake.h"
#include "platform/file.h"
#include "platform/shell.h"

namespace {

using platform::ShellLinkProperties;

const std::wstring kShortcut = L"C:\\Users\\User\\Desktop\\Tessaline.lnk";
const std::wstring kOtherFile = L"C:\\Users\\User\\Desktop\\notes.txt";

std::string Show(const std::optional<ShellLinkProperties>& link) {
  if (!link) return "no link";
  return "path=\"" + fake::ToUtf8(link->path) + "\" description=\"" +
         fake::ToUtf8(link->description) + "\" icon=\"" + fake::ToUtf8(link->iconPath) + "\"," +
         std::to_string(link->iconIndex) + " workdir=\"" + fake::ToUtf8(link->workingDirectory) +
         "\"";
}

ShellLinkProperties Expected(const std::wstring& target, const std::wstring& workdir) {
  ShellLinkProperties link;
  link.path = target;
  link.description = L"Tessaline";
  link.iconPath = target;
  link.iconIndex = 0;
  link.workingDirectory = workdir;
  return link;
}

class DesktopShortcutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::AddFile(kOtherFile, "keep me");
  }
  void TearDown() override {
    EXPECT_EQ(0, fake::ComInitCount()) << "COM left initialised on the thread";
    EXPECT_EQ(0, fake::OpenFileHandleCount()) << "file handles leaked";
    EXPECT_EQ(std::optional<std::string>("keep me"), fake::FileContent(kOtherFile));
  }
  // The desktop's entries besides the folder itself and the unrelated file.
  std::vector<std::wstring> DesktopEntries() {
    std::vector<std::wstring> out;
    for (const auto& p : fake::ListTree(fake::kDesktopFolder)) {
      if (p != fake::kDesktopFolder && p != kOtherFile) out.push_back(p);
    }
    return out;
  }
};

TEST_F(DesktopShortcutTest, PathIsTheProductNameOnTheUsersDesktop) {
  std::wstring path = L"0xdeadbeef";
  ASSERT_TRUE(GetDesktopShortcutPath(&path));
  EXPECT_EQ(fake::ToUtf8(kShortcut), fake::ToUtf8(path));
}

TEST_F(DesktopShortcutTest, PathFailsWithoutADesktopFolder) {
  ASSERT_TRUE(platform::DeleteFileW(kOtherFile));
  ASSERT_TRUE(platform::RemoveDirectoryW(fake::kDesktopFolder));
  std::wstring path = L"0xdeadbeef";
  EXPECT_FALSE(GetDesktopShortcutPath(&path));
  EXPECT_EQ("0xdeadbeef", fake::ToUtf8(path)) << "written on failure";
  fake::AddFile(kOtherFile, "keep me");
}

TEST_F(DesktopShortcutTest, ShortcutCarriesTheTargetItsFolderAndItsIcon) {
  struct Case {
    std::wstring target;
    std::wstring workdir;
  } cases[] = {
      {GetInstallPath(kAppExeName), L"C:\\Program Files\\Maretto\\TSL"},
      {L"C:\\Velquist.exe", L"C:\\"},
      {L"D:\\Apps\\Tessaline\\Velquist.exe", L"D:\\Apps\\Tessaline"},
      {L"\\\\server\\share\\Velquist.exe", L"\\\\server\\share"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fake::ToUtf8(c.target));
    fake::Reset();
    fake::AddFile(kOtherFile, "keep me");
    ASSERT_TRUE(CreateDesktopShortcut(c.target));
    EXPECT_EQ(Show(Expected(c.target, c.workdir)), Show(fake::ShellLinkAt(kShortcut)));
    EXPECT_EQ(std::vector<std::wstring>{kShortcut}, DesktopEntries());
  }
}

TEST_F(DesktopShortcutTest, MadeOnAWorkerThreadThatHasNoApartmentYet) {
  bool created = false;
  int apartmentsLeft = -1;
  std::thread worker([&] {
    created = CreateDesktopShortcut(GetInstallPath(kAppExeName));
    apartmentsLeft = fake::ComInitCount();
  });
  worker.join();
  EXPECT_TRUE(created);
  EXPECT_EQ(0, apartmentsLeft);
  EXPECT_TRUE(fake::ShellLinkAt(kShortcut).has_value());
}

TEST_F(DesktopShortcutTest, SecondInstallRewritesTheOneShortcut) {
  ASSERT_TRUE(CreateDesktopShortcut(L"C:\\Old\\Velquist.exe"));
  ASSERT_TRUE(CreateDesktopShortcut(GetInstallPath(kAppExeName)));
  EXPECT_EQ(Show(Expected(GetInstallPath(kAppExeName), kInstallFolder)),
            Show(fake::ShellLinkAt(kShortcut)));
  EXPECT_EQ(std::vector<std::wstring>{kShortcut}, DesktopEntries());
}

// A step of the link object whose result is not looked at: the shortcut is
// still saved, just without that property.
TEST_F(DesktopShortcutTest, FailedSettersDoNotStopTheSave) {
  struct Case {
    fake::ShellLinkStep step;
    std::function<void(ShellLinkProperties*)> clear;
  } cases[] = {
      {fake::ShellLinkStep::kSetPath, [](ShellLinkProperties* l) { l->path.clear(); }},
      {fake::ShellLinkStep::kSetDescription,
       [](ShellLinkProperties* l) { l->description.clear(); }},
      {fake::ShellLinkStep::kSetIconLocation, [](ShellLinkProperties* l) { l->iconPath.clear(); }},
      {fake::ShellLinkStep::kSetWorkingDirectory,
       [](ShellLinkProperties* l) { l->workingDirectory.clear(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.step));
    fake::Reset();
    fake::AddFile(kOtherFile, "keep me");
    fake::FailNextShellLink(c.step, platform::kEFail);
    EXPECT_TRUE(CreateDesktopShortcut(GetInstallPath(kAppExeName)));
    ShellLinkProperties expected = Expected(GetInstallPath(kAppExeName), kInstallFolder);
    c.clear(&expected);
    EXPECT_EQ(Show(expected), Show(fake::ShellLinkAt(kShortcut)));
  }
}

// What the machine holds before the call, and what a failed call leaves.
enum class Before { kNothing, kOldShortcut, kOldShortcutReadOnly, kOldShortcutHeldOpen };

TEST_F(DesktopShortcutTest, FailuresReturnFalseAndLeaveWhatWasThere) {
  const std::wstring oldTarget = L"C:\\Old\\Velquist.exe";
  struct Case {
    const char* name;
    Before before;
    std::function<void()> setUp;
  } cases[] = {
      {"link object not registered", Before::kNothing,
       [] { fake::FailNextShellLink(fake::ShellLinkStep::kCoCreateInstance,
                                    platform::kRegDbEClassNotReg); }},
      {"no IPersistFile", Before::kNothing,
       [] { fake::FailNextShellLink(fake::ShellLinkStep::kQueryInterface,
                                    platform::kENoInterface); }},
      {"save refused", Before::kNothing,
       [] { fake::FailNextShellLink(fake::ShellLinkStep::kSave, platform::kEAccessDenied); }},
      {"save refused over an old shortcut", Before::kOldShortcut,
       [] { fake::FailNextShellLink(fake::ShellLinkStep::kSave, platform::kEFail); }},
      {"old shortcut read-only", Before::kOldShortcutReadOnly, [] {}},
      {"old shortcut held open by another program", Before::kOldShortcutHeldOpen, [] {}},
      {"user cannot create files on the desktop", Before::kNothing,
       [] { fake::DenyCreateIn(fake::kDesktopFolder); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    fake::AddFile(kOtherFile, "keep me");
    platform::Handle held = nullptr;
    if (c.before != Before::kNothing) {
      ASSERT_TRUE(CreateDesktopShortcut(oldTarget));
      if (c.before == Before::kOldShortcutReadOnly) {
        ASSERT_TRUE(platform::SetFileAttributesW(kShortcut, platform::kFileAttributeReadonly));
      }
      if (c.before == Before::kOldShortcutHeldOpen) held = fake::HoldOpen(kShortcut);
    }
    c.setUp();

    EXPECT_FALSE(CreateDesktopShortcut(GetInstallPath(kAppExeName)));

    if (held) platform::CloseHandle(held);
    if (c.before == Before::kNothing) {
      EXPECT_EQ(std::vector<std::wstring>{}, DesktopEntries());
    } else {
      EXPECT_EQ(Show(Expected(oldTarget, L"C:\\Old")), Show(fake::ShellLinkAt(kShortcut)));
    }
    EXPECT_EQ(0, fake::ComInitCount());
  }
}

TEST_F(DesktopShortcutTest, NoDesktopFolderMeansNoShortcutAnywhere) {
  ASSERT_TRUE(platform::DeleteFileW(kOtherFile));
  ASSERT_TRUE(platform::RemoveDirectoryW(fake::kDesktopFolder));
  std::vector<std::wstring> before = fake::ListTree(L"C:");

  EXPECT_FALSE(CreateDesktopShortcut(GetInstallPath(kAppExeName)));

  EXPECT_EQ(before, fake::ListTree(L"C:"));
  fake::AddFile(kOtherFile, "keep me");
}

TEST_F(DesktopShortcutTest, RemoveDeletesOnlyTheShortcut) {
  ASSERT_TRUE(CreateDesktopShortcut(GetInstallPath(kAppExeName)));
  EXPECT_TRUE(RemoveDesktopShortcut());
  EXPECT_EQ(std::vector<std::wstring>{}, DesktopEntries());
  EXPECT_TRUE(fake::Exists(fake::kDesktopFolder));
}

TEST_F(DesktopShortcutTest, RemoveFailsWhenTheShortcutCannotBeDeleted) {
  struct Case {
    const char* name;
    std::function<void()> setUp;
    uint32_t lastError;
    bool shortcutStays;
  } cases[] = {
      {"already deleted by the user", [] {}, platform::kErrorFileNotFound, false},
      {"read-only",
       [] {
         CreateDesktopShortcut(L"C:\\x.exe");
         platform::SetFileAttributesW(kShortcut, platform::kFileAttributeReadonly);
       },
       platform::kErrorAccessDenied, true},
      {"a folder of that name", [] { fake::AddDirectory(kShortcut); },
       platform::kErrorAccessDenied, true},
      {"no desktop folder",
       [] {
         platform::DeleteFileW(kOtherFile);
         platform::RemoveDirectoryW(fake::kDesktopFolder);
       },
       platform::kErrorSuccess, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    fake::AddFile(kOtherFile, "keep me");
    c.setUp();
    platform::SetLastError(0);
    EXPECT_FALSE(RemoveDesktopShortcut());
    if (c.lastError != platform::kErrorSuccess) {
      EXPECT_EQ(c.lastError, platform::GetLastError());
    }
    EXPECT_EQ(c.shortcutStays, fake::Exists(kShortcut));
    if (!fake::Exists(kOtherFile)) fake::AddFile(kOtherFile, "keep me");
  }
}

TEST_F(DesktopShortcutTest, RemoveFailsWhileAnotherProgramHoldsTheShortcut) {
  ASSERT_TRUE(CreateDesktopShortcut(GetInstallPath(kAppExeName)));
  platform::Handle held = fake::HoldOpen(kShortcut, platform::kFileShareRead);
  EXPECT_FALSE(RemoveDesktopShortcut());
  EXPECT_EQ(platform::kErrorSharingViolation, platform::GetLastError());
  platform::CloseHandle(held);
  EXPECT_TRUE(RemoveDesktopShortcut());
}

}  // namespace
