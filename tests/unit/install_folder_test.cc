#include "install/install_folder.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "install/product_constants.h"
#include "platform/fake/fake.h"
#include "platform/file.h"

namespace {

const std::wstring kMaretto = L"C:\\Program Files\\Maretto";
const std::wstring kTsl = kInstallFolder;
const std::wstring kElsewhere = L"C:\\Users\\Public\\Elsewhere";

// Someone with write access to C:\Program Files\Maretto puts a junction to
// a folder of theirs where the install folder (or its parent) is.
void SwapForLink(const std::wstring& folder) {
  if (fake::Exists(folder)) {
    ASSERT_TRUE(platform::MoveFileExW(folder, folder + L".old", 0)) << platform::GetLastError();
  }
  fake::AddJunction(folder, kElsewhere);
}

// Runs `act` at the start of the n-th file-system call (0-based) naming
// `path`.
void AtCall(fake::FileCall kind, const std::wstring& path, int n, std::function<void()> act) {
  auto seen = std::make_shared<int>(0);
  fake::OnFileCall([=](fake::FileCall call, const std::wstring& named) {
    if (call == kind && named == path && (*seen)++ == n) act();
  });
}

TEST(CreateInstallFolderTest, TheFolderIsTheProductsOwnOrNothingIsMade) {
  struct Case {
    const char* name;
    std::function<void()> setUp;
    uint32_t result;
    bool secured;  // the folder ends with the product's access list
  } cases[] = {
      {"nothing there yet", [] {}, 0, true},
      {"the folder exists", [] { fake::AddDirectory(kTsl); }, 183, true},
      {"a link in place of the parent", [] { SwapForLink(kMaretto); }, 1921, false},
      {"a link in place of the folder", [] { SwapForLink(kTsl); }, 1921, false},
      {"the parent swapped for a link once the folder exists",
       [] { AtCall(fake::FileCall::kPathCall, kMaretto, 1, [] { SwapForLink(kMaretto); }); },
       1921, false},
      {"the folder swapped for a link before it is opened",
       [] { AtCall(fake::FileCall::kCreateFile, kTsl, 0, [] { SwapForLink(kTsl); }); }, 1921,
       false},
      {"a file where the folder should be", [] { fake::AddFile(kTsl, "x"); }, 267, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    fake::AddDirectory(kElsewhere);
    c.setUp();

    EXPECT_EQ(c.result, CreateInstallFolder());

    fake::OnFileCall(nullptr);
    EXPECT_EQ(std::vector<std::wstring>{kElsewhere}, fake::ListTree(kElsewhere))
        << "something was made through the link";
    EXPECT_EQ(std::nullopt, fake::FolderSecurity(kElsewhere));
    EXPECT_EQ(c.secured ? std::optional<std::wstring>(kInstallFolderSecurity) : std::nullopt,
              fake::FolderSecurity(kTsl));
    EXPECT_EQ(0, fake::OpenFileHandleCount());
    EXPECT_EQ(0, fake::LiveSecurityDescriptorCount());
  }
}

}  // namespace
