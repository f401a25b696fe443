#include "uninstall/uninstall_sequence.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/ui_state.h"
#include "install/product_constants.h"
#include "platform/dialog.h"
#include "platform/fake/fake.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/window.h"
#include "registration/own_image.h"
#include "registration/update_task.h"
#include "tests/unit/label_screen.h"

namespace {

const std::wstring kTsl = L"C:\\Program Files\\Maretto\\TSL";
const std::wstring kMaretto = L"C:\\Program Files\\Maretto";
const std::wstring kSarvenna = L"C:\\Program Files\\Sarvenna Platform";
const std::wstring kDataMaretto = L"C:\\ProgramData\\Maretto";
const std::wstring kOrlenda = L"C:\\ProgramData\\Orlenda";
const std::vector<std::wstring> kAllFolders = {kTsl, kMaretto, kSarvenna, kDataMaretto, kOrlenda};
const std::wstring kUpdater = kTsl + L"\\updater.exe";
const std::wstring kShortcut = std::wstring(fake::kDesktopFolder) + L"\\Tessaline.lnk";
const std::string kUpdaterBytes = "MZ updater";
const std::wstring kSchtasks = L"C:\\Windows\\System32\\schtasks.exe";

using label_screen::Screen;

std::vector<std::string> Utf8(const std::vector<std::wstring>& texts) {
  std::vector<std::string> out;
  for (const auto& t : texts) out.push_back(fake::ToUtf8(t));
  return out;
}

using screens::UninstallScreens;

const std::wstring kEngineLine = L"\u2022 Could not access Windows Filtering Platform\n";
const std::wstring kRegistryLine = L"\u2022 Could not remove registry entries\n";
std::wstring FolderLine(const std::wstring& folder) {
  return L"\u2022 Could not fully remove: " + folder + L"\n";
}

std::wstring BoxText(const std::vector<std::wstring>& warnings) {
  std::wstring text = L"Uninstallation completed, but some items could not be removed:\n\n";
  for (const auto& w : warnings) text += w;
  return text +
         L"\nYou may need to manually delete remaining files or restart your computer and try "
         L"again.";
}

std::string FilesLine(int deleted, int failed) {
  return "[Uninstall] Files deleted: " + std::to_string(deleted) +
         ", failed: " + std::to_string(failed) + "\n";
}
const std::string kShortcutLine =
    "[Uninstall] Desktop shortcut deletion returned false (may not exist)\n";
// Stands for the path the running program was moved to.
const std::string kParkedToken = "<parked>";
const std::string kMovedLine =
    "[Uninstall] Moved the running program out to: " + kParkedToken + "\n";

int TaskDeletionsStarted() {
  int n = 0;
  for (const auto& start : fake::ProcessStarts()) {
    n += start.started && start.program == kSchtasks &&
         start.commandLine.find(L"schtasks.exe\" /Delete") != std::wstring::npos;
  }
  return n;
}

// Lines the units called by the sequence write; they have tests of their own.
bool FromAnotherUnit(const std::string& line) {
  for (const char* prefix :
       {"[NWX Cleanup] ", "[Uninstall] Failed to delete file: ",
        "[Uninstall] Failed to remove directory: ", "[Uninstall] FindFirstFile failed for: ",
        "[Uninstall] Removed from Add/Remove Programs",
        "[Uninstall] Failed to remove registry key: "}) {
    if (line.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

class RunUninstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    g_progressPercent = 0;
    g_operationInProgress = false;
    g_cancelRequested = false;
    g_silentMode = false;
    screens_.clear();
    onScreen_ = nullptr;
    idlePaints_ = 0;
    busyDuringBox_.clear();
    screensAtBox_ = 0;
    fake::AddFile(kSchtasks, "MZ");
    label_screen::CreateWindows();
    fake::OnPaint([this](platform::WindowHandle w) {
      EXPECT_EQ(g_mainWindow, w);
      Screen s = label_screen::Current();
      screens_.push_back(s);
      if (!g_operationInProgress.load()) ++idlePaints_;
      if (onScreen_) onScreen_(s);
    });
    fake::OnMessageBox([this](const fake::MessageBoxRecord&) {
      busyDuringBox_.push_back(g_operationInProgress.load());
      screensAtBox_ = screens_.size();
    });
  }
  void TearDown() override {
    for (platform::Handle h : held_) platform::CloseHandle(h);
    held_.clear();
    ReleaseOwnImage();
    EXPECT_EQ(0, fake::OpenFileHandleCount()) << "file handles leaked";
    EXPECT_EQ(0, fake::OpenFindHandleCount()) << "search handles leaked";
    EXPECT_EQ(0, fake::OpenFwpmHandleCount()) << "engine left open";
    EXPECT_EQ(0, fake::OpenProcessHandleCount()) << "process handles leaked";
    EXPECT_EQ(0, fake::OpenRegistryKeyCount()) << "registry keys left open";
    g_mainWindow = g_statusLabel = g_detailLabel = nullptr;
    g_cancelRequested = false;
    g_operationInProgress = false;
    g_silentMode = false;
  }

 public:
  // A full install: files in the five folders (eight in all, one read-only,
  // some in subfolders), the Add/Remove Programs entry, the shortcut and the
  // product's three filters with their sublayer and provider.
  void InstallEverything() {
    fake::AddFile(kTsl + L"\\Velquist.exe", "MZ app");
    fake::AddFile(kTsl + L"\\WebView2Loader.dll", "MZ dll");
    fake::AddFile(kUpdater, kUpdaterBytes);
    fake::AddFile(kMaretto + L"\\shared\\settings.json", "{}");
    fake::AddFile(kSarvenna + L"\\engine.dll", "MZ", platform::kFileAttributeReadonly);
    fake::AddFile(kSarvenna + L"\\rules\\base.dat", "r");
    fake::AddFile(kDataMaretto + L"\\cache\\a.bin", "a");
    fake::AddFile(kOrlenda + L"\\state.db", "s");
    fake::SetRegistryValue(platform::kHkeyLocalMachine, kUninstallKeyPath, L"DisplayName",
                           platform::kRegSz, fake::RegSz(L"Tessaline"));
    fake::AddFile(kShortcut, "lnk");
    fake::AddFwpmProvider(kFirewallProviderKey);
    fake::AddFwpmSublayer(kFirewallSublayerKey, kFirewallProviderKey);
    for (uint64_t id : {101, 102, 103}) {
      fake::AddFwpmFilter(id, kFirewallProviderKey, kFirewallSublayerKey);
    }
  }
  // Another program keeps the file open with the given sharing.
  void Hold(const std::wstring& path, uint32_t share = 0) {
    platform::Handle h = fake::HoldOpen(path, share);
    ASSERT_NE(platform::kInvalidHandleValue, h) << fake::ToUtf8(path);
    held_.push_back(h);
  }
  void RunningFrom(const std::wstring& path) {
    if (!fake::Exists(path)) fake::AddFile(path, kUpdaterBytes);
    fake::SetModuleFileName(path);
    // As the entry does at the start of every run.
    HoldOwnImage("[Uninstall] ");
  }

  bool Run() {
    traceStart_ = fake::TraceLines().size();
    boxesStart_ = fake::MessageBoxes().size();
    screens_.clear();
    bool result = RunUninstall();
    EXPECT_FALSE(g_operationInProgress.load()) << "busy flag still up after the return";
    EXPECT_EQ(0, idlePaints_) << "painted while the busy flag was down";
    return result;
  }
  // The sequence's own trace lines of the last run, the moved program's
  // path written as kParkedToken.
  std::vector<std::string> OwnTrace() const {
    const auto& moves = fake::PendingMoves();
    std::string parked = moves.empty() ? std::string() : fake::ToUtf8(moves.back().from);
    std::vector<std::string> out;
    const auto& lines = fake::TraceLines();
    for (size_t i = traceStart_; i < lines.size(); ++i) {
      if (FromAnotherUnit(lines[i])) continue;
      std::string line = lines[i];
      size_t at = parked.empty() ? std::string::npos : line.find(parked);
      if (at != std::string::npos) line.replace(at, parked.size(), kParkedToken);
      out.push_back(line);
    }
    return out;
  }
  std::vector<fake::MessageBoxRecord> Boxes() const {
    const auto& all = fake::MessageBoxes();
    return std::vector<fake::MessageBoxRecord>(all.begin() + boxesStart_, all.end());
  }
  // Expects no box, or exactly one listing `warnings`, shown after the last
  // repaint while the busy flag was still up.
  void ExpectBox(const std::vector<std::wstring>& warnings) {
    std::vector<fake::MessageBoxRecord> boxes = Boxes();
    if (warnings.empty()) {
      EXPECT_EQ(0u, boxes.size()) << (boxes.empty() ? "" : fake::ToUtf8(boxes[0].text));
      return;
    }
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(fake::ToUtf8(BoxText(warnings)), fake::ToUtf8(boxes[0].text));
    EXPECT_EQ(L"Uninstall Warning", boxes[0].caption);
    EXPECT_EQ(platform::kMbOk | platform::kMbIconWarning, boxes[0].type) << boxes[0].type;
    EXPECT_EQ(g_mainWindow, boxes[0].owner);
    EXPECT_EQ(std::vector<bool>{true}, busyDuringBox_) << "busy flag while the box is open";
    EXPECT_EQ(screens_.size(), screensAtBox_) << "the box comes after the last repaint";
  }
  // What is left of the product folders.
  static std::vector<std::wstring> Leftovers() {
    std::vector<std::wstring> out;
    for (const auto& folder : {kMaretto, kSarvenna, kDataMaretto, kOrlenda}) {
      for (const auto& path : fake::ListTree(folder)) out.push_back(path);
    }
    return out;
  }

  std::vector<Screen> screens_;
  std::function<void(const Screen&)> onScreen_;
  int idlePaints_ = 0;
  std::vector<bool> busyDuringBox_;
  size_t screensAtBox_ = 0;
  size_t traceStart_ = 0;
  size_t boxesStart_ = 0;
  std::vector<platform::Handle> held_;
};

struct OutcomeCase {
  const char* name;
  std::function<void(RunUninstallTest*)> setUp;
  bool result;
  std::vector<std::wstring> visited;   // folders shown as "Removing: "
  std::vector<std::wstring> warnings;  // the box's lines; none: no box
  std::vector<std::string> ownTrace;
  std::vector<std::wstring> left;
  bool entryLeft = false;
  bool filtersLeft = false;
};

std::vector<OutcomeCase> OutcomeCases() {
  auto everything = [](RunUninstallTest* t) { t->InstallEverything(); };
  return {
      {"nothing present", [](RunUninstallTest*) {}, true, {}, {},
       {kShortcutLine, FilesLine(0, 0)}, {}},
      {"everything present", everything, true, kAllFolders, {},
       {"Deleted 3 firewall rules\n", FilesLine(8, 0)}, {}},
      {"filtering engine unavailable",
       [](RunUninstallTest* t) {
         t->InstallEverything();
         fake::FailFwpmCall(fake::FwpmCall::kEngineOpen, platform::kRpcSCannotSupport);
       },
       false, kAllFolders, {kEngineLine}, {FilesLine(8, 0)}, {}, false, true},
      {"registry entry cannot be deleted",
       [](RunUninstallTest* t) {
         t->InstallEverything();
         fake::DenyRegistryWrites(platform::kHkeyLocalMachine, kUninstallKeyPath);
       },
       false, kAllFolders, {kRegistryLine}, {"Deleted 3 firewall rules\n", FilesLine(8, 0)}, {},
       true},
      {"file held open in C:\\ProgramData\\Maretto",
       [](RunUninstallTest* t) {
         t->InstallEverything();
         t->Hold(kDataMaretto + L"\\cache\\a.bin");
       },
       false, kAllFolders, {FolderLine(kDataMaretto)},
       {"Deleted 3 firewall rules\n", FilesLine(7, 1)},
       {kDataMaretto, kDataMaretto + L"\\cache", kDataMaretto + L"\\cache\\a.bin"}},
      // The parent meets the same file again: two lines, counted twice.
      {"file held open in the install folder",
       [](RunUninstallTest* t) {
         t->InstallEverything();
         t->Hold(kTsl + L"\\Velquist.exe");
       },
       false, kAllFolders, {FolderLine(kTsl), FolderLine(kMaretto)},
       {"Deleted 3 firewall rules\n", FilesLine(7, 2)},
       {kMaretto, kTsl, kTsl + L"\\Velquist.exe"}},
      {"every kind of warning, in step order, in silent mode",
       [](RunUninstallTest* t) {
         g_silentMode = true;
         t->InstallEverything();
         fake::FailFwpmCall(fake::FwpmCall::kEngineOpen, platform::kRpcSCannotSupport);
         fake::DenyRegistryWrites(platform::kHkeyLocalMachine, kUninstallKeyPath);
         t->Hold(kTsl + L"\\WebView2Loader.dll");
         t->Hold(kOrlenda + L"\\state.db");
       },
       false, kAllFolders,
       {kEngineLine, kRegistryLine, FolderLine(kTsl), FolderLine(kMaretto), FolderLine(kOrlenda)},
       {FilesLine(6, 3)},
       {kMaretto, kTsl, kTsl + L"\\WebView2Loader.dll", kOrlenda, kOrlenda + L"\\state.db"},
       true, true},
      {"only two folders present",
       [](RunUninstallTest*) {
         fake::AddFile(kSarvenna + L"\\engine.dll", "MZ");
         fake::AddDirectory(kOrlenda);
       },
       true, {kSarvenna, kOrlenda}, {}, {kShortcutLine, FilesLine(1, 0)}, {}},
      // Any attributes count as present; the tree removal cannot remove it.
      {"a file where a folder should be",
       [](RunUninstallTest*) { fake::AddFile(kOrlenda, "not a folder"); }, false, {kOrlenda},
       {FolderLine(kOrlenda)}, {kShortcutLine, FilesLine(0, 0)}, {kOrlenda}},
  };
}

TEST_F(RunUninstallTest, Outcomes) {
  for (const OutcomeCase& c : OutcomeCases()) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    c.setUp(this);

    bool result = Run();

    EXPECT_EQ(c.result, result);
    EXPECT_EQ(UninstallScreens(c.visited, !c.warnings.empty()), screens_);
    ExpectBox(c.warnings);
    EXPECT_EQ(c.ownTrace, OwnTrace());
    EXPECT_EQ(Utf8(c.left), Utf8(Leftovers()));
    EXPECT_EQ(c.entryLeft, fake::RegistryKeyExists(platform::kHkeyLocalMachine, kUninstallKeyPath));
    EXPECT_EQ(c.filtersLeft, !fake::FwpmFilterIds().empty());
    EXPECT_FALSE(fake::Exists(kShortcut));
    EXPECT_EQ(1, TaskDeletionsStarted());
    EXPECT_TRUE(fake::PendingMoves().empty());
  }
}

// Every way the clean-up can leave the product's filtering objects behind
// reaches the user; one filter gone by itself meanwhile does not.
TEST_F(RunUninstallTest, FirewallCleanupThatFailedSaysSo) {
  const std::wstring firewallLine = L"\u2022 Could not remove all firewall rules\n";
  auto failing = [](fake::FwpmCall call) {
    return [call] { fake::FailFwpmCall(call, platform::kErrorAccessDenied); };
  };
  struct Case {
    const char* name;
    std::function<void()> fault;
    bool warned;
  } cases[] = {
      {"enumeration handle", failing(fake::FwpmCall::kCreateEnumHandle), true},
      {"an enumeration page", failing(fake::FwpmCall::kEnum), true},
      {"a filter deletion", failing(fake::FwpmCall::kDeleteFilter), true},
      {"the sublayer", failing(fake::FwpmCall::kDeleteSublayer), true},
      {"the provider", failing(fake::FwpmCall::kDeleteProvider), true},
      {"the commit", failing(fake::FwpmCall::kTransactionCommit), true},
      {"a filter removed by someone else meanwhile",
       [] {
         fake::OnFwpmCall([](fake::FwpmCall call) {
           if (call == fake::FwpmCall::kDestroyEnumHandle) fake::RemoveFwpmFilter(102);
         });
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    InstallEverything();
    c.fault();

    EXPECT_EQ(!c.warned, Run());

    ExpectBox(c.warned ? std::vector<std::wstring>{firewallLine} : std::vector<std::wstring>{});
  }
}

TEST_F(RunUninstallTest, WarningBoxReadsLineByLine) {
  InstallEverything();
  Hold(kOrlenda + L"\\state.db");
  EXPECT_FALSE(Run());
  ASSERT_EQ(1u, Boxes().size());
  EXPECT_EQ(fake::ToUtf8(L"Uninstallation completed, but some items could not be removed:\n"
                         L"\n"
                         L"\u2022 Could not fully remove: C:\\ProgramData\\Orlenda\n"
                         L"\n"
                         L"You may need to manually delete remaining files or restart your "
                         L"computer and try again."),
            fake::ToUtf8(Boxes()[0].text));
}

struct CancelCase {
  const char* name;
  std::wstring cancelAt;  // the detail line on screen when Cancel is confirmed
  int stepsDone;          // firewall, task, shortcut, registry, folders
};

TEST_F(RunUninstallTest, CancelStopsAtTheNextPoint) {
  const int32_t kStepPercent[] = {5, 25, 35, 45, 55};
  const std::vector<CancelCase> cases = {
      {"during the firewall step", L"Removing firewall rules", 1},
      {"during the task step", L"Removing scheduled task", 2},
      {"during the shortcut step", L"Removing desktop shortcut", 3},
      {"during the registry step", L"Removing registry entries", 4},
      // The folder step, once begun, removes every folder.
      {"during the folder step", L"Removing: " + kSarvenna, 5},
  };
  for (const CancelCase& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    InstallEverything();
    Hold(kOrlenda + L"\\state.db");  // a warning that the cancel drops
    onScreen_ = [&c](const Screen& s) {
      if (s.detail == c.cancelAt) g_cancelRequested = true;
    };

    EXPECT_FALSE(Run());

    EXPECT_EQ(UninstallScreens(kAllFolders, true, kStepPercent[c.stepsDone - 1]), screens_);
    EXPECT_TRUE(Boxes().empty()) << "no box after a cancel";
    EXPECT_TRUE(fake::FwpmFilterIds().empty()) << "the firewall step finishes";
    EXPECT_EQ(c.stepsDone >= 2 ? 1 : 0, TaskDeletionsStarted());
    EXPECT_EQ(c.stepsDone < 3, fake::Exists(kShortcut)) << "shortcut";
    EXPECT_EQ(c.stepsDone < 4,
              fake::RegistryKeyExists(platform::kHkeyLocalMachine, kUninstallKeyPath))
        << "registry entry";
    EXPECT_EQ(c.stepsDone < 5, fake::Exists(kTsl)) << "install folder";
    EXPECT_EQ(c.stepsDone < 5, fake::Exists(kSarvenna + L"\\engine.dll"));
    std::vector<std::string> ownTrace = {"Deleted 3 firewall rules\n"};
    if (c.stepsDone == 5) ownTrace.push_back(FilesLine(7, 1));
    EXPECT_EQ(ownTrace, OwnTrace());
    EXPECT_TRUE(g_cancelRequested.load()) << "the sequence never clears the flag";
  }
}

TEST_F(RunUninstallTest, CancelAfterTheLastPointChangesNothing) {
  InstallEverything();
  Hold(kOrlenda + L"\\state.db");
  onScreen_ = [](const Screen& s) {
    if (s.percent == 100) g_cancelRequested = true;
  };
  EXPECT_FALSE(Run());
  EXPECT_EQ(UninstallScreens(kAllFolders, true), screens_);
  ExpectBox({FolderLine(kOrlenda)});
}

// Add/Remove Programs starts the uninstall from updater.exe in the install
// folder; a running program cannot be deleted.
struct RunningProgramCase {
  const char* name;
  std::wstring module;
  std::function<void(RunUninstallTest*)> setUp;
  bool movedOut;
  std::wstring stays;  // when not moved: where the program still is
  std::vector<std::wstring> warnings;
  std::vector<std::string> ownTrace;
  std::vector<std::wstring> left;
};

std::vector<RunningProgramCase> RunningProgramCases() {
  const std::wstring tools = L"C:\\Tools\\helper.exe";
  auto nothing = [](RunUninstallTest*) {};
  return {
      {"updater.exe in the install folder", kUpdater, nothing, true, L"", {},
       {"Deleted 3 firewall rules\n", kMovedLine, FilesLine(7, 0)}, {}},
      {"path spelt in another case", L"c:\\program files\\maretto\\tsl\\UPDATER.EXE", nothing,
       true, L"", {}, {"Deleted 3 firewall rules\n", kMovedLine, FilesLine(7, 0)}, {}},
      {"a program in a subfolder of another product folder", kOrlenda + L"\\bin\\tool.exe",
       nothing, true, L"", {}, {"Deleted 3 firewall rules\n", kMovedLine, FilesLine(8, 0)}, {}},
      {"a program outside the product folders", L"C:\\Users\\User\\Downloads\\TessalineSetup.exe",
       nothing, false, L"C:\\Users\\User\\Downloads\\TessalineSetup.exe", {},
       {"Deleted 3 firewall rules\n", FilesLine(8, 0)}, {}},
      {"a folder whose name only begins like a product folder",
       L"C:\\Program Files\\Maretto Tools\\updater.exe", nothing, false,
       L"C:\\Program Files\\Maretto Tools\\updater.exe", {},
       {"Deleted 3 firewall rules\n", FilesLine(8, 0)}, {}},
      // The tree removal only removes the link; the program is not ours.
      {"a program reached through a folder link in a product folder",
       kOrlenda + L"\\tools\\helper.exe",
       [tools](RunUninstallTest*) {
         fake::AddFile(tools, kUpdaterBytes);
         fake::AddJunction(kOrlenda + L"\\tools", L"C:\\Tools");
       },
       false, tools, {}, {"Deleted 3 firewall rules\n", FilesLine(8, 0)}, {}},
      {"the move is refused: file open without delete sharing", kUpdater,
       [](RunUninstallTest* t) { t->Hold(kUpdater, platform::kFileShareRead); }, false,
       kUpdater, {FolderLine(kTsl), FolderLine(kMaretto)},
       {"Deleted 3 firewall rules\n", "[Uninstall] Failed to move the running program out: 32\n",
        FilesLine(7, 2)},
       {kMaretto, kTsl, kUpdater}},
      {"no temporary name can be reserved", kUpdater,
       [](RunUninstallTest*) { fake::FailNextGetTempFileName(platform::kErrorAccessDenied); },
       false, kUpdater, {FolderLine(kTsl), FolderLine(kMaretto)},
       {"Deleted 3 firewall rules\n",
        "[Uninstall] Failed to reserve a temporary name for the running program: 5\n",
        FilesLine(7, 2)},
       {kMaretto, kTsl, kUpdater}},
  };
}

TEST_F(RunUninstallTest, RunningProgramInsideAProductFolder) {
  for (const RunningProgramCase& c : RunningProgramCases()) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    InstallEverything();
    c.setUp(this);
    RunningFrom(c.module);
    std::string programBytes = fake::FileContent(c.module).value_or("(none)");
    ASSERT_EQ(kUpdaterBytes, programBytes);
    std::vector<std::wstring> tempBefore = fake::ListTree(fake::kTempFolder);

    bool result = Run();

    EXPECT_EQ(c.warnings.empty(), result);
    ExpectBox(c.warnings);
    EXPECT_EQ(c.ownTrace, OwnTrace());
    EXPECT_EQ(Utf8(c.left), Utf8(Leftovers()));
    std::vector<std::wstring> tempAfter = fake::ListTree(fake::kTempFolder);
    if (!c.movedOut) {
      EXPECT_TRUE(fake::PendingMoves().empty());
      EXPECT_EQ(Utf8(tempBefore), Utf8(tempAfter)) << "nothing left in the temp folder";
      EXPECT_EQ(programBytes, fake::FileContent(c.stays).value_or("(gone)"));
      continue;
    }
    // Moved to a new name in the temp folder, deleted at the next start.
    ASSERT_EQ(1u, fake::PendingMoves().size());
    std::wstring parked = fake::PendingMoves()[0].from;
    EXPECT_EQ(L"", fake::PendingMoves()[0].to);
    EXPECT_EQ(std::wstring(fake::kTempFolder), parked.substr(0, parked.find_last_of(L'\\') + 1));
    EXPECT_EQ(tempBefore.size() + 1, tempAfter.size()) << "only the moved program was added";
    EXPECT_EQ(programBytes, fake::FileContent(parked).value_or("(gone)"));
    EXPECT_FALSE(platform::DeleteFileW(parked)) << "still running, so not deletable now";
    // An install from the same window still gets its updater copy.
    ASSERT_TRUE(platform::CreateDirectoryW(kMaretto));
    ASSERT_TRUE(platform::CreateDirectoryW(kTsl));
    InstallUpdaterCopy();
    EXPECT_EQ(programBytes, fake::FileContent(kUpdater).value_or("(none)"));
  }
}

// An earlier uninstall in the same window moved the program out and an
// install put a new updater.exe in its place: that copy is not running, so
// it is deleted with the folder, and the hold stays on the running program.
TEST_F(RunUninstallTest, UpdaterThatIsNotTheRunningProgramIsNotMovedOut) {
  InstallEverything();
  RunningFrom(kUpdater);
  const std::wstring parked = std::wstring(fake::kTempFolder) + L"TSL1.tmp";
  LetOwnImageMove(kUpdater);
  ASSERT_TRUE(platform::MoveFileExW(kUpdater, parked, 0));
  fake::AddFile(kUpdater, kUpdaterBytes);

  EXPECT_TRUE(Run());
  EXPECT_TRUE(fake::PendingMoves().empty());
  EXPECT_FALSE(fake::Exists(kUpdater));
  EXPECT_TRUE(IsOwnImageAt(parked));
}

TEST_F(RunUninstallTest, SecondRunConverges) {
  InstallEverything();
  RunningFrom(kUpdater);
  Hold(kOrlenda + L"\\state.db");
  EXPECT_FALSE(Run());
  ASSERT_EQ(1u, fake::PendingMoves().size());
  platform::CloseHandle(held_.back());
  held_.pop_back();

  // As at a fresh start of the window.
  platform::SetWindowTextW(g_statusLabel, L"Ready");
  platform::SetWindowTextW(g_detailLabel, L"");
  EXPECT_TRUE(Run()) << "the file let go, the second run finishes the job";
  ExpectBox({});
  EXPECT_EQ(UninstallScreens({kOrlenda}, false), screens_);
  EXPECT_EQ((std::vector<std::string>{kShortcutLine, FilesLine(1, 0)}), OwnTrace());
  EXPECT_EQ(1u, fake::PendingMoves().size());
  EXPECT_EQ(std::vector<std::string>{}, Utf8(Leftovers()));

  EXPECT_TRUE(Run()) << "and a third finds nothing";
  ExpectBox({});
  EXPECT_EQ((std::vector<std::string>{kShortcutLine, FilesLine(0, 0)}), OwnTrace());
}

TEST_F(RunUninstallTest, NothingIsRemovedWhileAnotherSetupRuns) {
  // A name someone else's account holds does not stop it (the install's
  // table shows that rule of TakeSetupMutex).
  for (fake::MutexHolder holder : {fake::MutexHolder::kRunningSetup}) {
    TearDown();
    SetUp();
    InstallEverything();
    std::vector<std::wstring> before = Leftovers();
    fake::SetMutexHolder(L"Global\\TessalineSetupMutex", holder);
    EXPECT_FALSE(Run());
    std::vector<fake::MessageBoxRecord> boxes = Boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(L"Another Tessaline Setup is running.\n\nPlease wait for it to finish and try again.",
              boxes[0].text);
    EXPECT_EQ(L"Uninstall Warning", boxes[0].caption);
    EXPECT_EQ(Utf8(before), Utf8(Leftovers()));
    EXPECT_TRUE(fake::RegistryKeyExists(platform::kHkeyLocalMachine, kUninstallKeyPath));
    EXPECT_EQ(0, TaskDeletionsStarted());
    EXPECT_EQ(0, fake::OpenMutexHandleCount());
  }
}

}  // namespace
