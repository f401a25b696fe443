#include "app/entry.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "app/main_window.h"
#include "app/render.h"
#include "app/thread_procs.h"
#include "app/ui_state.h"
#include "platform/dialog.h"
#include "platform/fake/fake.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "platform/ui.h"
#include "tests/unit/app_test_support.h"

namespace {

using Strings = std::vector<std::string>;

constexpr wchar_t kModule[] = L"C:\\Users\\User\\Downloads\\TessalineSetup.exe";
constexpr uint32_t kMainStyle = 0x00CA0000;  // WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_test::NewProcess();
    fake::AddFile(kModule, "MZ");
  }

  void TearDown() override { app_test::NewProcess(); }

  // The user closes the window the next time the program waits for input.
  static void CloseWhenIdle() {
    fake::WhenIdle([] { fake::PressCloseBox(g_mainWindow); });
  }

  static Strings Captions() {
    Strings captions;
    for (const auto& box : fake::MessageBoxes()) captions.push_back(fake::ToUtf8(box.caption));
    return captions;
  }

  static std::vector<fake::ProcessStart> Relaunches() {
    std::vector<fake::ProcessStart> starts;
    for (const auto& start : fake::ProcessStarts()) {
      if (start.api == fake::StartApi::kShellExecuteExW) starts.push_back(start);
    }
    return starts;
  }

  // Everything the entry holds is given back whichever way it ends.
  static void ExpectEverythingReleased() {
    EXPECT_EQ(0, fake::ComInitCount());
    EXPECT_EQ(0, fake::LiveGdiObjectCount());
    EXPECT_EQ(0, fake::LiveIconCount());
    EXPECT_EQ(0, fake::LiveSidCount());
    EXPECT_EQ(0, fake::OpenThreadHandleCount());
    EXPECT_EQ(0, fake::OpenFileHandleCount());
    EXPECT_TRUE(fake::GdiMisuse().empty());
  }
};

TEST_F(EntryTest, SwitchesAreLowerCasedSubstringsAnywhere) {
  struct Row {
    const wchar_t* commandLine;
    bool uninstall;
    bool silent;
  };
  const Row rows[] = {
      {L"", false, false},
      {L"/uninstall", true, false},
      {L"-uninstall", true, false},
      {L"/UNINSTALL", true, false},
      {L"/Uninstall", true, false},
      {L"--uninstall", true, false},
      {L"/uninstaller", true, false},
      {L"x/uninstallx", true, false},
      {L"uninstall", false, false},
      {L"/un install", false, false},
      {L"/silent", false, true},
      {L"-SILENT", false, true},
      {L"/S", false, true},
      {L"/s", false, true},
      {L"/something", false, true},
      {L"\"C:\\Setup /stuff\\a.txt\"", false, true},
      {L"-s", false, false},
      {L"--s", false, false},
      {L"\\s", false, false},
      {L"/uninstall -s", true, false},
      {L"/uninstall /silent", true, true},
      {L"-UNINSTALL -Silent", true, true},
      {L"/Uninstall/S", true, true},
      // U+0130 (capital I with dot) lower-cases to i, or stays: either way
      // no switch; the fullwidth solidus is not a slash.
      {L"/\u0130nstall \uFF0Fs", false, false},
  };
  for (const Row& row : rows) {
    g_uninstallMode = false;
    g_silentMode = false;
    DetectSwitches(row.commandLine);
    EXPECT_EQ(std::make_pair(row.uninstall, row.silent),
              std::make_pair(g_uninstallMode, g_silentMode))
        << "command line \"" << fake::ToUtf8(row.commandLine) << "\"";
  }
}

TEST_F(EntryTest, AdministratorCheckAndRelaunch) {
  struct Row {
    const char* name;
    std::function<void()> arrange;
    const wchar_t* commandLine;
    bool relaunched;      // ShellExecuteExW was called
    bool boxShown;        // "Administrator Required"
    bool windowCreated;
    int32_t exitCode;
  };
  const auto notAdmin = [] { fake::SetAdministrator(false); };
  const auto declined = [] {
    fake::SetAdministrator(false);
    fake::SetProcessScript(kModule, fake::ProcessScript{0, 0, false, platform::kErrorCancelled});
  };
  const Row rows[] = {
      {"administrator", [] {}, L"", false, false, true, 0},
      {"not a member: relaunched", notAdmin, L"", true, false, false, 0},
      {"relaunch passes the command line exactly", notAdmin, L"  /Uninstall  \"C:\\a b\"/S ",
       true, false, false, 0},
      {"relaunch with uninstall and silent", notAdmin, L"/uninstall /silent", true, false, false,
       0},
      {"elevation declined", declined, L"", true, true, false, 1},
      {"elevation declined, uninstall", declined, L"/uninstall", true, true, false, 1},
      {"elevation declined, silent: no box", declined, L"/uninstall /silent", true, false, false,
       1},
      {"own file gone", [] {
         fake::Reset();
         fake::SetAdministrator(false);
       }, L"", true, true,
       false, 1},
      {"path longer than MAX_PATH: a cut path is never elevated",
       [] {
         std::wstring deep = L"C:\\" + std::wstring(300, L'd') + L"\\TessalineSetup.exe";
         fake::AddFile(deep, "MZ");
         fake::SetModuleFileName(deep);
         fake::SetAdministrator(false);
       },
       L"", false, true, false, 1},
      {"SID cannot be built: counts as no membership",
       [] { fake::FailNextAllocateSid(platform::kErrorNotEnoughMemory); }, L"", true, false, false,
       0},
      {"membership cannot be checked: counts as none",
       [] { fake::FailNextCheckTokenMembership(platform::kErrorAccessDenied); }, L"", true, false,
       false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    row.arrange();
    fake::AddIconResource(kAppIconId);
    CloseWhenIdle();
    int32_t code = RunSetup(fake::MainInstance(), row.commandLine);
    EXPECT_EQ(row.exitCode, code);
    std::vector<fake::ProcessStart> relaunches = Relaunches();
    ASSERT_EQ(row.relaunched ? 1u : 0u, relaunches.size());
    if (row.relaunched) {
      const fake::ProcessStart& r = relaunches[0];
      EXPECT_EQ(fake::ToUtf8(kModule), fake::ToUtf8(r.program));
      EXPECT_EQ("runas", fake::ToUtf8(r.verb));
      EXPECT_EQ(fake::ToUtf8(row.commandLine), fake::ToUtf8(r.parameters));
      EXPECT_EQ(std::make_tuple(0u, platform::kSwShowNormal), std::make_tuple(r.mask, r.show));
    }
    EXPECT_EQ(row.boxShown ? Strings{"Administrator Required"} : Strings{}, Captions());
    if (row.boxShown) {
      const auto& box = fake::MessageBoxes()[0];
      EXPECT_EQ(nullptr, box.owner);
      EXPECT_EQ(
          "This application requires administrator privileges.\n"
          "Please right-click and select 'Run as administrator'.",
          fake::ToUtf8(box.text));
      EXPECT_EQ(platform::kMbOk | platform::kMbIconError, box.type);
    }
    EXPECT_EQ(row.windowCreated, fake::ClassNamed(kWindowClassName).has_value());
    EXPECT_EQ(platform::kDpiAwarenessContextPerMonitorAwareV2, fake::ProcessDpiAwarenessContext());
    EXPECT_EQ(platform::kIccStandardClasses, fake::CommonControlClasses());
    EXPECT_EQ(platform::kLoadLibrarySearchSystem32, fake::DefaultDllDirectories());
    ExpectEverythingReleased();
  }
}

// While the run lasts, the folder it was started from is not its current
// folder, and its own file can be neither renamed nor replaced; at its
// end the file is free again.
TEST_F(EntryTest, RunsFromTheSystemFolderAndHoldsItsOwnFile) {
  for (const wchar_t* commandLine : {L"", L"/silent"}) {
    SCOPED_TRACE(fake::ToUtf8(commandLine));
    TearDown();
    SetUp();
    std::wstring currentDuringRun;
    uint32_t renameError = 0;
    fake::WhenIdle([&] {
      currentDuringRun = fake::CurrentDirectory();
      renameError = platform::MoveFileExW(kModule, L"C:\\Users\\User\\Downloads\\x.exe", 0)
                        ? 0
                        : platform::GetLastError();
      fake::PressCloseBox(g_mainWindow);
    });
    EXPECT_EQ(0, RunSetup(fake::MainInstance(), commandLine));
    EXPECT_EQ("C:\\Windows\\System32", fake::ToUtf8(currentDuringRun));
    EXPECT_EQ(platform::kErrorSharingViolation, renameError);
    EXPECT_TRUE(fake::TraceLines().empty());
    ExpectEverythingReleased();
  }
}

TEST_F(EntryTest, WindowIsCentredAndSizedForTheScreensDpi) {
  struct Row {
    int screenWidth, screenHeight, dpi;
    int left, top, width, height;
    int titleHeight, iconSize;
  };
  const Row rows[] = {
      {1920, 1080, 96, 700, 380, 520, 320, 22, 48},
      {2400, 1350, 120, 875, 475, 650, 400, 27, 60},
      {2880, 1620, 144, 1050, 570, 780, 480, 33, 72},
      {1366, 768, 96, 423, 224, 520, 320, 22, 48},  // odd remainders truncate
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.dpi);
    TearDown();
    SetUp();
    fake::SetScreen(row.screenWidth, row.screenHeight, row.dpi);
    std::optional<fake::WindowInfo> main;
    std::vector<fake::WindowInfo> labels;
    fake::WhenIdle([&] {
      main = fake::InfoOf(g_mainWindow);
      for (platform::WindowHandle label : fake::WindowsOfClass(L"STATIC")) {
        labels.push_back(*fake::InfoOf(label));
      }
      EXPECT_EQ(row.titleHeight, fake::FontOf(g_titleFont)->height);
      EXPECT_EQ(row.iconSize, g_iconSize);
      fake::PressCloseBox(g_mainWindow);
    });
    EXPECT_EQ(0, RunSetup(fake::MainInstance(), L""));

    ASSERT_TRUE(main.has_value());
    EXPECT_EQ("Tessaline Setup", fake::ToUtf8(main->text));
    EXPECT_EQ("TSLInstallerClass", fake::ToUtf8(main->className));
    EXPECT_EQ(std::make_tuple(kMainStyle, platform::kWsExAppWindow, true),
              std::make_tuple(main->style, main->exStyle, main->visible));
    EXPECT_EQ(std::make_tuple(row.left, row.top, row.width, row.height),
              std::make_tuple(main->rect.left, main->rect.top, main->rect.right - main->rect.left,
                              main->rect.bottom - main->rect.top));
    ASSERT_EQ(2u, labels.size());
    const char* texts[] = {"Ready", ""};
    for (size_t i = 0; i < labels.size(); ++i) {
      const fake::WindowInfo& label = labels[i];
      EXPECT_EQ(texts[i], fake::ToUtf8(label.text));
      EXPECT_EQ(std::make_tuple(platform::kWsChild, 0u, false, uintptr_t{0}),
                std::make_tuple(label.style, label.exStyle, label.visible, label.id));
      EXPECT_EQ(std::make_pair(0, 0), std::make_pair(label.rect.right - label.rect.left,
                                                     label.rect.bottom - label.rect.top));
    }
    ExpectEverythingReleased();
  }
}

TEST_F(EntryTest, WindowClassAsRegistered) {
  CloseWhenIdle();
  ASSERT_EQ(0, RunSetup(fake::MainInstance(), L""));
  std::optional<platform::WindowClass> wc = fake::ClassNamed(L"TSLInstallerClass");
  ASSERT_TRUE(wc.has_value());
  EXPECT_EQ(0u, wc->style);
  EXPECT_EQ(&MainWindowProc, wc->windowProc);
  EXPECT_EQ(fake::MainInstance(), wc->instance);
  EXPECT_EQ(platform::LoadIconW(fake::MainInstance(), kAppIconId), wc->icon);
  EXPECT_NE(nullptr, wc->icon);
  EXPECT_EQ(wc->icon, wc->smallIcon);
  EXPECT_EQ(platform::LoadCursorW(nullptr, platform::kIdcArrow), wc->cursor);
  EXPECT_EQ(nullptr, wc->background);
}

TEST_F(EntryTest, FailedWindowCreationEndsWithOneAndNoMessage) {
  fake::FailNextCreateWindow(platform::kErrorNotEnoughMemory);
  EXPECT_EQ(1, RunSetup(fake::MainInstance(), L"/uninstall"));
  EXPECT_TRUE(fake::MessageBoxes().empty());
  EXPECT_TRUE(fake::Threads().empty());
  ExpectEverythingReleased();
}

TEST_F(EntryTest, CommandLineUninstall) {
  struct Row {
    const char* name;
    const wchar_t* commandLine;
    std::vector<int32_t> answers;
    std::function<void()> arrange;
    Strings captions;
    size_t threads;
    bool userCloses;  // the window stays until the user closes it
    int32_t exitCode;
  };
  const auto none = [] {};
  const auto noEngine = [] {
    fake::FailFwpmCall(fake::FwpmCall::kEngineOpen, platform::kErrorAccessDenied);
  };
  const auto noThread = [] { fake::FailNextCreateThread(platform::kErrorNotEnoughMemory); };
  const Row rows[] = {
      {"confirmation declined", L"/uninstall", {platform::kIdNo}, none, {"Confirm Uninstall"}, 0,
       false, 0},
      {"confirmed and completed", L"/uninstall", {platform::kIdYes}, none,
       {"Confirm Uninstall", "Tessaline"}, 1, false, 0},
      {"-s is not silent", L"-uninstall -s", {platform::kIdNo}, none, {"Confirm Uninstall"}, 0,
       false, 0},
      {"silent and completed", L"/UNINSTALL /S", {}, none, {}, 1, false, 0},
      {"silent with warnings", L"/uninstall /silent", {}, noEngine, {"Uninstall Warning"}, 1,
       false, 1},
      {"confirmed, with warnings", L"/uninstall", {platform::kIdYes}, noEngine,
       {"Confirm Uninstall", "Uninstall Warning"}, 1, false, 1},
      {"worker cannot start: not completed", L"/uninstall /silent", {}, noThread, {}, 0, true, 1},
      {"silent alone waits for a click", L"/silent", {}, none, {}, 0, true, 0},
      {"no switches", L"", {}, none, {}, 0, true, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    fake::AddIconResource(kAppIconId);
    app_test::InstallApplication();
    row.arrange();
    fake::AnswerMessageBoxes(row.answers);
    bool shownOverTheWindow = true;
    fake::OnMessageBox([&shownOverTheWindow](const fake::MessageBoxRecord& box) {
      if (fake::ToUtf8(box.caption) != "Confirm Uninstall") return;
      std::optional<fake::WindowInfo> main = fake::InfoOf(g_mainWindow);
      shownOverTheWindow = main && main->visible && box.owner == g_mainWindow;
      EXPECT_EQ(platform::kMbYesNo | platform::kMbIconWarning, box.type);
      EXPECT_EQ(0u, fake::ToUtf8(box.text).find("This will remove Tessaline and all associated "
                                                "data including:\n\n\xE2\x80\xA2 Application"));
    });
    if (row.userCloses) CloseWhenIdle();
    EXPECT_EQ(row.exitCode, RunSetup(fake::MainInstance(), row.commandLine));
    EXPECT_EQ(row.captions, Captions());
    EXPECT_TRUE(shownOverTheWindow);
    EXPECT_EQ(row.threads, fake::Threads().size());
    if (row.threads) {
      EXPECT_EQ(&SilentUninstallThreadProc, fake::Threads()[0].proc);
    }
    EXPECT_TRUE(fake::WindowsOfClass(kWindowClassName).empty());
    ExpectEverythingReleased();
  }
}

}  // namespace
