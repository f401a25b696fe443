#include "install/product_constants.h"

#include <gtest/gtest.h>

#include "platform/fake/fake.h"

namespace {

TEST(GetInstallPathTest, JoinsTheInstallFolderAndTheName) {
  struct Case {
    std::wstring name;
    std::wstring expected;
  } cases[] = {
      {L"Velquist.exe", L"C:\\Program Files\\Maretto\\TSL\\Velquist.exe"},
      {L"updater.exe", L"C:\\Program Files\\Maretto\\TSL\\updater.exe"},
      {L"WebView2Loader.dll", L"C:\\Program Files\\Maretto\\TSL\\WebView2Loader.dll"},
      {L"", L"C:\\Program Files\\Maretto\\TSL\\"},
      {L"sub\\..\\x", L"C:\\Program Files\\Maretto\\TSL\\sub\\..\\x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fake::ToUtf8(c.expected), fake::ToUtf8(GetInstallPath(c.name)));
  }
}

TEST(JoinPathTest, NeverDoublesTheBackslash) {
  EXPECT_EQ(L"C:\\a\\b", JoinPath(L"C:\\a\\", L"b"));
  EXPECT_EQ(L"C:\\a\\b", JoinPath(L"C:\\a", L"b"));
  EXPECT_EQ(L"b", JoinPath(L"", L"b"));
}

TEST(IsApplicationInstalledTest, AsksTheFileSystemEachTime) {
  struct Case {
    const char* name;
    void (*setUp)();
    bool expected;
  } cases[] = {
      {"nothing installed", [] {}, false},
      {"install folder without the program",
       [] { fake::AddDirectory(L"C:\\Program Files\\Maretto\\TSL"); }, false},
      {"program present",
       [] { fake::AddFile(L"C:\\Program Files\\Maretto\\TSL\\Velquist.exe", "MZ"); }, true},
      {"name differs only in case",
       [] { fake::AddFile(L"c:\\program files\\maretto\\tsl\\VELQUIST.EXE", "MZ"); }, true},
      {"a folder of that name",
       [] { fake::AddDirectory(L"C:\\Program Files\\Maretto\\TSL\\Velquist.exe"); }, true},
      {"only the updater",
       [] { fake::AddFile(L"C:\\Program Files\\Maretto\\TSL\\updater.exe", "MZ"); }, false},
  };
  for (const Case& c : cases) {
    fake::Reset();
    c.setUp();
    EXPECT_EQ(c.expected, IsApplicationInstalled()) << c.name;
  }
  fake::Reset();
}

TEST(ProductFoldersTest, StartWithTheInstallFolderAndAreAbsolute) {
  EXPECT_STREQ(kInstallFolder, kProductFolders[0]);
  for (const wchar_t* folder : kProductFolders) {
    std::wstring f = folder;
    EXPECT_EQ(L"C:\\", f.substr(0, 3)) << fake::ToUtf8(f);
    EXPECT_NE(L'\\', f.back()) << fake::ToUtf8(f);
  }
}

}  // namespace
