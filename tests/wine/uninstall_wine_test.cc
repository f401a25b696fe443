// The uninstall's folder tree removal and firewall clean-up against real
// Windows (here: Wine), with their debug trace read back from the trace
// collector:
//
//   trace_collector.exe TRACE uninstall_wine_tests.exe --trace-file=TRACE
//                       [--link-fixture=FOLDER]
//
// The UninstallFromInstallFolder tests run the whole uninstall as
// Add/Remove Programs starts it: from a copy of this program placed by the
// script as C:\Program Files\Maretto\TSL\updater.exe in a Wine prefix of
// its own, with an X display for the real windows and the warning box.
//
// The collector writes each OutputDebugString line to TRACE before this
// program goes on, so a test reads its own lines right after the call.
// --link-fixture names a folder prepared by scripts/wine-uninstall.sh with
// Wine's stand-in for a junction (see FolderLinkIsNeverWalkedInto).
// Where Wine answers differently from Windows, the test says so
// (kRunningUnderWine) and pins Wine's answer with the reason.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/ui_state.h"
#include "install/product_constants.h"
#include "registration/own_image.h"
#include "uninstall/firewall_cleanup.h"
#include "uninstall/remove_tree.h"
#include "uninstall/uninstall_sequence.h"
#include "tests/contract/native_calls.h"
#include "tests/support/uninstall_screens.h"
#include "tests/tools/utf8.h"

namespace screens {

std::ostream& operator<<(std::ostream& os, const Screen& s) {
  return os << "{" << s.percent << "%, \"" << Utf8(s.status) << "\", \"" << Utf8(s.detail)
            << "\"}\n";
}

}  // namespace screens

namespace {

std::wstring g_traceFile;
std::wstring g_linkFixture;

bool DetectWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

const bool kRunningUnderWine = DetectWine();

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
  // Told by the handle, not by a search: ERROR_DIRECTORY on Windows and
  // Wine alike.
  EXPECT_EQ(std::vector<std::string>{TreeLine("FindFirstFile failed for: ", root_, ERROR_DIRECTORY)},
            Texts(records));
  EXPECT_TRUE(Exists(root_));
}

// A second name of a file outside the tree (a hard link, which Wine makes
// as Unix does): its read-only mark belongs to the outside file too, so the
// name stays rather than the mark going; a writable one goes by itself.
TEST_F(UninstallWineTest, HardLinkedFilesLeaveTheSharedFileAsItWas) {
  std::wstring outside = base_ + L"\\outside";
  MakeFolder(outside);
  MakeFile(outside + L"\\ro.txt", "r", FILE_ATTRIBUTE_READONLY);
  MakeFile(outside + L"\\rw.txt", "w");
  MakeFolder(root_);
  ASSERT_TRUE(CreateHardLinkW((root_ + L"\\ro.txt").c_str(), (outside + L"\\ro.txt").c_str(),
                              nullptr));
  ASSERT_TRUE(CreateHardLinkW((root_ + L"\\rw.txt").c_str(), (outside + L"\\rw.txt").c_str(),
                              nullptr));
  int32_t deleted = 0;
  int32_t failed = 0;

  bool result = RemoveDirectoryTree(root_, &deleted, &failed);
  std::vector<Record> records = Trace();

  EXPECT_FALSE(result);
  EXPECT_EQ(1, deleted);
  EXPECT_EQ(1, failed);
  EXPECT_EQ((std::vector<std::string>{
                TreeLine("Failed to delete file: ", root_ + L"\\ro.txt", ERROR_ACCESS_DENIED),
                TreeLine("Failed to remove directory: ", root_, ERROR_DIR_NOT_EMPTY),
            }),
            Texts(records));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY),
            GetFileAttributesW((outside + L"\\ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ("r", ReadWholeFile(outside + L"\\ro.txt"));
  EXPECT_EQ("w", ReadWholeFile(outside + L"\\rw.txt"));
  EXPECT_FALSE(Exists(root_ + L"\\rw.txt"));
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
  int32_t result = RemoveFirewallRules(nullptr);
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

// ---- The whole uninstall, started from the install folder ----

const std::wstring kTsl = L"C:\\Program Files\\Maretto\\TSL";
const std::wstring kMaretto = L"C:\\Program Files\\Maretto";
const std::wstring kSarvenna = L"C:\\Program Files\\Sarvenna Platform";
const std::wstring kDataMaretto = L"C:\\ProgramData\\Maretto";
const std::wstring kOrlenda = L"C:\\ProgramData\\Orlenda";
const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const std::string kMovedPrefix = "[Uninstall] Moved the running program out to: ";

using screens::Screen;

// Every product folder, as a full run visits them.
std::vector<std::wstring> ProductFolders() {
  return std::vector<std::wstring>(std::begin(kProductFolders), std::end(kProductFolders));
}

std::wstring BoxText(const std::vector<std::wstring>& warnings) {
  std::wstring text = L"Uninstallation completed, but some items could not be removed:\n\n";
  for (const auto& w : warnings) text += w;
  return text +
         L"\nYou may need to manually delete remaining files or restart your computer and try "
         L"again.";
}

std::wstring FolderLine(const std::wstring& folder) {
  return L"\u2022 Could not fully remove: " + folder + L"\n";
}

using ::Utf8;
std::vector<std::string> Utf8(const std::vector<std::wstring>& texts) {
  std::vector<std::string> out;
  for (const auto& t : texts) out.push_back(Utf8(t));
  return out;
}

std::vector<Screen> g_screens;

// The main window: records what a paint would show.
LRESULT CALLBACK RecordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcW(window, message, wParam, lParam);
  PAINTSTRUCT paint;
  BeginPaint(window, &paint);
  wchar_t status[256] = {};
  wchar_t detail[256] = {};
  GetWindowTextW(static_cast<HWND>(g_statusLabel), status, 256);
  GetWindowTextW(static_cast<HWND>(g_detailLabel), detail, 256);
  Screen now{g_progressPercent.load(), status, detail};
  // The X server's expose events (the window mapped, the box closing over
  // it) add paints of an unchanged state; only changes are screens.
  if (g_screens.empty() || !(g_screens.back() == now)) g_screens.push_back(now);
  EndPaint(window, &paint);
  return 0;
}

// The warning box as the user sees it.
struct BoxSeen {
  bool seen = false;
  std::wstring text;
  HWND owner = nullptr;
  bool busy = false;
  bool okOnly = false;
  bool warningIcon = false;
};

BOOL CALLBACK ReadBoxChild(HWND child, LPARAM param) {
  auto* box = reinterpret_cast<BoxSeen*>(param);
  wchar_t className[32] = {};
  GetClassNameW(child, className, 32);
  if (lstrcmpiW(className, L"Static") != 0) return TRUE;
  if (GetWindowLongW(child, GWL_STYLE) & SS_ICON) {
    HICON icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
    box->warningIcon = icon != nullptr && icon == LoadIconW(nullptr, IDI_WARNING);
    return TRUE;
  }
  int length = GetWindowTextLengthW(child);
  if (length > 0) {
    std::wstring text(length + 1, L'\0');
    text.resize(GetWindowTextW(child, &text[0], length + 1));
    box->text = text;
  }
  return TRUE;
}

DWORD WINAPI UninstallWorker(void* result) {
  *static_cast<bool*>(result) = RunUninstall();
  return 0;
}

std::wstring ModulePath() {
  wchar_t buffer[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return buffer;
}

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  return temp;
}

// The names that GetTempFileNameW made with our prefix.
std::vector<std::wstring> ReservedTempNames() {
  std::vector<std::wstring> out;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((TempFolder() + L"TSL*.tmp").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return out;
  do out.push_back(TempFolder() + entry.cFileName);
  while (FindNextFileW(find, &entry));
  FindClose(find);
  return out;
}

// PendingFileRenameOperations as (from, to) pairs; an empty `to` deletes.
std::vector<std::pair<std::wstring, std::wstring>> PendingRenames() {
  std::vector<std::pair<std::wstring, std::wstring>> out;
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) != 0) {
    return out;
  }
  DWORD type = 0;
  DWORD size = 0;
  std::wstring data;
  if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) == 0 &&
      type == REG_MULTI_SZ) {
    data.assign(size / sizeof(wchar_t) + 1, L'\0');
    RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type,
                     reinterpret_cast<BYTE*>(&data[0]), &size);
    data.resize(size / sizeof(wchar_t));
  }
  RegCloseKey(key);
  std::vector<std::wstring> strings;
  size_t start = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    if (data[i] == L'\0') {
      strings.push_back(data.substr(start, i - start));
      start = i + 1;
    }
  }
  for (size_t i = 0; i + 1 < strings.size(); i += 2) out.emplace_back(strings[i], strings[i + 1]);
  return out;
}

// Lines the units called by the sequence write; they have tests of their own.
std::vector<std::string> SequenceLines(const std::vector<Record>& records) {
  std::vector<std::string> out;
  for (const Record& r : records) {
    bool other = false;
    for (const char* prefix : {"[NWX Cleanup] ", "[Uninstall] Failed to delete file: ",
                               "[Uninstall] Failed to remove directory: ",
                               "[Uninstall] Removed from Add/Remove Programs"}) {
      other = other || r.text.rfind(prefix, 0) == 0;
    }
    if (!other) out.push_back(r.text);
  }
  return out;
}

class UninstallFromInstallFolderTest : public UninstallWineTest {
 protected:
  void SetUp() override {
    UninstallWineTest::SetUp();
    self_ = ModulePath();
    ASSERT_EQ(0, lstrcmpiW(self_.c_str(), (kTsl + L"\\updater.exe").c_str()))
        << "run from " << Utf8(self_)
        << ", not from the install folder (scripts/wine-uninstall.sh)";

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = RecordingWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TSLUninstallWineTest";
    RegisterClassW(&windowClass);
    HWND main = CreateWindowExW(0, L"TSLUninstallWineTest", L"Tessaline Setup", WS_OVERLAPPED,
                                0, 0, 500, 300, nullptr, nullptr, GetModuleHandleW(nullptr),
                                nullptr);
    ASSERT_NE(nullptr, main) << "no window (an X display is needed): error " << GetLastError();
    g_mainWindow = main;
    g_statusLabel = CreateWindowExW(0, L"STATIC", L"Ready", WS_CHILD, 0, 0, 0, 0, main, nullptr,
                                    nullptr, nullptr);
    g_detailLabel = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 0, 0, main, nullptr,
                                    nullptr, nullptr);
    ShowWindow(main, SW_SHOWNOACTIVATE);
    UpdateWindow(main);
    g_progressPercent = 0;
    g_cancelRequested = false;

    // A full install around this program, and what else an install leaves.
    for (const auto& folder : {kMaretto + L"\\shared", kSarvenna, kDataMaretto,
                               kDataMaretto + L"\\cache", kOrlenda}) {
      CreateDirectoryW(folder.c_str(), nullptr);
    }
    MakeFile(kTsl + L"\\Velquist.exe", "MZ app");
    MakeFile(kTsl + L"\\WebView2Loader.dll", "MZ dll");
    MakeFile(kMaretto + L"\\shared\\settings.json", "{}");
    MakeFile(kSarvenna + L"\\engine.dll", "MZ", FILE_ATTRIBUTE_READONLY);
    MakeFile(kDataMaretto + L"\\cache\\a.bin", "a");
    MakeFile(kOrlenda + L"\\state.db", "s");
    HKEY key;
    ASSERT_EQ(0, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, nullptr, 0, KEY_WRITE,
                                 nullptr, &key, nullptr));
    RegSetValueExW(key, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Tessaline"),
                   10 * sizeof(wchar_t));
    RegCloseKey(key);
    wchar_t desktop[MAX_PATH] = {};
    ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_DESKTOP, nullptr, SHGFP_TYPE_CURRENT, desktop));
    shortcut_ = std::wstring(desktop) + L"\\Tessaline.lnk";
    MakeFile(shortcut_, "lnk");

    reservedBefore_ = ReservedTempNames();
    pendingBefore_ = PendingRenames();
    SkipTrace();
  }
  void TearDown() override {
    ReleaseOwnImage();
    if (g_mainWindow) DestroyWindow(static_cast<HWND>(g_mainWindow));
    g_mainWindow = g_statusLabel = g_detailLabel = nullptr;
    UninstallWineTest::TearDown();
  }

  // RunUninstall on a worker thread, as the window starts it, while this
  // thread serves the window and answers the warning box with OK.
  bool RunAnsweringTheBox() {
    g_screens.clear();
    bool result = true;
    HANDLE worker = CreateThread(nullptr, 0, UninstallWorker, &result, 0, nullptr);
    EXPECT_NE(nullptr, worker) << "error " << GetLastError();
    if (!worker) return false;
    DWORD deadline = GetTickCount() + 60000;
    for (;;) {
      DWORD wait = MsgWaitForMultipleObjects(1, &worker, FALSE, 50, QS_ALLINPUT);
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      if (wait == WAIT_OBJECT_0) break;
      HWND box = FindWindowW(L"#32770", L"Uninstall Warning");
      if (!box_.seen && box && IsWindowVisible(box)) {
        box_.seen = true;
        box_.busy = g_operationInProgress.load();
        box_.owner = GetWindow(box, GW_OWNER);
        box_.okOnly = GetDlgItem(box, IDOK) && !GetDlgItem(box, IDCANCEL) &&
                      !GetDlgItem(box, IDYES) && !GetDlgItem(box, IDNO);
        EnumChildWindows(box, ReadBoxChild, reinterpret_cast<LPARAM>(&box_));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
      }
      if (static_cast<LONG>(GetTickCount() - deadline) > 0) {
        ADD_FAILURE() << "the uninstall did not end within 60 s";
        return false;
      }
    }
    CloseHandle(worker);
    return result;
  }

  void ExpectBox(const std::vector<std::wstring>& warnings) {
    if (warnings.empty()) {
      EXPECT_FALSE(box_.seen) << Utf8(box_.text);
      return;
    }
    ASSERT_TRUE(box_.seen) << "no \"Uninstall Warning\" box";
    EXPECT_EQ(Utf8(BoxText(warnings)), Utf8(box_.text));
    EXPECT_EQ(static_cast<HWND>(g_mainWindow), box_.owner);
    EXPECT_TRUE(box_.okOnly) << "MB_OK: one OK button";
    EXPECT_TRUE(box_.warningIcon) << "MB_ICONWARNING";
    EXPECT_TRUE(box_.busy) << "busy flag down while the box was open";
  }

  // Wine has no filtering engine (its fwpuclnt answers 1764), so there the
  // run always records the engine warning first; on Windows, as
  // administrator, the engine opens.
  static std::vector<std::wstring> EngineWarning() {
    if (!kRunningUnderWine) return {};
    return {L"\u2022 Could not access Windows Filtering Platform\n"};
  }

  std::wstring self_;
  std::wstring shortcut_;
  std::vector<std::wstring> reservedBefore_;
  std::vector<std::pair<std::wstring, std::wstring>> pendingBefore_;
  BoxSeen box_;
};

TEST_F(UninstallFromInstallFolderTest, RunningProgramIsMovedOutAndDeletedAtRestart) {
  // Held as the program holds itself from its start.
  HoldOwnImage("[Uninstall] ");
  ASSERT_NE(INVALID_HANDLE_VALUE, static_cast<HANDLE>(g_ownImage)) << g_ownImageError;
  bool result = RunAnsweringTheBox();
  std::vector<Record> records = Trace();

  std::vector<std::wstring> warnings = EngineWarning();
  EXPECT_EQ(warnings.empty(), result);
  ExpectBox(warnings);
  EXPECT_EQ(screens::UninstallScreens(ProductFolders(), !warnings.empty()), g_screens);
  EXPECT_FALSE(g_operationInProgress.load());
  for (const wchar_t* folder : kProductFolders) {
    EXPECT_FALSE(Exists(folder)) << Utf8(folder) << " is still there";
  }
  EXPECT_FALSE(Exists(shortcut_));
  HKEY key;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, KEY_READ, &key));

  // The program was moved to a reserved name in the temp folder.
  std::vector<std::string> lines = SequenceLines(records);
  ASSERT_EQ(2u, lines.size()) << ::testing::PrintToString(lines);
  ASSERT_EQ(0u, lines[0].rfind(kMovedPrefix, 0)) << lines[0];
  EXPECT_EQ("[Uninstall] Files deleted: 6, failed: 0\n", lines[1]);
  for (const Record& r : records) {
    if (r.text.rfind(kMovedPrefix, 0) == 0) {
      EXPECT_EQ(WideKind(), r.kind) << r.text;
    }
  }
  std::string parkedUtf8 = lines[0].substr(kMovedPrefix.size());
  parkedUtf8.pop_back();  // the line feed
  std::vector<std::wstring> reserved = ReservedTempNames();
  ASSERT_EQ(reservedBefore_.size() + 1, reserved.size()) << "one name reserved and used";
  std::wstring parked;
  for (const auto& name : reserved) {
    if (Utf8(name) == parkedUtf8) parked = name;
  }
  ASSERT_FALSE(parked.empty()) << parkedUtf8 << " is not in " << Utf8(TempFolder());
  EXPECT_EQ(0, lstrcmpiW(self_.c_str(), ModulePath().c_str()))
      << "the program still reports where it was started from: " << Utf8(ModulePath());
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(DeleteFileW(parked.c_str())) << "a running program was deleted";
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

  // ...and its deletion registered for the next start.
  std::vector<std::pair<std::wstring, std::wstring>> pending = PendingRenames();
  ASSERT_EQ(pendingBefore_.size() + 1, pending.size());
  EXPECT_EQ(Utf8(L"\\??\\" + parked), Utf8(pending.back().first));
  EXPECT_EQ("", Utf8(pending.back().second));

  // The hold went with the file, for an updater copy from the same window.
  ASSERT_NE(INVALID_HANDLE_VALUE, static_cast<HANDLE>(g_ownImage));
  HANDLE moved = CreateFileW(parked.c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, moved) << "error " << GetLastError();
  BY_HANDLE_FILE_INFORMATION a = {};
  BY_HANDLE_FILE_INFORMATION b = {};
  EXPECT_TRUE(GetFileInformationByHandle(static_cast<HANDLE>(g_ownImage), &a));
  EXPECT_TRUE(GetFileInformationByHandle(moved, &b));
  CloseHandle(moved);
  EXPECT_EQ(a.nFileIndexLow, b.nFileIndexLow);
  EXPECT_EQ(a.nFileIndexHigh, b.nFileIndexHigh);
}

TEST_F(UninstallFromInstallFolderTest, RefusedMoveLeavesTheTwoFolderWarnings) {
  // Another program has this file open without delete sharing.
  HANDLE holder = CreateFileW(self_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder) << "error " << GetLastError();
  held_.push_back(holder);

  bool result = RunAnsweringTheBox();
  std::vector<Record> records = Trace();

  std::vector<std::wstring> warnings = EngineWarning();
  warnings.push_back(FolderLine(kTsl));
  warnings.push_back(FolderLine(kMaretto));
  EXPECT_FALSE(result);
  ExpectBox(warnings);
  EXPECT_EQ(screens::UninstallScreens(ProductFolders(), true), g_screens);
  EXPECT_FALSE(g_operationInProgress.load());
  EXPECT_EQ((std::vector<std::string>{
                "[Uninstall] Failed to move the running program out: 32\n",
                "[Uninstall] Files deleted: 6, failed: 2\n",
            }),
            SequenceLines(records));
  EXPECT_TRUE(Exists(self_));
  EXPECT_FALSE(Exists(kTsl + L"\\Velquist.exe"));
  for (const auto& folder : {kSarvenna, kDataMaretto, kOrlenda}) {
    EXPECT_FALSE(Exists(folder)) << Utf8(folder) << " is still there";
  }
  EXPECT_EQ(Utf8(reservedBefore_), Utf8(ReservedTempNames())) << "the reserved name was given back";
  EXPECT_EQ(pendingBefore_.size(), PendingRenames().size());
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
