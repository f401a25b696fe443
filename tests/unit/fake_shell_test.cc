// Folder creation where the user may not create anything cannot be shown
// under Wine (it runs as root here), so the fake's answers are pinned here.
#include <gtest/gtest.h>

#include "platform/fake/fake.h"
#include "platform/file.h"
#include "platform/shell.h"

namespace {

TEST(FakeShellTest, SHCreateDirectoryExWWhereCreationIsDenied) {
  const std::wstring target = L"C:\\Program Files\\Maretto\\TSL";
  struct Case {
    const char* name;
    const wchar_t* existing;  // made before, or null
    const wchar_t* denied;
    uint32_t expected;
  } cases[] = {
      // The code is the last folder's: TSL cannot be made without Maretto.
      {"denied two levels up", nullptr, L"C:\\Program Files", platform::kErrorPathNotFound},
      {"denied in the parent", L"C:\\Program Files\\Maretto", L"C:\\Program Files\\Maretto",
       platform::kErrorAccessDenied},
      {"already there despite the denial", L"C:\\Program Files\\Maretto\\TSL",
       L"C:\\Program Files\\Maretto", platform::kErrorAlreadyExists},
  };
  for (const Case& c : cases) {
    fake::Reset();
    if (c.existing) fake::AddDirectory(c.existing);
    fake::DenyCreateIn(c.denied);
    EXPECT_EQ(c.expected, platform::SHCreateDirectoryExW(target)) << c.name;
    EXPECT_EQ(c.expected == platform::kErrorAlreadyExists, fake::Exists(target)) << c.name;
  }
  fake::Reset();
}

}  // namespace
