// The uninstall's folder tree removal and firewall clean-up against real
// Windows (here: Wine), with their debug trace read back from the trace
// collector:
//
//   trace_collector.exe TRACE uninstall_wine_tests.exe --trace-file=TRACE
//                       [--link-fixture=FOLDER]
//
// The collector writes each OutputDebugString line to TRACE before this
// program goes on, so a test reads its own lines right after the call.
// --link-fixture names a folder prepared by scripts/wine-uninstall.sh with
// Wine's stand-in for a junction (see FolderLinkIsNeverWalkedInto).
// Where Wine answers differently from Windows, the test says so
// (kRunningUnderWine) and pins Wine's answer with the reason.
#include <windows.h>
#include <shellapi.h>
#include <winioctl.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "uninstall/firewall_cleanup.h"
#include "uninstall/remove_tree.h"

namespace {

std::wstring g_traceFile;
std::wstring g_linkFixture;

bool DetectWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

const bool kRunningUnderWine = DetectWine();

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

// One debug string as the collector recorded it.
struct Record {
  char kind;  // 'A' narrow, 'W' wide
  std::string text;
};

std::string ReadWholeFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string content;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) content.append(buffer, read);
  CloseHandle(file);
  return content;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The records written after `offset` bytes of the trace file.
std::vector<Record> RecordsSince(size_t offset) {
  std::string content = ReadWholeFile(g_traceFile);
  std::vector<Record> records;
  size_t start = offset;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) break;
    std::string line = content.substr(start, end - start);
    start = end + 1;
    if (line.size() < 2 || line[1] != '\t') {
      ADD_FAILURE() << "malformed trace record: " << line;
      continue;
    }
    Record record{line[0], std::string()};
    for (size_t i = 2; i < line.size(); ++i) {
      if (line[i] == '%' && i + 2 < line.size() && HexDigit(line[i + 1]) >= 0 &&
          HexDigit(line[i + 2]) >= 0) {
        record.text += static_cast<char>(HexDigit(line[i + 1]) * 16 + HexDigit(line[i + 2]));
        i += 2;
      } else {
        record.text += line[i];
      }
    }
    records.push_back(record);
  }
  return records;
}

std::vector<std::string> Texts(const std::vector<Record>& records) {
  std::vector<std::string> out;
  for (const Record& r : records) out.push_back(r.text);
  return out;
}

std::string TreeLine(const std::string& what, const std::wstring& path, uint32_t code) {
  return "[Uninstall] " + what + Utf8(path) + " error: " + std::to_string(code) + "\n";
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFile(const std::wstring& path, const char* content, DWORD attributes = 0) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << Utf8(path) << ": error " << GetLastError();
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, content, static_cast<DWORD>(strlen(content)), &written, nullptr));
  CloseHandle(h);
  if (attributes) {
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes));
  }
}

void MakeFolder(const std::wstring& path) {
  ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << Utf8(path) << ": error "
                                                       << GetLastError();
}

// Removes what a test left, with plain Win32 calls and never through a link.
void Clean(const std::wstring& folder) {
  DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = folder + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          Clean(path);
        } else {
          SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileW(path.c_str());
        }
      } while (FindNextFileW(find, &entry));
      FindClose(find);
    }
  }
  RemoveDirectoryW(folder.c_str());
}

class UninstallWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(g_traceFile.empty())
        << "run under trace_collector with --trace-file (scripts/wine-uninstall.sh)";
    wchar_t temp[MAX_PATH + 1];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH + 1, temp));
    std::mt19937 random(static_cast<unsigned>(
        std::chrono::steady_clock::now().time_since_epoch().count()));
    base_ = std::wstring(temp) + L"tsl-uninstall-" + std::to_wstring(random() % 1000000);
    MakeFolder(base_);
    root_ = base_ + L"\\Orlenda";
    traceOffset_ = ReadWholeFile(g_traceFile).size();
  }
  void TearDown() override {
    for (HANDLE h : held_) CloseHandle(h);
    Clean(base_);
  }

  // Read right after the call under test: once a check has failed, gtest
  // writes its own messages to the debugger output too.
  std::vector<Record> Trace() const { return RecordsSince(traceOffset_); }
  void SkipTrace() { traceOffset_ = ReadWholeFile(g_traceFile).size(); }

  // Wide lines reach a debugger as wide only through WaitForDebugEventEx,
  // which Wine 8 lacks: there they arrive converted to narrow.
  static char WideKind() { return kRunningUnderWine ? 'A' : 'W'; }

  void Hold(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << Utf8(path) << ": error " << GetLastError();
    held_.push_back(h);
  }

  std::wstring base_;
  std::wstring root_;
  size_t traceOffset_ = 0;
  std::vector<HANDLE> held_;
};

TEST_F(UninstallWineTest, TraceCollectorSeesBothKinds) {
  OutputDebugStringA("narrow probe\n");
  OutputDebugStringW(L"wide probe\n");
  std::vector<Record> records = Trace();
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ('A', records[0].kind);
  EXPECT_EQ("narrow probe\n", records[0].text);
  EXPECT_EQ(WideKind(), records[1].kind);
  EXPECT_EQ("wide probe\n", records[1].text);
}

TEST_F(UninstallWineTest, RemovesANestedTreeWithReadOnlyFiles) {
  MakeFolder(root_);
  MakeFile(root_ + L"\\a.txt", "a");
  MakeFile(root_ + L"\\ro.txt", "r", FILE_ATTRIBUTE_READONLY);
  MakeFile(root_ + L"\\.config", "c");
  MakeFolder(root_ + L"\\Sub");
  MakeFile(root_ + L"\\Sub\\b.txt", "b");
  MakeFolder(root_ + L"\\Sub\\Deep");
  MakeFile(root_ + L"\\Sub\\Deep\\c.txt", "c", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  MakeFolder(root_ + L"\\..data");
  MakeFolder(root_ + L"\\Empty");
  int32_t deleted = 1000;
  int32_t failed = 2000;

  bool result = RemoveDirectoryTree(root_, &deleted, &failed);
  std::vector<Record> records = Trace();

  EXPECT_TRUE(result);
  EXPECT_EQ(1005, deleted);
  EXPECT_EQ(2000, failed);
  EXPECT_FALSE(Exists(root_));
  EXPECT_EQ(std::vector<std::string>{}, Texts(records));
}

TEST_F(UninstallWineTest, FileHeldOpenWithoutSharingStaysAndIsReported) {
  MakeFolder(root_);
  MakeFile(root_ + L"\\a.txt", "a");
  MakeFolder(root_ + L"\\Sub");
  MakeFile(root_ + L"\\Sub\\b.txt", "b", FILE_ATTRIBUTE_READONLY);
  MakeFolder(root_ + L"\\Sub\\Deep");
  MakeFile(root_ + L"\\Sub\\Deep\\c.txt", "c");
  MakeFile(root_ + L"\\Sub\\Deep\\held.bin", "h");
  Hold(root_ + L"\\Sub\\Deep\\held.bin");
  int32_t deleted = 0;
  int32_t failed = 0;

  bool result = RemoveDirectoryTree(root_, &deleted, &failed);
  std::vector<Record> records = Trace();

  EXPECT_FALSE(result);
  EXPECT_EQ(3, deleted);
  EXPECT_EQ(1, failed);
  EXPECT_EQ((std::vector<std::string>{
                TreeLine("Failed to delete file: ", root_ + L"\\Sub\\Deep\\held.bin", 32),
                TreeLine("Failed to remove directory: ", root_ + L"\\Sub\\Deep", 145),
                TreeLine("Failed to remove directory: ", root_ + L"\\Sub", 145),
                TreeLine("Failed to remove directory: ", root_, 145),
            }),
            Texts(records));
  for (const Record& r : records) EXPECT_EQ(WideKind(), r.kind) << r.text;
  EXPECT_TRUE(Exists(root_ + L"\\Sub\\Deep\\held.bin"));
  EXPECT_FALSE(Exists(root_ + L"\\a.txt"));
  EXPECT_FALSE(Exists(root_ + L"\\Sub\\b.txt"));

  // Once the file is let go, a second run finishes the job.
  CloseHandle(held_.back());
  held_.pop_back();
  SkipTrace();
  deleted = 0;
  failed = 0;
  result = RemoveDirectoryTree(root_, &deleted, &failed);
  records = Trace();
  EXPECT_TRUE(result);
  EXPECT_EQ(1, deleted);
  EXPECT_EQ(0, failed);
  EXPECT_FALSE(Exists(root_));
  EXPECT_EQ(std::vector<std::string>{}, Texts(records));
}

TEST_F(UninstallWineTest, AbsentFolderIsAlreadyDone) {
  for (const std::wstring& path : {root_, base_ + L"\\Missing\\Orlenda"}) {
    SCOPED_TRACE(Utf8(path));
    int32_t deleted = 5;
    int32_t failed = 6;
    bool result = RemoveDirectoryTree(path, &deleted, &failed);
    EXPECT_EQ(std::vector<std::string>{}, Texts(Trace()));
    EXPECT_TRUE(result);
    EXPECT_EQ(5, deleted);
    EXPECT_EQ(6, failed);
  }
}

TEST_F(UninstallWineTest, FileInPlaceOfTheFolder) {
  MakeFile(root_, "not a folder");
  bool result = RemoveDirectoryTree(root_, nullptr, nullptr);
  std::vector<Record> records = Trace();
  EXPECT_FALSE(result);
  // Windows fails the search of "file\*" with ERROR_DIRECTORY; Wine with
  // ERROR_INVALID_NAME.
  uint32_t code = kRunningUnderWine ? ERROR_INVALID_NAME : ERROR_DIRECTORY;
  EXPECT_EQ(std::vector<std::string>{TreeLine("FindFirstFile failed for: ", root_, code)},
            Texts(records));
  EXPECT_TRUE(Exists(root_));
}

// Plants a junction at `link` to `target`; returns the failure's code or 0.
DWORD PlantJunction(const std::wstring& link, const std::wstring& target) {
  if (!CreateDirectoryW(link.c_str(), nullptr)) return GetLastError();
  HANDLE h = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  std::wstring substitute = L"\\??\\" + target;
  USHORT subBytes = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
  USHORT printBytes = static_cast<USHORT>(target.size() * sizeof(wchar_t));
  USHORT pathBytes = subBytes + sizeof(wchar_t) + printBytes + sizeof(wchar_t);
  std::vector<BYTE> buffer(16 + pathBytes, 0);
  DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  USHORT header[6] = {static_cast<USHORT>(8 + pathBytes), 0, 0, subBytes,
                      static_cast<USHORT>(subBytes + sizeof(wchar_t)), printBytes};
  memcpy(&buffer[0], &tag, 4);
  memcpy(&buffer[4], header, sizeof header);
  memcpy(&buffer[16], substitute.c_str(), subBytes);
  memcpy(&buffer[16 + subBytes + sizeof(wchar_t)], target.c_str(), printBytes);
  DWORD returned = 0;
  BOOL ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(),
                            static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
  DWORD error = ok ? 0 : GetLastError();
  CloseHandle(h);
  if (!ok) RemoveDirectoryW(link.c_str());
  return error;
}

TEST_F(UninstallWineTest, FolderLinkIsNeverWalkedInto) {
  std::wstring outside = base_ + L"\\outside";
  MakeFolder(outside);
  MakeFile(outside + L"\\keep.txt", "k");
  MakeFile(outside + L"\\ro.txt", "r", FILE_ATTRIBUTE_READONLY);
  MakeFolder(root_);
  MakeFile(root_ + L"\\own.txt", "o");
  DWORD planted = PlantJunction(root_ + L"\\link", outside);
  if (planted == 0) {
    int32_t deleted = 0;
    int32_t failed = 0;
    bool result = RemoveDirectoryTree(root_, &deleted, &failed);
    std::vector<Record> records = Trace();
    EXPECT_TRUE(result);
    EXPECT_EQ(1, deleted);
    EXPECT_EQ(0, failed);
    EXPECT_FALSE(Exists(root_));
    EXPECT_TRUE(Exists(outside + L"\\keep.txt"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY),
              GetFileAttributesW((outside + L"\\ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(std::vector<std::string>{}, Texts(records));
    return;
  }
  ASSERT_TRUE(kRunningUnderWine) << "planting a junction failed: " << planted;
  // Wine 8 has no FSCTL_SET_REPARSE_POINT (ERROR_NOT_SUPPORTED). Its own
  // folder links are Unix symbolic links, which it reports with
  // FILE_ATTRIBUTE_REPARSE_POINT; the script plants one in the fixture:
  // tree\own.txt, tree\link -> outside, outside\keep.txt.
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), planted);
  ASSERT_FALSE(g_linkFixture.empty()) << "no --link-fixture given";
  std::wstring tree = g_linkFixture + L"\\tree";
  std::wstring link = tree + L"\\link";
  DWORD attributes = GetFileAttributesW(link.c_str());
  ASSERT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
            attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
      << "the fixture's link is not seen as a folder link: " << attributes;
  int32_t deleted = 0;
  int32_t failed = 0;

  bool result = RemoveDirectoryTree(tree, &deleted, &failed);
  std::vector<Record> records = Trace();

  EXPECT_TRUE(Exists(g_linkFixture + L"\\outside\\keep.txt")) << "the walk went through the link";
  EXPECT_FALSE(Exists(tree + L"\\own.txt"));
  EXPECT_EQ(1, deleted);
  EXPECT_EQ(0, failed);
  // Wine's RemoveDirectoryW follows its symbolic link and fails on the
  // target's content (145) instead of removing the link as Windows does; so
  // the link and its folder stay and are reported.
  EXPECT_FALSE(result);
  EXPECT_EQ((std::vector<std::string>{
                TreeLine("Failed to remove directory: ", link, ERROR_DIR_NOT_EMPTY),
                TreeLine("Failed to remove directory: ", tree, ERROR_DIR_NOT_EMPTY),
            }),
            Texts(records));
}

TEST_F(UninstallWineTest, FirewallCleanupWithoutAnEngine) {
  int32_t result = RemoveFirewallRules();
  std::vector<Record> records = Trace();
  if (kRunningUnderWine) {
    // Wine's fwpuclnt answers RPC_S_CANNOT_SUPPORT: there is no engine.
    EXPECT_EQ(-1, result);
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ('A', records[0].kind);
    EXPECT_EQ("[NWX Cleanup] FwpmEngineOpen failed: 1764\n", records[0].text);
    return;
  }
  // On Windows, as administrator, the engine opens and the run ends with
  // its summary (the product's objects are normally absent on a test host).
  ASSERT_GE(result, 0) << (records.empty() ? std::string() : records[0].text);
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(0u, records.back().text.rfind("[NWX Cleanup] Deleted ", 0)) << records.back().text;
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  int wargc = 0;
  wchar_t** wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
  for (int i = 1; wargv && i < wargc; ++i) {
    std::wstring arg = wargv[i];
    if (arg.rfind(L"--trace-file=", 0) == 0) g_traceFile = arg.substr(13);
    if (arg.rfind(L"--link-fixture=", 0) == 0) g_linkFixture = arg.substr(15);
  }
  LocalFree(wargv);
  return RUN_ALL_TESTS();
}
