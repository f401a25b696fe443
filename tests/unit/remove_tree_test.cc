#include "uninstall/remove_tree.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
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
         fake::OnFileCall([](fake::FileCall call, const std::wstring& path) {
           if (call != fake::FileCall::kListDirectory || path != kRoot) return;
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
         fake::OnFileCall([](fake::FileCall call, const std::wstring& path) {
           if (call == fake::FileCall::kCreateFile && path == kRoot + L"\\a.txt") {
             platform::DeleteFileW(kRoot + L"\\b.txt");
           }
         });
       },
       false, 1, 1, {Line("Failed to delete file: C:\\ProgramData\\Orlenda\\b.txt error: 2")}, {}},
      // The walk holds the folder open: no one can take it away (to put a
      // link in its place) until it is gone.
      {"the folder cannot be renamed or removed while it is walked", kRoot,
       [](RemoveDirectoryTreeTest*) {
         fake::AddFile(kRoot + L"\\a.txt", "a");
         fake::OnFileCall([](fake::FileCall call, const std::wstring& path) {
           if (call != fake::FileCall::kSetInformation || path != kRoot) return;
           EXPECT_FALSE(platform::RemoveDirectoryW(kRoot));
           EXPECT_FALSE(platform::MoveFileExW(kRoot, L"C:\\ProgramData\\Moved", 0));
           EXPECT_EQ(platform::kErrorSharingViolation, platform::GetLastError());
         });
       },
       true, 1, 0, {}, {}},
  };
}

TEST_F(RemoveDirectoryTreeTest, RemovesTreesAndReportsWhatRemains) {
  for (bool posixDeletion : {true, false})
  for (const TreeCase& c : TreeCases()) {
    SCOPED_TRACE(c.name);
    SCOPED_TRACE(posixDeletion ? "with FileDispositionInfoEx" : "FileDispositionInfo only");
    fake::Reset();
    fake::SetFileDispositionExSupported(posixDeletion);
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

// Four entries, each deleted by one call; without POSIX deletion the
// system is asked for it once, not once per entry.
TEST_F(RemoveDirectoryTreeTest, AsksForPosixDeletionOncePerTree) {
  for (bool posixDeletion : {true, false}) {
    SCOPED_TRACE(posixDeletion ? "with FileDispositionInfoEx" : "FileDispositionInfo only");
    fake::Reset();
    fake::SetFileDispositionExSupported(posixDeletion);
    fake::AddFile(kRoot + L"\\a.txt", "a");
    fake::AddFile(kSub + L"\\b.txt", "b");
    int setCalls = 0;
    fake::OnFileCall([&setCalls](fake::FileCall call, const std::wstring&) {
      if (call == fake::FileCall::kSetInformation) ++setCalls;
    });
    EXPECT_TRUE(RemoveDirectoryTree(kRoot, nullptr, nullptr));
    EXPECT_EQ(posixDeletion ? 4 : 5, setCalls);
    EXPECT_TRUE(fake::ListTree(kRoot).empty());
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

TEST_F(RemoveDirectoryTreeTest, NeverListsThroughALink) {
  fake::AddFile(kSystem + L"\\kernel32.dll", "MZ");
  fake::AddJunction(kRoot + L"\\link", kSystem);
  std::vector<std::wstring> listed;
  fake::OnFileCall([&listed](fake::FileCall call, const std::wstring& path) {
    if (call == fake::FileCall::kListDirectory && (listed.empty() || listed.back() != path)) {
      listed.push_back(path);
    }
  });

  EXPECT_TRUE(RemoveDirectoryTree(kRoot, nullptr, nullptr));

  EXPECT_EQ(std::vector<std::string>{"C:\\ProgramData\\Orlenda"}, Utf8(listed));
  EXPECT_TRUE(fake::Exists(kSystem + L"\\kernel32.dll"));
}

// ---- Someone swaps part of the tree for a link while it is removed ----

const std::wstring kOutside = L"C:\\Users\\Public\\Secret";

// What lies outside the tree: every path with its bytes and attributes.
std::vector<std::string> OutsideState() {
  std::vector<std::string> out;
  for (const std::wstring& path : fake::ListTree(kOutside)) {
    std::optional<std::string> content = fake::FileContent(path);
    out.push_back(fake::ToUtf8(path) + " " +
                  std::to_string(platform::GetFileAttributesW(path)) + " " +
                  content.value_or("(folder)"));
  }
  return out;
}

void BuildSwapTree() {
  fake::AddFile(kOutside + L"\\secret.txt", "s", platform::kFileAttributeReadonly);
  fake::AddFile(kOutside + L"\\Inner\\data.bin", "d");
  fake::AddFile(kRoot + L"\\a.txt", "a");
  fake::AddFile(kRoot + L"\\ro.txt", "r", platform::kFileAttributeReadonly);
  fake::AddFile(kSub + L"\\b.txt", "b");
  fake::AddFile(kSub + L"\\ro2.txt", "r", platform::kFileAttributeReadonly);
  fake::AddFile(kDeep + L"\\c.txt", "c");
}

// At every file-system call of the walk (before it acts), for every folder
// and file of the tree, the tree's owner renames it away and puts a
// junction to a folder outside in its place, when the file system lets
// them. Whatever the moment, nothing outside the tree is touched.
// Runs on the fake only: Wine cannot make junctions, follows its own folder
// links even when asked not to, and has no hook between two calls.
TEST_F(RemoveDirectoryTreeTest, ALinkSwappedInAtAnyPointLeadsNowhere) {
  fake::Reset();
  BuildSwapTree();
  int calls = 0;
  fake::OnFileCall([&calls](fake::FileCall, const std::wstring&) { ++calls; });
  ASSERT_TRUE(RemoveDirectoryTree(kRoot, nullptr, nullptr));
  ASSERT_GT(calls, 10);

  const std::wstring victims[] = {kRoot,          kSub,           kDeep,
                                  kRoot + L"\\ro.txt", kSub + L"\\b.txt", kSub + L"\\ro2.txt"};
  for (bool posixDeletion : {true, false}) {
    for (const std::wstring& victim : victims) {
      int swaps = 0;
      for (int at = 0; at < calls; ++at) {
        SCOPED_TRACE(fake::ToUtf8(victim) + " swapped at call " + std::to_string(at) +
                     (posixDeletion ? "" : " (FileDispositionInfo only)"));
        fake::Reset();
        fake::SetFileDispositionExSupported(posixDeletion);
        BuildSwapTree();
        const std::vector<std::string> before = OutsideState();
        int call = 0;
        fake::OnFileCall([&](fake::FileCall, const std::wstring&) {
          if (call++ != at) return;
          if (platform::MoveFileExW(victim, victim + L".old", 0)) {
            fake::AddJunction(victim, kOutside);
            ++swaps;
          }
        });

        RemoveDirectoryTree(kRoot, nullptr, nullptr);

        fake::OnFileCall(nullptr);
        EXPECT_EQ(before, OutsideState());
        EXPECT_FALSE(fake::Exists(victim) &&
                     (platform::GetFileAttributesW(victim) & platform::kFileAttributeReparsePoint))
            << "the link was left in the tree";
        EXPECT_EQ(0, fake::OpenFileHandleCount());
      }
      EXPECT_GT(swaps, 0) << fake::ToUtf8(victim) << " was never swapped";
    }
  }
}

TEST_F(RemoveDirectoryTreeTest, HardLinksKeepTheSharedFileUnchanged) {
  struct Case {
    const char* name;
    uint32_t attributes;
    bool result;
    int32_t deleted;
    int32_t failed;
    std::vector<std::string> trace;
  } cases[] = {
      // Clearing the mark through this name would clear it on the system's
      // file too: the name stays.
      {"read-only", platform::kFileAttributeReadonly, false, 1, 1,
       {Line("Failed to delete file: C:\\ProgramData\\Orlenda\\hosts error: 5"),
        Line("Failed to remove directory: C:\\ProgramData\\Orlenda error: 145")}},
      {"writable", platform::kFileAttributeArchive, true, 2, 0, {}},
  };
  const std::wstring system = kSystem + L"\\drivers\\etc\\hosts";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    fake::AddFile(system, "127.0.0.1", c.attributes);
    fake::AddFile(kRoot + L"\\own.txt", "o");
    fake::AddHardLink(kRoot + L"\\hosts", system);
    int32_t deleted = 0;
    int32_t failed = 0;

    EXPECT_EQ(c.result, RemoveDirectoryTree(kRoot, &deleted, &failed));

    EXPECT_EQ(c.deleted, deleted);
    EXPECT_EQ(c.failed, failed);
    EXPECT_EQ(c.trace, fake::TraceLines());
    EXPECT_EQ(std::optional<std::string>("127.0.0.1"), fake::FileContent(system));
    EXPECT_EQ(c.attributes, platform::GetFileAttributesW(system));
  }
}

}  // namespace
