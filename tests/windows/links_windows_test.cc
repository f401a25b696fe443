// Tree removal against links, on Windows itself: junctions and directory
// symbolic links at each level of a temp tree, one swapped in between two
// calls of the walk, and a link given as the tree. Wine 8 can create
// neither kind of link for real, so there the case is skipped.
#include <windows.h>
#include <winioctl.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/contract/native_calls.h"
#include "tests/contract/on_wine.h"
#include "tests/windows/kit_support.h"
#include "uninstall/remove_tree.h"

namespace {

constexpr char kSkipLabel[] =
    "Windows only: tree removal against junctions and directory symbolic links "
    "(Wine 8 cannot create them)";

enum class LinkKind { kJunction, kSymbolicLink };

uint32_t PlantLink(LinkKind kind, const std::wstring& link, const std::wstring& target) {
  if (kind == LinkKind::kJunction) return PlantJunction(link, target);
  return CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY)
             ? 0
             : GetLastError();
}

// An oplock on one file of the tree. The walk's open of that file breaks it
// and waits until the break is answered, so what `onBreak` does happens
// between two calls of the walk on every run, not by luck of timing.
class OplockTrap {
 public:
  ~OplockTrap() {
    if (thread_.joinable()) {
      if (!closed_) CancelIoEx(file_, &overlapped_);
      thread_.join();
    }
    if (overlapped_.hEvent) CloseHandle(overlapped_.hEvent);
  }

  // 0 when the oplock is held and the trap set, else the failing code.
  uint32_t Arm(const std::wstring& path, std::function<void()> onBreak) {
    file_ = CreateFileW(path.c_str(), GENERIC_READ,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) return GetLastError();
    overlapped_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    REQUEST_OPLOCK_INPUT_BUFFER in = {};
    in.StructureVersion = REQUEST_OPLOCK_CURRENT_VERSION;
    in.StructureLength = sizeof in;
    in.RequestedOplockLevel =
        OPLOCK_LEVEL_CACHE_READ | OPLOCK_LEVEL_CACHE_HANDLE | OPLOCK_LEVEL_CACHE_WRITE;
    in.Flags = REQUEST_OPLOCK_INPUT_FLAG_REQUEST;
    out_.StructureVersion = REQUEST_OPLOCK_CURRENT_VERSION;
    out_.StructureLength = sizeof out_;
    // A granted oplock stays pending until it breaks.
    if (DeviceIoControl(file_, FSCTL_REQUEST_OPLOCK, &in, sizeof in, &out_, sizeof out_,
                        nullptr, &overlapped_) ||
        GetLastError() != ERROR_IO_PENDING) {
      uint32_t code = GetLastError();
      CloseHandle(file_);
      closed_ = true;
      return code ? code : ERROR_OPLOCK_NOT_GRANTED;
    }
    thread_ = std::thread([this, onBreak] {
      DWORD bytes = 0;
      if (GetOverlappedResult(file_, &overlapped_, &bytes, TRUE)) {
        fired_ = true;
        onBreak();
      }
      // Closing answers the break: the walk's open goes on.
      CloseHandle(file_);
      closed_ = true;
    });
    return 0;
  }

  bool fired() const { return fired_; }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped_ = {};
  REQUEST_OPLOCK_OUTPUT_BUFFER out_ = {};
  std::thread thread_;
  std::atomic<bool> fired_{false};
  std::atomic<bool> closed_{false};
};

class LinksOnWindows : public ::testing::Test {
 protected:
  // A folder outside the tree with one file that must survive.
  void MakeTarget(const std::wstring& name) {
    ASSERT_TRUE(CreateDirectoryW(temp_.At(L"outside\\" + name).c_str(), nullptr)) << name;
    ASSERT_TRUE(WriteKitFile(temp_.At(L"outside\\" + name + L"\\keep.txt"), "keep"));
    targets_.push_back(temp_.At(L"outside\\" + name));
  }

  void ExpectTargetsIntact() {
    for (const std::wstring& target : targets_) {
      EXPECT_TRUE(KitPathExists(target + L"\\keep.txt"))
          << "a link target was entered: " << ::testing::PrintToString(target);
    }
  }

  KitTempFolder temp_;
  std::vector<std::wstring> targets_;
};

TEST_F(LinksOnWindows, LinksAtEveryLevelAndOneSwappedInAreRemovedAsLinks) {
  if (RunningOnWine()) GTEST_SKIP() << kSkipLabel;
  ASSERT_TRUE(CreateDirectoryW(temp_.At(L"outside").c_str(), nullptr)) << LastErrorText();
  // tree, tree\d1, tree\d1\d2: a file, a junction and a directory symbolic
  // link to a folder outside at each level.
  std::wstring level = temp_.At(L"tree");
  int32_t files = 0;
  for (int depth = 0; depth < 3; ++depth) {
    ASSERT_TRUE(CreateDirectoryW(level.c_str(), nullptr)) << LastErrorText();
    ASSERT_TRUE(WriteKitFile(level + L"\\f.txt", "f"));
    ++files;
    for (LinkKind kind : {LinkKind::kJunction, LinkKind::kSymbolicLink}) {
      std::wstring name = (kind == LinkKind::kJunction ? L"j" : L"s") + std::to_wstring(depth);
      MakeTarget(name);
      ASSERT_EQ(0u, PlantLink(kind, level + L"\\" + name, targets_.back())) << "link " << depth;
    }
    level += L"\\d" + std::to_wstring(depth + 1);
  }
  // "swapped" is a real folder when the walk lists the top; the walk's open
  // of "0-trap.txt" (listed first) moves it outside and puts a junction to
  // it in its place.
  ASSERT_TRUE(CreateDirectoryW(temp_.At(L"tree\\swapped").c_str(), nullptr));
  ASSERT_TRUE(WriteKitFile(temp_.At(L"tree\\swapped\\keep.txt"), "keep"));
  ASSERT_TRUE(WriteKitFile(temp_.At(L"tree\\0-trap.txt"), "trap"));
  ++files;
  std::wstring moved = temp_.At(L"outside\\moved");
  uint32_t swapped = ERROR_GEN_FAILURE;
  OplockTrap trap;
  ASSERT_EQ(0u, trap.Arm(temp_.At(L"tree\\0-trap.txt"), [&] {
    if (MoveFileExW(temp_.At(L"tree\\swapped").c_str(), moved.c_str(), 0)) {
      swapped = PlantJunction(temp_.At(L"tree\\swapped"), moved);
    } else {
      swapped = GetLastError();
    }
  })) << "no oplock on the trap file";
  targets_.push_back(moved);

  int32_t deleted = 0;
  int32_t failed = 0;
  EXPECT_TRUE(RemoveDirectoryTree(temp_.At(L"tree"), &deleted, &failed));
  ASSERT_TRUE(trap.fired()) << "the walk never opened the trap file";
  EXPECT_EQ(0u, swapped) << "the junction was not swapped in";
  EXPECT_FALSE(KitPathExists(temp_.At(L"tree")));
  EXPECT_EQ(files, deleted);
  EXPECT_EQ(0, failed);
  ExpectTargetsIntact();
}

TEST_F(LinksOnWindows, ALinkGivenAsTheTreeIsRemovedItself) {
  if (RunningOnWine()) GTEST_SKIP() << kSkipLabel;
  ASSERT_TRUE(CreateDirectoryW(temp_.At(L"outside").c_str(), nullptr)) << LastErrorText();
  MakeTarget(L"target");
  for (LinkKind kind : {LinkKind::kJunction, LinkKind::kSymbolicLink}) {
    SCOPED_TRACE(kind == LinkKind::kJunction ? "junction" : "directory symbolic link");
    ASSERT_EQ(0u, PlantLink(kind, temp_.At(L"top"), targets_.back()));
    int32_t deleted = 0;
    EXPECT_TRUE(RemoveDirectoryTree(temp_.At(L"top"), &deleted, nullptr));
    EXPECT_FALSE(KitPathExists(temp_.At(L"top")));
    EXPECT_EQ(0, deleted);
    ExpectTargetsIntact();
  }
}

}  // namespace
