// The desktop shortcut made by the real shell link object: run under Wine by
// scripts/wine-shortcut.sh, which reads the .lnk again with lnkinfo between
// the create and the remove tests. Reads the file back through COM too.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "install/product_constants.h"
#include "platform/file.h"
#include "platform/shell.h"
#include "registration/desktop_shortcut.h"

namespace {

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

// What IShellLinkW reports for a saved .lnk; every field is pre-filled with
// a sentinel so an unwritten one shows.
struct LoadedLink {
  HRESULT load = static_cast<HRESULT>(0xdeadbeef);
  std::wstring path = L"0xdeadbeef";
  std::wstring arguments = L"0xdeadbeef";
  std::wstring workingDirectory = L"0xdeadbeef";
  std::wstring description = L"0xdeadbeef";
  std::wstring iconPath = L"0xdeadbeef";
  int iconIndex = static_cast<int>(0xdeadbeef);
  int showCommand = static_cast<int>(0xdeadbeef);
  WORD hotkey = 0xbeef;
};

LoadedLink Load(const std::wstring& lnkPath) {
  LoadedLink out;
  IShellLinkW* link = nullptr;
  out.load = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link));
  if (FAILED(out.load)) return out;
  IPersistFile* file = nullptr;
  out.load = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (SUCCEEDED(out.load)) {
    out.load = file->Load(lnkPath.c_str(), STGM_READ);
    file->Release();
  }
  if (SUCCEEDED(out.load)) {
    wchar_t buffer[MAX_PATH];
    auto read = [&buffer](HRESULT hr, std::wstring* field) {
      if (SUCCEEDED(hr)) *field = buffer;
    };
    lstrcpyW(buffer, L"0xdeadbeef");
    read(link->GetPath(buffer, MAX_PATH, nullptr, SLGP_RAWPATH), &out.path);
    lstrcpyW(buffer, L"0xdeadbeef");
    read(link->GetArguments(buffer, MAX_PATH), &out.arguments);
    lstrcpyW(buffer, L"0xdeadbeef");
    read(link->GetWorkingDirectory(buffer, MAX_PATH), &out.workingDirectory);
    lstrcpyW(buffer, L"0xdeadbeef");
    read(link->GetDescription(buffer, MAX_PATH), &out.description);
    lstrcpyW(buffer, L"0xdeadbeef");
    read(link->GetIconLocation(buffer, MAX_PATH, &out.iconIndex), &out.iconPath);
    link->GetShowCmd(&out.showCommand);
    link->GetHotkey(&out.hotkey);
  }
  link->Release();
  return out;
}

class ShortcutWineTest : public ::testing::Test {
 protected:
  void SetUp() override { target_ = GetInstallPath(kAppExeName); }
  std::wstring target_;
};

TEST_F(ShortcutWineTest, CreateMakesTheShortcutOnTheDesktop) {
  uint32_t made = platform::SHCreateDirectoryExW(kInstallFolder);
  ASSERT_TRUE(made == 0 || made == 183) << "SHCreateDirectoryExW gave " << made;
  // Any executable will do as the target; the shell only needs a file there.
  wchar_t self[MAX_PATH];
  ASSERT_NE(0u, GetModuleFileNameW(nullptr, self, MAX_PATH));
  ASSERT_TRUE(CopyFileW(self, target_.c_str(), FALSE)) << "error " << GetLastError();

  std::wstring shortcut = L"0xdeadbeef";
  ASSERT_TRUE(GetDesktopShortcutPath(&shortcut));
  std::printf("shortcut: %s\n", Narrow(shortcut).c_str());
  std::wstring desktop;
  ASSERT_EQ(S_OK, platform::SHGetFolderPathW(platform::kCsidlDesktop, 0, &desktop));
  EXPECT_EQ(Narrow(desktop + L"\\Tessaline.lnk"), Narrow(shortcut));

  // Twice, as an update does: one file, rewritten.
  ASSERT_TRUE(CreateDesktopShortcut(L"C:\\Old\\Velquist.exe"));
  ASSERT_TRUE(CreateDesktopShortcut(target_));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(shortcut.c_str()));

  ASSERT_EQ(S_OK, CoInitialize(nullptr));
  LoadedLink link = Load(shortcut);
  CoUninitialize();
  ASSERT_EQ(S_OK, link.load) << std::hex << static_cast<uint32_t>(link.load);
  EXPECT_EQ(Narrow(target_), Narrow(link.path));
  EXPECT_EQ("", Narrow(link.arguments));
  EXPECT_EQ(Narrow(kInstallFolder), Narrow(link.workingDirectory));
  EXPECT_EQ("Tessaline", Narrow(link.description));
  EXPECT_EQ(Narrow(target_), Narrow(link.iconPath));
  EXPECT_EQ(0, link.iconIndex);
  EXPECT_EQ(SW_SHOWNORMAL, link.showCommand);
  EXPECT_EQ(0, link.hotkey);
}

TEST_F(ShortcutWineTest, RemoveDeletesItOnceThenReportsItMissing) {
  std::wstring shortcut;
  ASSERT_TRUE(GetDesktopShortcutPath(&shortcut));
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(shortcut.c_str()))
      << "run the create test first";
  EXPECT_TRUE(RemoveDesktopShortcut());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(shortcut.c_str()));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(RemoveDesktopShortcut());
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

bool RunningOnWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

TEST_F(ShortcutWineTest, ReadOnlyShortcutIsNeitherReplacedNorRemoved) {
  std::wstring shortcut;
  ASSERT_TRUE(GetDesktopShortcutPath(&shortcut));
  ASSERT_TRUE(CreateDesktopShortcut(target_));
  ASSERT_TRUE(SetFileAttributesW(shortcut.c_str(), FILE_ATTRIBUTE_READONLY));
  const std::wstring other = L"C:\\Other\\Velquist.exe";
  bool replaced = CreateDesktopShortcut(other);
  ASSERT_EQ(S_OK, CoInitialize(nullptr));
  LoadedLink kept = Load(shortcut);
  CoUninitialize();
  ASSERT_EQ(S_OK, kept.load) << std::hex << static_cast<uint32_t>(kept.load);
  if (RunningOnWine()) {
    // Wine run as root (as the scripts here are) leaves the read-only check
    // of a write to the Unix permissions, which root bypasses: the save
    // succeeds. Windows refuses it with 0x80070005.
    EXPECT_TRUE(replaced) << "Wine as root";
    EXPECT_EQ(Narrow(other), Narrow(kept.path)) << "Wine as root";
  } else {
    EXPECT_FALSE(replaced);
    EXPECT_EQ(Narrow(target_), Narrow(kept.path));
  }
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(RemoveDesktopShortcut());
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  ASSERT_TRUE(SetFileAttributesW(shortcut.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(RemoveDesktopShortcut());
}

}  // namespace
