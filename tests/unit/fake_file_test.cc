// What only the fake can show: the controls of platform/fake/fake.h that the
// contract tests cannot reach from Windows.
#include <gtest/gtest.h>

#include "platform/fake/fake.h"
#include "platform/file.h"

namespace {

class FakeFileTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
};

TEST_F(FakeFileTest, DeferredMovesAreRecordedNotDone) {
  fake::AddFile(L"C:\\Program Files\\Maretto\\TSL\\updater.exe", "MZ");
  ASSERT_TRUE(platform::MoveFileExW(L"C:\\Program Files\\Maretto\\TSL\\updater.exe", L"",
                                    platform::kMovefileDelayUntilReboot));
  platform::SetLastError(0xdeadbeef);
  EXPECT_FALSE(platform::MoveFileExW(L"C:\\x.exe", L"C:\\y.exe",
                                     platform::kMovefileDelayUntilReboot |
                                         platform::kMovefileCopyAllowed));
  EXPECT_EQ(platform::kErrorInvalidParameter, platform::GetLastError());

  ASSERT_EQ(1u, fake::PendingMoves().size());
  EXPECT_EQ(L"C:\\Program Files\\Maretto\\TSL\\updater.exe", fake::PendingMoves()[0].from);
  EXPECT_EQ(L"", fake::PendingMoves()[0].to);
  EXPECT_TRUE(fake::Exists(L"C:\\Program Files\\Maretto\\TSL\\updater.exe"));
}

TEST_F(FakeFileTest, FailedSearchAffectsOnlySearching) {
  fake::AddFile(L"C:\\ProgramData\\Orlenda\\a.txt", "a");
  fake::FailSearch(L"c:\\programdata\\orlenda", 5);
  platform::FindData data{0xdeadbeef, L"sentinel"};
  platform::SetLastError(0xdeadbeef);
  EXPECT_EQ(platform::kInvalidHandleValue,
            platform::FindFirstFileW(L"C:\\ProgramData\\Orlenda\\*", &data));
  EXPECT_EQ(5u, platform::GetLastError());
  EXPECT_TRUE(platform::DeleteFileW(L"C:\\ProgramData\\Orlenda\\a.txt"));
  EXPECT_TRUE(platform::RemoveDirectoryW(L"C:\\ProgramData\\Orlenda"));
}

TEST_F(FakeFileTest, LinksThatLoopCannotBeResolved) {
  fake::AddJunction(L"C:\\ProgramData\\a", L"C:\\ProgramData\\b");
  fake::AddJunction(L"C:\\ProgramData\\b", L"C:\\ProgramData\\a");
  platform::FindData data{0xdeadbeef, L"sentinel"};
  platform::SetLastError(0xdeadbeef);
  EXPECT_EQ(platform::kInvalidHandleValue,
            platform::FindFirstFileW(L"C:\\ProgramData\\a\\*", &data));
  EXPECT_EQ(platform::kErrorCantResolveFilename, platform::GetLastError());
  EXPECT_TRUE(platform::RemoveDirectoryW(L"C:\\ProgramData\\a")) << "the link itself goes";
}

}  // namespace
