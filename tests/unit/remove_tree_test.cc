#include "uninstall/remove_tree.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/fake/fake.h"
#include "platform/file.h"

namespace {

const std::wstring kRoot = L"C:\\ProgramData\\Orlenda";
const std::wstring kSub = kRoot + L"\\Sub";
const std::wstring kDeep = kSub + L"\\Deep";
const std::wstring kSystem = L"C:\\Windows\\System32";

// Counters start away from zero: the walk adds to them, never resets them.
constexpr int32_t kDeletedBefore = 7;
constexpr int32_t kFailedBefore = 3;

std::vector<std::string> Utf8(const std::vector<std::wstring>& paths) {
  std::vector<std::string> out;
  for (const auto& p : paths) out.push_back(fake::ToUtf8(p));
  return out;
}

std::string Line(const std::string& text) { return "[Uninstall] " + text + "\n"; }

class RemoveDirectoryTreeTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override {
    for (platform::Handle h : held_) platform::CloseHandle(h);
    EXPECT_EQ(0, fake::OpenFindHandleCount()) << "search handles leaked";
    EXPECT_EQ(0, fake::OpenFileHandleCount()) << "file handles leaked";
  }

 public:
  // Another program keeps the file open without sharing until the test ends.
  void Hold(const std::wstring& path) {
    platform::Handle h = fake::HoldOpen(path, 0);
    ASSERT_NE(platform::kInvalidHandleValue, h) << fake::ToUtf8(path);
    held_.push_back(h);
  }
  std::vector<platform::Handle> held_;
};

struct TreeCase {
  const char* name;
  std::wstring path;
  std::function<void(RemoveDirectoryTreeTest*)> setUp;
  bool result;
  int32_t deleted;  // added to the counter
  int32_t failed;
  std::vector<std::string> trace;
  // Paths left under (and including) `path` afterwards.
  std::vector<std::wstring> left;
};

std::vector<TreeCase> TreeCases() {
  return {
      {"absent folder", kRoot, [](RemoveDirectoryTreeTest*) {}, true, 0, 0, {}, {}},
      {"absent parent folder", L"C:\\ProgramData\\Gone\\Orlenda", [](RemoveDirectoryTreeTest*) {},
       true, 0, 0, {}, {}},
      {"empty folder", kRoot, [](RemoveDirectoryTreeTest*) { fake::AddDirectory(kRoot); }, true,
       0, 0, {}, {}},
      {"three files and two in a subfolder", kRoot,
       [](RemoveDirectoryTreeTest*) {
         fake::AddFile(kRoot + L"\\a.txt", "a");
         fake::AddFile(kRoot + L"\\b.dat", "b");
         fake::AddFile(kRoot + L"\\c", "c");
         fake::AddFile(kSub + L"\\d.txt", "d");
         fake::AddFile(kSub + L"\\e.txt", "e");
       },
       true, 5, 0, {}, {}},
      {"read-only and hidden files", kRoot,
       [](RemoveDirectoryTreeTest*) {
         fake::AddFile(kRoot + L"\\ro.txt", "r", platform::kFileAttributeReadonly);
         fake::AddFile(kDeep + L"\\rh.bin", "h",
                       platform::kFileAttributeReadonly | platform::kFileAttributeHidden |
                           platform::kFileAttributeArchive);
       },
       true, 2, 0, {}, {}},
      {"a file in use deep down", kRoot,
       [](RemoveDirectoryTreeTest* t) {
         fake::AddFile(kRoot + L"\\a.txt", "a");
         fake::AddFile(kSub + L"\\b.txt", "b");
         fake::AddFile(kDeep + L"\\c.txt", "c");
         fake::AddFile(kDeep + L"\\inuse.dll", "MZ");
         fake::AddFile(kDeep + L"\\z.txt", "z");
         t->Hold(kDeep + L"\\inuse.dll");
       },
       false, 4, 1,
       {Line("Failed to delete file: C:\\ProgramData\\Orlenda\\Sub\\Deep\\inuse.dll error: 32"),
        Line("Failed to remove directory: C:\\ProgramData\\Orlenda\\Sub\\Deep error: 145"),
        Line("Failed to remove directory: C:\\ProgramData\\Orlenda\\Sub error: 145"),
        Line("Failed to remove directory: C:\\ProgramData\\Orlenda error: 145")},
       {kRoot, kSub, kDeep, kDeep + L"\\inuse.dll"}},
      {"two files in use in different folders", kRoot,
       [](RemoveDirectoryTreeTest* t) {
         fake::AddFile(kRoot + L"\\held1.txt", "1");
         fake::AddFile(kRoot + L"\\x.txt", "x");
         fake::AddFile(kRoot + L"\\Other\\y.txt", "y");
         fake::AddFile(kSub + L"\\held2.txt", "2");
         t->Hold(kRoot + L"\\held1.txt");
         t->Hold(kSub + L"\\held2.txt");
       },
       false, 2, 2,
       {Line("Failed to delete file: C:\\ProgramData\\Orlenda\\held1.txt error: 32"),
        Line("Failed to delete file: C:\\ProgramData\\Orlenda\\Sub\\held2.txt error: 32"),
        Line("Failed to remove directory: C:\\ProgramData\\Orlenda\\Sub error: 145"),
        Line("Failed to remove directory: C:\\ProgramData\\Orlenda error: 145")},
       {kRoot, kRoot + L"\\held1.txt", kSub, kSub + L"\\held2.txt"}},
      {"names that begin with dots are ordinary entries", kRoot,
       [](RemoveDirectoryTreeTest*) {
         fake::AddFile(kRoot + L"\\.config", "c");
         fake::AddFile(kRoot + L"\\..data\\inner.txt", "i");
         fake::AddFile(kRoot + L"\\...", "d");
       },
       true, 3, 0, {}, {}},
      {"search denied on a folder with content", kRoot,
       [](RemoveDirectoryTreeTest*) {
         fake::AddFile(kRoot + L"\\secret.txt", "s");
         fake::FailSearch(kRoot, 5);
       },
       false, 0, 0, {Line("FindFirstFile failed for: C:\\ProgramData\\Orlenda error: 5")},
       {kRoot, kRoot + L"\\secret.txt"}},
      {"search denied on an empty folder", kRoot,
       [](RemoveDirectoryTreeTest*) {
         fake::AddDirectory(kRoot);
         fake::FailSearch(kRoot, 5);
       },
       true, 0, 0, {Line("FindFirstFile failed for: C:\\ProgramData\\Orlenda error: 5")}, {}},
      {"search denied on a subfolder", kRoot,
       [](RemoveDirectoryTreeTest*) {
         fake::AddFile(kRoot + L"\\a.txt", "a");
         fake::AddFile(kSub + L"\\b.txt", "b");
         fake::FailSearch(kSub, 5);
       },
       false, 1, 0,
       {Line("FindFirstFile failed for: C:\\ProgramData\\Orlenda\\Sub error: 5"),
        Line("Failed to remove directory: C:\\ProgramData\\Orlenda error: 145")},
       {kRoot, kSub, kSub + L"\\b.txt"}},
      {"a file where the folder should be", kRoot,
       [](RemoveDirectoryTreeTest*) { fake::AddFile(kRoot, "not a folder"); }, false, 0, 0,
       {Line("FindFirstFile failed for: C:\\ProgramData\\Orlenda error: 267")}, {kRoot}},
      {"junction inside the tree to a system folder", kRoot,
       [](RemoveDirectoryTreeTest*) {
         fake::AddFile(kSystem + L"\\kernel32.dll", "MZ");
         fake::AddFile(kSystem + L"\\drivers\\etc\\hosts", "127.0.0.1");
         fake::AddFile(kRoot + L"\\a.txt", "a");
         fake::AddJunction(kSub + L"\\link", kSystem);
       },
       true, 1, 0, {}, {}},
      {"the folder itself is a junction to a system folder", kRoot,
       [](RemoveDirectoryTreeTest*) {
         fake::AddFile(kSystem + L"\\kernel32.dll", "MZ");
         fake::AddJunction(kRoot, L"C:\\Windows");
       },
       true, 0, 0, {}, {}},
      {"a subfolder swapped for a junction while the walk runs", kRoot,
       [](RemoveDirectoryTreeTest*) {
         fake::AddFile(kSystem + L"\\kernel32.dll", "MZ");
         fake::AddFile(kRoot + L"\\a.txt", "a");
         fake::AddFile(kSub + L"\\b.txt", "b");
         fake::OnFindCall([](fake::FindCall call, const std::wstring& pattern) {
           if (call != fake::FindCall::kFirst || pattern != kRoot + L"\\*") return;
           platform::DeleteFileW(kSub + L"\\b.txt");
           platform::RemoveDirectoryW(kSub);
           fake::AddJunction(kSub, kSystem);
         });
       },
       true, 1, 0, {}, {}},
      {"dangling junction", kRoot,
       [](RemoveDirectoryTreeTest*) { fake::AddJunction(kRoot + L"\\gone", L"C:\\Nowhere"); },
       true, 0, 0, {}, {}},
      {"a file vanishes before its deletion", kRoot,
       [](RemoveDirectoryTreeTest*) {
         fake::AddFile(kRoot + L"\\a.txt", "a");
         fake::AddFile(kRoot + L"\\b.txt", "b");
         fake::OnFindCall([](fake::FindCall call, const std::wstring&) {
           if (call == fake::FindCall::kFirst) platform::DeleteFileW(kRoot + L"\\b.txt");
         });
       },
       false, 1, 1, {Line("Failed to delete file: C:\\ProgramData\\Orlenda\\b.txt error: 2")}, {}},
      {"the folder vanishes before its removal", kRoot,
       [](RemoveDirectoryTreeTest*) {
         fake::AddFile(kRoot + L"\\a.txt", "a");
         fake::OnFindCall([](fake::FindCall call, const std::wstring&) {
           if (call == fake::FindCall::kClose) platform::RemoveDirectoryW(kRoot);
         });
       },
       true, 1, 0, {}, {}},
  };
}

TEST_F(RemoveDirectoryTreeTest, RemovesTreesAndReportsWhatRemains) {
  for (const TreeCase& c : TreeCases()) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    c.setUp(this);
    std::vector<std::wstring> systemBefore = fake::ListTree(L"C:\\Windows");
    int32_t deleted = kDeletedBefore;
    int32_t failed = kFailedBefore;

    bool result = RemoveDirectoryTree(c.path, &deleted, &failed);

    EXPECT_EQ(c.result, result);
    EXPECT_EQ(kDeletedBefore + c.deleted, deleted);
    EXPECT_EQ(kFailedBefore + c.failed, failed);
    EXPECT_EQ(c.trace, fake::TraceLines());
    EXPECT_EQ(Utf8(c.left), Utf8(fake::ListTree(c.path)));
    EXPECT_EQ(Utf8(systemBefore), Utf8(fake::ListTree(L"C:\\Windows")))
        << "something outside the tree was touched";
    EXPECT_EQ(0, fake::OpenFindHandleCount());
    for (platform::Handle h : held_) platform::CloseHandle(h);
    held_.clear();
  }
}

TEST_F(RemoveDirectoryTreeTest, NullCountersChangeNothingElse) {
  auto build = [this] {
    fake::Reset();
    held_.clear();
    fake::AddFile(kRoot + L"\\a.txt", "a");
    fake::AddFile(kSub + L"\\b.txt", "b", platform::kFileAttributeReadonly);
    fake::AddFile(kSub + L"\\held.txt", "h");
    Hold(kSub + L"\\held.txt");
  };
  build();
  int32_t deleted = 0;
  int32_t failed = 0;
  ASSERT_FALSE(RemoveDirectoryTree(kRoot, &deleted, &failed));
  const std::vector<std::string> trace = fake::TraceLines();
  const std::vector<std::wstring> left = fake::ListTree(kRoot);
  ASSERT_EQ(2, deleted);
  ASSERT_EQ(1, failed);
  platform::CloseHandle(held_[0]);

  struct Case {
    const char* name;
    bool countDeleted;
    bool countFailed;
  } cases[] = {{"both null", false, false}, {"only deleted", true, false},
               {"only failed", false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    build();
    int32_t d = 0;
    int32_t f = 0;
    EXPECT_FALSE(RemoveDirectoryTree(kRoot, c.countDeleted ? &d : nullptr,
                                     c.countFailed ? &f : nullptr));
    EXPECT_EQ(c.countDeleted ? 2 : 0, d);
    EXPECT_EQ(c.countFailed ? 1 : 0, f);
    EXPECT_EQ(trace, fake::TraceLines());
    EXPECT_EQ(Utf8(left), Utf8(fake::ListTree(kRoot)));
    platform::CloseHandle(held_[0]);
  }
  held_.clear();
}

TEST_F(RemoveDirectoryTreeTest, JunctionTargetKeepsItsContent) {
  const std::wstring target = L"C:\\Users\\Public\\Documents";
  fake::AddFile(target + L"\\letter.txt", "dear");
  fake::AddFile(target + L"\\ro.txt", "ro", platform::kFileAttributeReadonly);
  fake::AddFile(kRoot + L"\\own.txt", "o");
  fake::AddJunction(kRoot + L"\\docs", target);
  int32_t deleted = 0;
  int32_t failed = 0;

  EXPECT_TRUE(RemoveDirectoryTree(kRoot, &deleted, &failed));

  EXPECT_EQ(1, deleted) << "only the tree's own file counts";
  EXPECT_EQ(0, failed);
  EXPECT_FALSE(fake::Exists(kRoot));
  EXPECT_EQ(std::optional<std::string>("dear"), fake::FileContent(target + L"\\letter.txt"));
  EXPECT_EQ(platform::kFileAttributeReadonly,
            platform::GetFileAttributesW(target + L"\\ro.txt"))
      << "the target's read-only mark was cleared";
}

TEST_F(RemoveDirectoryTreeTest, NeverSearchesThroughALink) {
  fake::AddFile(kSystem + L"\\kernel32.dll", "MZ");
  fake::AddJunction(kRoot + L"\\link", kSystem);
  std::vector<std::wstring> patterns;
  fake::OnFindCall([&patterns](fake::FindCall call, const std::wstring& pattern) {
    if (call == fake::FindCall::kFirst) patterns.push_back(pattern);
  });

  EXPECT_TRUE(RemoveDirectoryTree(kRoot, nullptr, nullptr));

  EXPECT_EQ(std::vector<std::string>{"C:\\ProgramData\\Orlenda\\*"}, Utf8(patterns));
  EXPECT_TRUE(fake::Exists(kSystem + L"\\kernel32.dll"));
}

}  // namespace
