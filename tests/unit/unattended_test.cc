#include "app/unattended.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/thread_procs.h"
#include "app/ui_state.h"
#include "install/product_constants.h"
#include "platform/dialog.h"
#include "platform/fake/fake.h"
#include "platform/process.h"
#include "tests/unit/app_test_support.h"

namespace {

using Strings = std::vector<std::string>;

constexpr wchar_t kModule[] = L"C:\\Users\\User\\Downloads\\TessalineSetup.exe";
const char kRunningInstall[] = "[Install] Running unattended: no window, no questions\n";
const char kRunningUninstall[] = "[Uninstall] Running unattended: no window, no questions\n";

class UnattendedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_test::NewProcess();
    fake::AddFile(kModule, "MZ");
  }
  void TearDown() override { app_test::NewProcess(); }

  // The weekly task's process: SYSTEM in session 0, where no window station
  // is visible.
  static void AsTheWeeklyTask() {
    fake::SetSessionId(0);
    fake::SetWindowStationVisible(false);
    fake::SetLocalSystem(true);
  }

  static bool TraceHas(const std::string& line) {
    for (const std::string& l : fake::TraceLines()) {
      if (l == line) return true;
    }
    return false;
  }

  static std::string Trace() {
    std::string all;
    for (const std::string& l : fake::TraceLines()) all += l;
    return all;
  }

  static int ApplicationStarts() {
    int starts = 0;
    for (const auto& start : fake::ProcessStarts()) {
      if (start.program == GetInstallPath(kAppExeName)) ++starts;
    }
    return starts;
  }
};

TEST_F(UnattendedTest, SessionZeroOrAnInvisibleStationIsUnattended) {
  struct Row {
    const char* name;
    uint32_t session;
    bool visible;
    uint32_t sessionFails;  // 0: the query answers
    uint32_t stationFails;
    bool unattended;
  };
  const Row rows[] = {
      {"a user's desktop", 1, true, 0, 0, false},
      {"session 0, even on a visible station", 0, true, 0, 0, true},
      {"a station of its own in a user's session", 2, false, 0, 0, true},
      {"the weekly task", 0, false, 0, 0, true},
      {"session unknown, invisible station", 1, false, platform::kErrorAccessDenied, 0, true},
      {"session unknown, visible station", 1, true, platform::kErrorAccessDenied, 0, false},
      {"station unknown, user's session", 1, true, 0, platform::kErrorInvalidHandle, false},
      {"station unknown, session 0", 0, true, 0, platform::kErrorInvalidHandle, true},
      {"nothing known", 0, false, platform::kErrorAccessDenied, platform::kErrorAccessDenied,
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fake::Reset();
    fake::SetSessionId(row.session);
    fake::SetWindowStationVisible(row.visible);
    if (row.sessionFails) fake::FailNextProcessIdToSessionId(row.sessionFails);
    if (row.stationFails) fake::FailNextGetUserObjectInformation(row.stationFails);
    EXPECT_EQ(row.unattended, IsUnattendedRun());
  }
}

TEST_F(UnattendedTest, LocalSystemIsTheTokensUserAndFailuresCountAsNo) {
  struct Row {
    const char* name;
    bool system;
    bool administrator;
    std::function<void()> fail;
    bool want;
  };
  const Row rows[] = {
      {"SYSTEM", true, true, [] {}, true},
      {"an administrator is not SYSTEM", false, true, [] {}, false},
      {"SID cannot be built", true, true,
       [] { fake::FailNextAllocateSid(platform::kErrorNotEnoughMemory); }, false},
      {"membership cannot be checked", true, true,
       [] { fake::FailNextCheckTokenMembership(platform::kErrorAccessDenied); }, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fake::Reset();
    fake::SetLocalSystem(row.system);
    fake::SetAdministrator(row.administrator);
    row.fail();
    EXPECT_EQ(row.want, IsLocalSystem());
    EXPECT_EQ(0, fake::LiveSidCount());
  }
}

TEST_F(UnattendedTest, ABoxBecomesOneTraceLineAndTheAnswerOfNobody) {
  struct Row {
    const char* name;
    bool uninstallMode;
    const wchar_t* caption;
    const wchar_t* text;
    uint32_t type;
    int32_t answer;
    const char* line;
  };
  const Row rows[] = {
      {"error", false, L"Download Error",
       L"Failed to download application.\n\nHTTP error 404\n\nPlease check your internet "
       L"connection and firewall settings.",
       platform::kMbOk | platform::kMbIconError, platform::kIdOk,
       "[Install] Download Error: Failed to download application. | HTTP error 404 | Please "
       "check your internet connection and firewall settings.\n"},
      {"question", false, L"Tessaline", L"Launch?", platform::kMbYesNo | platform::kMbIconQuestion,
       platform::kIdNo, "[Install] Tessaline: Launch?\n"},
      {"with cancel", true, L"Q", L"\r\nA\r\n", platform::kMbOkCancel, platform::kIdCancel,
       "[Uninstall] Q: A\n"},
      {"warning list", true, L"Uninstall Warning",
       L"Removed:\n\n\u2022 Could not fully remove: C:\\ProgramData\\Orlenda\n\nRetry.",
       platform::kMbOk | platform::kMbIconWarning, platform::kIdOk,
       "[Uninstall] Uninstall Warning: Removed: | \xE2\x80\xA2 Could not fully remove: "
       "C:\\ProgramData\\Orlenda | Retry.\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fake::Reset();
    g_unattended = true;
    g_uninstallMode = row.uninstallMode;
    EXPECT_EQ(row.answer, ShowMessageBox(nullptr, row.text, row.caption, row.type));
    EXPECT_TRUE(fake::MessageBoxes().empty());
    EXPECT_EQ(Strings{row.line}, fake::TraceLines());
  }
}

// What an unattended start does, by command line and machine: never a
// window, a box, a thread or the application; an exit code that says
// whether the work was done.
TEST_F(UnattendedTest, EntryRunsTheSequenceWithoutWindowOrBox) {
  struct Row {
    const char* name;
    const wchar_t* commandLine;
    std::function<void()> arrange;
    int32_t exitCode;
    bool installed;                  // Velquist.exe there at the end
    std::vector<std::string> lines;  // among the trace lines
  };
  const auto install = [] { app_test::ServeInstall(); };
  const auto installed = [] {
    app_test::ServeInstall();
    app_test::InstallApplication();
  };
  const auto appMissing = [] {
    app_test::ServeInstall();
    fake::HttpResponse missing;
    missing.status = 404;
    fake::SetHttpResponse(std::wstring(L"https://") + kDeployHost + kAppDownloadPath, missing);
  };
  const auto noEngine = [installed] {
    installed();
    fake::FailFwpmCall(fake::FwpmCall::kEngineOpen, platform::kErrorAccessDenied);
  };
  const auto notAdmin = [] { fake::SetAdministrator(false); };
  const std::string adminLine =
      "Administrator Required: This application requires administrator privileges. | Please "
      "right-click and select 'Run as administrator'.\n";
  const Row rows[] = {
      {"no switch: the update", L"", install, 0, true, {kRunningInstall}},
      {"/silent changes nothing", L"/silent", install, 0, true, {kRunningInstall}},
      {"download fails",
       L"",
       appMissing,
       1,
       false,
       {kRunningInstall,
        "[Install] Download Error: Failed to download application. | HTTP error 404 | Please "
        "check your internet connection and firewall settings.\n"}},
      {"/uninstall: as silent", L"/uninstall", installed, 0, false, {kRunningUninstall}},
      {"/uninstall /silent", L"/uninstall /silent", installed, 0, false, {kRunningUninstall}},
      {"uninstall with warnings",
       L"/uninstall",
       noEngine,
       1,
       false,
       {"[Uninstall] Uninstall Warning: Uninstallation completed, but some items could not be "
        "removed: | \xE2\x80\xA2 Could not access Windows Filtering Platform | You may need to "
        "manually delete remaining files or restart your computer and try again.\n"}},
      {"not an administrator: no relaunch", L"", notAdmin, 1, false, {"[Install] " + adminLine}},
      {"not an administrator, silent uninstall",
       L"/uninstall /silent",
       notAdmin,
       1,
       false,
       {"[Uninstall] " + adminLine}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    AsTheWeeklyTask();
    row.arrange();
    EXPECT_EQ(row.exitCode, RunSetup(fake::MainInstance(), row.commandLine));
    EXPECT_TRUE(g_unattended);
    EXPECT_TRUE(fake::MessageBoxes().empty());
    EXPECT_FALSE(fake::ClassNamed(kWindowClassName).has_value());
    EXPECT_TRUE(fake::Threads().empty());
    EXPECT_TRUE(fake::ProcessStarts().empty() ||
                fake::ProcessStarts().back().api == fake::StartApi::kCreateProcessW)
        << "no relaunch, no application";
    EXPECT_EQ(0, ApplicationStarts());
    EXPECT_EQ(row.installed, fake::Exists(GetInstallPath(kAppExeName)));
    for (const std::string& line : row.lines)
      EXPECT_TRUE(TraceHas(line)) << line << "\nin\n" << Trace();
    EXPECT_EQ(0, fake::ComInitCount());
    EXPECT_EQ(0, fake::LiveSidCount());
  }
}

// The update as SYSTEM leaves the desktop shortcut out; a run a person
// sees, or another account's, makes it as before.
TEST_F(UnattendedTest, DesktopShortcutOnlyWhereAUserHasADesktop) {
  struct Row {
    const char* name;
    bool unattended;
    bool system;
    bool shortcut;
  };
  const Row rows[] = {
      {"weekly task as SYSTEM", true, true, false},
      {"unattended as an administrator", true, false, true},
      {"SYSTEM on a user's desktop", false, true, true},
  };
  const std::wstring link = std::wstring(fake::kDesktopFolder) + L"\\Tessaline.lnk";
  const std::string skipped = "[Install] Desktop shortcut skipped: running as LocalSystem\n";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    app_test::ServeInstall();
    fake::SetWindowStationVisible(!row.unattended);
    fake::SetLocalSystem(row.system);
    if (!row.unattended) {
      fake::AnswerMessageBoxes({platform::kIdNo});
      fake::WhenIdle([] { StartWorker(InstallThreadProc); });
      fake::WhenIdle([] { fake::PressCloseBox(g_mainWindow); });
    }
    EXPECT_EQ(0, RunSetup(fake::MainInstance(), L""));
    EXPECT_EQ(row.shortcut, fake::ShellLinkAt(link).has_value());
    EXPECT_EQ(!row.shortcut, TraceHas(skipped));
    EXPECT_TRUE(fake::Exists(GetInstallPath(kAppExeName)));
  }
}

// Boxes raised by the thread procedures go the same way, should one run
// unattended: the launch question is answered No, nothing is started.
TEST_F(UnattendedTest, ThreadProcedureBoxesAreRoutedToo) {
  ASSERT_TRUE(app_test::StartWithMainWindow());
  app_test::ServeInstall();
  g_unattended = true;
  InstallThreadProc(nullptr);
  g_uninstallMode = true;
  UninstallThreadProc(nullptr);
  EXPECT_TRUE(fake::MessageBoxes().empty());
  EXPECT_EQ(0, ApplicationStarts());
  EXPECT_TRUE(TraceHas(
      "[Install] Tessaline: Installation complete! | Would you like to launch Tessaline now?\n"));
  EXPECT_TRUE(TraceHas(
      "[Uninstall] Tessaline: Uninstallation complete. | All components have been removed.\n"));
  app_test::EndWithMainWindow();
}

}  // namespace
