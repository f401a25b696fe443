#include "app/thread_procs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "app/entry.h"
#include "app/main_window.h"
#include "app/ui_state.h"
#include "install/product_constants.h"
#include "platform/dialog.h"
#include "platform/fake/fake.h"
#include "platform/process.h"
#include "platform/window.h"
#include "platform/ui.h"
#include "tests/unit/app_test_support.h"

namespace {

using app_test::Screen;
using Screens = std::vector<Screen>;
using Strings = std::vector<std::string>;

constexpr char kUninstallComplete[] =
    "Uninstallation complete.\n\nAll components have been removed.";

class ThreadProcsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(app_test::StartWithMainWindow());
    RecordScreens();
  }

  void TearDown() override { app_test::EndWithMainWindow(); }

  // Records every screen; the user confirms Cancel when the first one at
  // `percent` is painted (never when empty).
  void RecordScreens(const std::string& cancelAt = "") {
    screens_.clear();
    app_test::RecordScreens(&screens_, [cancelAt](const Screen& screen) {
      if (!cancelAt.empty() && screen.percent == cancelAt) g_cancelRequested = true;
    });
  }

  // Starts the worker as a click does, lets it run to its end, and then
  // the UI thread's paint of what it left.
  void Run(platform::ThreadProc proc) {
    ASSERT_TRUE(StartWorker(proc));
    ASSERT_EQ(1, fake::RunPendingThreads());
    EXPECT_FALSE(g_workerRunning.load());
    EXPECT_FALSE(g_operationInProgress.load());
    platform::UpdateWindow(g_mainWindow);
  }

  // The screens from the sequence's last one (status and detail as given,
  // still running: only Cancel) onwards.
  Screens From(const std::string& status, const std::string& detail) {
    for (size_t i = screens_.size(); i-- > 0;) {
      if (screens_[i].status == status && screens_[i].detail == detail &&
          screens_[i].buttons == "Cancel") {
        return Screens(screens_.begin() + static_cast<long>(i), screens_.end());
      }
    }
    return {};
  }

  Strings Captions() {
    Strings captions;
    for (const auto& box : fake::MessageBoxes()) captions.push_back(fake::ToUtf8(box.caption));
    return captions;
  }

  std::vector<fake::ProcessStart> Launches() {
    std::vector<fake::ProcessStart> launches;
    for (const auto& start : fake::ProcessStarts()) {
      if (start.api == fake::StartApi::kShellExecuteW ||
          start.api == fake::StartApi::kShellDispatch) {
        launches.push_back(start);
      }
    }
    return launches;
  }

  bool CloseQueued() {
    for (const auto& m : fake::QueuedMessages()) {
      if (m.window == g_mainWindow && m.message == platform::kWmClose) return true;
    }
    return false;
  }

  Screens screens_;
};

TEST_F(ThreadProcsTest, InstallOutcomes) {
  struct Row {
    const char* name;
    std::function<void()> arrange;
    std::string cancelAt;
    std::vector<int32_t> answers;
    std::string lastOfSequence[2];  // status and detail of the sequence's last screen
    Screens tail;                   // from that screen on
    Strings captions;
    bool launched;
  };
  const std::function<void()> serve = app_test::ServeInstall;
  const Row rows[] = {
      {"success, launch accepted",
       serve,
       "",
       {platform::kIdYes},
       {"Installation complete!", "Ready to launch"},
       {{"Installation complete!", "Ready to launch", "100%", "Cancel"},
        {"Installation complete!", "Ready to launch", "0%", "Update | Uninstall"}},
       {"Tessaline"},
       true},
      {"success, launch declined",
       serve,
       "",
       {platform::kIdNo},
       {"Installation complete!", "Ready to launch"},
       {{"Installation complete!", "Ready to launch", "100%", "Cancel"},
        {"Installation complete!", "Ready to launch", "0%", "Update | Uninstall"}},
       {"Tessaline"},
       false},
      {"success, the update queued for the restart: no launch question",
       [] {
         app_test::ServeInstall();
         fake::AddFile(L"C:\\Program Files\\Maretto\\TSL\\Velquist.exe", "old app");
         fake::HoldOpen(L"C:\\Program Files\\Maretto\\TSL\\Velquist.exe", 0x1);
       },
       "",
       {platform::kIdOk},
       {"Installation complete!", "Ready to launch"},
       {{"Installation complete!", "Ready to launch", "100%", "Cancel"},
        {"Installation complete!", "Ready to launch", "0%", "Update | Uninstall"}},
       {"Tessaline"},
       false},
      {"success, cancel confirmed after the last check",
       serve,
       "95%",
       {},
       {"Installation complete!", "Ready to launch"},
       {{"Installation complete!", "Ready to launch", "100%", "Cancel"},
        {"Installation cancelled", "Ready to launch", "100%", "Update | Uninstall"},
        {"Installation cancelled", "", "100%", "Update | Uninstall"},
        {"Installation cancelled", "", "0%", "Update | Uninstall"}},
       {},
       false},
      {"failure: the application is not on the host",
       [] {
         app_test::ServeInstall();
         fake::HttpResponse missing;
         missing.status = 404;
         fake::SetHttpResponse(std::wstring(L"https://") + kDeployHost + kAppDownloadPath,
                               missing);
       },
       "",
       {},
       {"Installing application...", "Downloading application files"},
       {{"Installing application...", "Downloading application files", "70%", "Cancel"},
        {"Installation failed", "Downloading application files", "0%", "Install"},
        {"Installation failed", "See error message for details", "0%", "Install"},
        {"Installation failed", "See error message for details", "0%", "Install"}},
       {"Download Error"},
       false},
      {"cancel confirmed before a check",
       serve,
       "20%",
       {},
       {"Checking prerequisites...", "WebView2 Runtime"},
       {{"Checking prerequisites...", "WebView2 Runtime", "20%", "Cancel"},
        {"Installation cancelled", "WebView2 Runtime", "20%", "Install"},
        {"Installation cancelled", "", "20%", "Install"},
        {"Ready", "", "0%", "Install"},
        {"Ready", "", "0%", "Install"},
        {"Ready", "", "0%", "Install"}},
       {},
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    row.arrange();
    RecordScreens(row.cancelAt);
    fake::AnswerMessageBoxes(row.answers);
    Run(InstallThreadProc);
    EXPECT_EQ(row.tail, From(row.lastOfSequence[0], row.lastOfSequence[1]));
    EXPECT_EQ(row.captions, Captions());
    if (row.answers.size() == 1 && row.answers[0] != platform::kIdOk) {
      const auto& box = fake::MessageBoxes()[0];
      EXPECT_EQ("Installation complete!\n\nWould you like to launch Tessaline now?",
                fake::ToUtf8(box.text));
      EXPECT_EQ(platform::kMbYesNo | platform::kMbIconQuestion, box.type);
      EXPECT_EQ(g_mainWindow, box.owner);
    }
    std::vector<fake::ProcessStart> launches = Launches();
    ASSERT_EQ(row.launched ? 1u : 0u, launches.size());
    if (row.launched) {
      const fake::ProcessStart& start = launches[0];
      EXPECT_EQ("C:\\Program Files\\Maretto\\TSL\\Velquist.exe", fake::ToUtf8(start.program));
      EXPECT_EQ("open", fake::ToUtf8(start.verb));
      EXPECT_EQ(std::make_tuple(nullptr, std::string(), std::string("C:\\Program Files\\Maretto\\TSL"),
                                platform::kSwShowNormal),
                std::make_tuple(start.owner, fake::ToUtf8(start.parameters),
                                fake::ToUtf8(start.directory), start.show));
      EXPECT_TRUE(start.started);
    }
    EXPECT_FALSE(CloseQueued()) << "the window stays open";
  }
}

// Yes starts the application through the desktop shell (the user's token);
// only without one does the setup start it itself, and then it says so.
TEST_F(ThreadProcsTest, LaunchTakesTheDesktopShellWhenThereIsOne) {
  using fake::StartApi;
  struct Row {
    const char* name;
    std::function<void()> arrange;
    Strings captions;
    std::vector<StartApi> apis;
    bool traced;
  };
  const auto noShell = [](platform::HResult answer) {
    return [answer] { fake::SetDesktopShellMissing(answer); };
  };
  const Row rows[] = {
      {"desktop shell", [] {}, {"Tessaline"}, {StartApi::kShellDispatch}, false},
      {"no shell window list", noShell(platform::kRegDbEClassNotReg), {"Tessaline"},
       {StartApi::kShellExecuteW}, true},
      {"no desktop window", noShell(platform::kSFalse), {"Tessaline"},
       {StartApi::kShellExecuteW}, true},
      {"no shell, and the start fails",
       [] {
         fake::SetDesktopShellMissing(platform::kRegDbEClassNotReg);
         fake::SetProcessScript(L"*\\Velquist.exe", fake::ProcessScript{0, 0, false, 5});
       },
       {"Tessaline"}, {StartApi::kShellExecuteW}, false},
      {"LocalSystem: no question", [] { fake::SetLocalSystem(true); }, {}, {}, false},
  };
  const std::string line = "[Install] No desktop shell: the application was started by the setup\n";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    app_test::ServeInstall();
    row.arrange();
    fake::AnswerMessageBoxes({platform::kIdYes});
    Run(InstallThreadProc);
    EXPECT_EQ(row.captions, Captions());
    std::vector<StartApi> apis;
    for (const auto& start : Launches()) apis.push_back(start.api);
    EXPECT_EQ(row.apis, apis);
    const auto& trace = fake::TraceLines();
    EXPECT_EQ(row.traced ? 1 : 0, std::count(trace.begin(), trace.end(), line));
  }
}

TEST_F(ThreadProcsTest, FailedLaunchIsIgnored) {
  app_test::ServeInstall();
  fake::SetProcessScript(L"*\\Velquist.exe", fake::ProcessScript{0, 0, false, 1223});
  fake::AnswerMessageBoxes({platform::kIdYes});
  Run(InstallThreadProc);
  ASSERT_EQ(1u, Launches().size());
  EXPECT_FALSE(Launches()[0].started);
  EXPECT_EQ(Strings{"Tessaline"}, Captions());
  EXPECT_EQ((Screen{"Installation complete!", "Ready to launch", "0%", "Update | Uninstall"}),
            screens_.back());
}

TEST_F(ThreadProcsTest, UninstallOutcomes) {
  struct Row {
    const char* name;
    std::function<void()> arrange;
    std::string cancelAt;
    std::string lastOfSequence[2];
    Screens tail;
    Strings captions;
  };
  const Row rows[] = {
      {"success",
       [] {},
       "",
       {"Uninstallation complete!", "All components removed"},
       {{"Uninstallation complete!", "All components removed", "100%", "Cancel"},
        {"Ready", "All components removed", "0%", "Install"},
        {"Ready", "", "0%", "Install"},
        {"Ready", "", "0%", "Install"}},
       {"Tessaline"}},
      {"warnings: the filtering engine cannot be opened",
       [] { fake::FailFwpmCall(fake::FwpmCall::kEngineOpen, platform::kErrorAccessDenied); },
       "",
       {"Uninstallation completed with warnings", "Some items could not be removed"},
       {{"Uninstallation completed with warnings", "Some items could not be removed", "100%",
         "Cancel"},
        {"Ready", "Some items could not be removed", "0%", "Install"},
        {"Ready", "", "0%", "Install"},
        {"Ready", "", "0%", "Install"}},
       {"Uninstall Warning"}},
      {"cancel confirmed during the task step",
       [] {},
       "25%",
       {"Uninstalling...", "Removing scheduled task"},
       {{"Uninstalling...", "Removing scheduled task", "25%", "Cancel"},
        {"Uninstallation cancelled", "Removing scheduled task", "25%", "Update | Uninstall"},
        {"Uninstallation cancelled", "Some components may remain", "25%", "Update | Uninstall"},
        {"Ready", "Some components may remain", "0%", "Update | Uninstall"},
        {"Ready", "", "0%", "Update | Uninstall"},
        {"Ready", "", "0%", "Update | Uninstall"}},
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    app_test::InstallApplication();
    row.arrange();
    RecordScreens(row.cancelAt);
    Run(UninstallThreadProc);
    EXPECT_EQ(row.tail, From(row.lastOfSequence[0], row.lastOfSequence[1]));
    EXPECT_EQ(row.captions, Captions());
    if (row.captions == Strings{"Tessaline"}) {
      const auto& box = fake::MessageBoxes()[0];
      EXPECT_EQ(kUninstallComplete, fake::ToUtf8(box.text));
      EXPECT_EQ(platform::kMbOk | platform::kMbIconInformation, box.type);
      EXPECT_EQ(g_mainWindow, box.owner);
    }
    EXPECT_FALSE(CloseQueued()) << "the window stays open";
  }
}

TEST_F(ThreadProcsTest, CommandLineUninstallOutcomes) {
  struct Row {
    const char* name;
    bool silent;
    std::function<void()> arrange;
    std::string cancelAt;
    Strings captions;
    int32_t exitCode;
  };
  const auto noEngine = [] {
    fake::FailFwpmCall(fake::FwpmCall::kEngineOpen, platform::kErrorAccessDenied);
  };
  const Row rows[] = {
      {"completed", false, [] {}, "", {"Tessaline"}, 0},
      {"completed, silent", true, [] {}, "", {}, 0},
      {"warnings", false, noEngine, "", {"Uninstall Warning"}, 1},
      {"warnings, silent: the warning box all the same", true, noEngine, "", {"Uninstall Warning"},
       1},
      {"cancelled", false, [] {}, "35%", {}, 1},
      {"cancelled, silent", true, [] {}, "35%", {}, 1},
      {"another setup runs", true,
       [] {
         fake::SetMutexHolder(L"Global\\TessalineSetupMutex", fake::MutexHolder::kRunningSetup);
       },
       "", {"Uninstall Warning"}, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    app_test::InstallApplication();
    g_uninstallMode = true;
    g_silentMode = row.silent;
    g_exitCode = 0xdead;
    row.arrange();
    RecordScreens(row.cancelAt);
    Run(SilentUninstallThreadProc);
    EXPECT_EQ(row.captions, Captions());
    if (row.captions == Strings{"Tessaline"}) {
      EXPECT_EQ(kUninstallComplete, fake::ToUtf8(fake::MessageBoxes()[0].text));
      EXPECT_EQ(platform::kMbOk | platform::kMbIconInformation, fake::MessageBoxes()[0].type);
    }
    EXPECT_EQ(row.exitCode, g_exitCode.load());
    ASSERT_EQ(1u, fake::QueuedMessages().size());
    EXPECT_TRUE(CloseQueued());
  }
}

}  // namespace
