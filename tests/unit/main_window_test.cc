#include "app/main_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "app/entry.h"
#include "app/render.h"
#include "app/thread_procs.h"
#include "app/ui_state.h"
#include "platform/dialog.h"
#include "platform/fake/fake.h"
#include "platform/ui.h"
#include "tests/unit/app_test_support.h"

namespace {

using app_test::kLeftX;
using app_test::kRightX;
using app_test::kRowY;
using app_test::RunUntilIdle;
using app_test::Screen;

constexpr char kCancelText[] = "Are you sure you want to cancel?";

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(app_test::StartWithMainWindow());
    window_ = g_mainWindow;
    app_test::RecordScreens(&screens_);
  }

  void TearDown() override { app_test::EndWithMainWindow(); }

  const Screen& LastScreen() {
    static const Screen kNone{"(no paint)", "", "", ""};
    return screens_.empty() ? kNone : screens_.back();
  }

  bool WindowAlive() { return fake::InfoOf(window_).has_value(); }

  // The user presses the close box when the install shows its first step;
  // the UI thread takes it up while the worker waits for its next repaint.
  void CloseWhenTheInstallStarts() {
    app_test::RecordScreens(&screens_, [this](const Screen& screen) {
      if (screen.percent == "5%" && !closePressed_) {
        closePressed_ = true;
        fake::PressCloseBox(window_);
      }
    });
  }

  // Which of the thread procedures have been started, in order.
  std::vector<std::string> ThreadsStarted() {
    std::vector<std::string> names;
    for (const fake::ThreadRecord& t : fake::Threads()) {
      names.push_back(t.proc == InstallThreadProc     ? "install"
                      : t.proc == UninstallThreadProc ? "uninstall"
                      : t.proc == SilentUninstallThreadProc ? "silent uninstall"
                                                            : "other");
    }
    return names;
  }

  std::vector<std::string> Captions() {
    std::vector<std::string> captions;
    for (const auto& box : fake::MessageBoxes()) captions.push_back(fake::ToUtf8(box.caption));
    return captions;
  }

  platform::WindowHandle window_ = nullptr;
  std::vector<Screen> screens_;
  bool closePressed_ = false;
};

TEST_F(MainWindowTest, CreationAsksForTheDarkTitleBar) {
  auto value = fake::DwmAttribute(window_, platform::kDwmwaUseImmersiveDarkMode);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(std::string("\x01\x00\x00\x00", 4), *value);
}

TEST_F(MainWindowTest, EraseIsAnsweredWithoutErasing) {
  EXPECT_EQ(1, MainWindowProc(window_, platform::kWmEraseBkgnd, 0, 0));
  EXPECT_TRUE(fake::GdiMisuse().empty());
}

TEST_F(MainWindowTest, UnhandledMessagesGetTheDefaultAnswer) {
  // WM_NCCREATE is DefWindowProcW's TRUE; a private message its 0.
  EXPECT_EQ(1, MainWindowProc(window_, platform::kWmNcCreate, 0, 0));
  EXPECT_EQ(0, MainWindowProc(window_, 0x0400, 7, 9));
  EXPECT_TRUE(WindowAlive());
}

TEST_F(MainWindowTest, HoverHighlightsTheButtonUnderThePointerUntilItLeaves) {
  struct Row {
    const char* state;
    int x;
    int32_t hover;
    const char* hovered;
    const char* plain;
  };
  const Row rows[] = {
      {"not installed", kLeftX, kButtonInstall, "Install*", "Install"},
      {"not installed", kRightX, 0, "Install", "Install"},
      {"installed", kLeftX, kButtonInstall, "Update* | Uninstall", "Update | Uninstall"},
      {"installed", kRightX, kButtonUninstall, "Update | Uninstall*", "Update | Uninstall"},
      {"running", kRightX, kButtonCancel, "Cancel*", "Cancel"},
      {"running", kLeftX, 0, "Cancel", "Cancel"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.state) + " at x " + std::to_string(row.x));
    TearDown();
    SetUp();
    if (std::string(row.state) == "installed") app_test::InstallApplication();
    g_operationInProgress = std::string(row.state) == "running";
    fake::MovePointer(window_, row.x, kRowY);
    RunUntilIdle();
    EXPECT_EQ(row.hover, g_hoverButton);
    EXPECT_EQ(row.hovered, LastScreen().buttons);
    ASSERT_EQ(1u, fake::MouseTrackCalls().size());
    EXPECT_EQ(platform::kTmeLeave, fake::MouseTrackCalls()[0].flags);
    EXPECT_EQ(window_, fake::MouseTrackCalls()[0].window);
    EXPECT_EQ(0u, fake::MouseTrackCalls()[0].hoverTime);

    fake::MovePointerAway(window_);
    RunUntilIdle();
    EXPECT_EQ(0, g_hoverButton);
    EXPECT_EQ(row.plain, LastScreen().buttons);
  }
}

TEST_F(MainWindowTest, MovesWithinOneButtonRepaintNothingButRenewTheLeaveRequest) {
  fake::MovePointer(window_, kLeftX, kRowY);
  RunUntilIdle();
  size_t paints = screens_.size();
  fake::MovePointer(window_, kLeftX + 10, kRowY + 5);
  fake::MovePointer(window_, kLeftX - 10, kRowY - 5);
  RunUntilIdle();
  EXPECT_EQ(paints, screens_.size());
  EXPECT_EQ(3u, fake::MouseTrackCalls().size());
  EXPECT_EQ(kButtonInstall, g_hoverButton);
}

TEST_F(MainWindowTest, LeavingWithoutAHighlightRepaintsNothing) {
  fake::MovePointer(window_, 10, 10);
  RunUntilIdle();
  size_t paints = screens_.size();
  fake::MovePointerAway(window_);
  RunUntilIdle();
  EXPECT_EQ(paints, screens_.size());
  EXPECT_EQ(0, g_hoverButton);
}

TEST_F(MainWindowTest, OnlyTheReleasePointCounts) {
  struct Row {
    const char* what;
    int pressX, pressY, releaseX, releaseY;
    bool installed;
    std::vector<std::string> started;
  };
  const std::vector<std::string> none;
  const std::vector<std::string> install = {"install"};
  const Row rows[] = {
      {"press on Install, release elsewhere", kLeftX, kRowY, 100, 100, false, none},
      {"press elsewhere, release on Install", 100, 100, kLeftX, kRowY, false, install},
      {"release on the bottom-right corner of Install", 10, 10, 367, 256, false, install},
      {"release on the top-left corner of Install", 10, 10, 267, 224, false, install},
      {"release one pixel above the row", 10, 10, kLeftX, 223, false, none},
      {"release one pixel right of Install", 10, 10, 368, kRowY, false, none},
      {"release in the empty right slot", 10, 10, kRightX, kRowY, false, none},
      {"release on Update", 10, 10, kLeftX, kRowY, true, install},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TearDown();
    SetUp();
    if (row.installed) app_test::InstallApplication();
    fake::PressLeftButton(window_, row.pressX, row.pressY);
    fake::ReleaseLeftButton(window_, row.releaseX, row.releaseY);
    // The thread is only created here; it runs once the loop is idle.
    while (!fake::QueuedMessages().empty()) {
      platform::Msg msg;
      platform::GetMessageW(&msg);
      platform::DispatchMessageW(&msg);
    }
    EXPECT_EQ(row.started, ThreadsStarted());
    EXPECT_EQ(!row.started.empty(), g_operationInProgress.load());
    EXPECT_TRUE(fake::MessageBoxes().empty());
  }
}

TEST_F(MainWindowTest, UninstallStartsOnlyAfterYes) {
  struct Row {
    int32_t answer;
    std::vector<std::string> started;
  };
  const Row rows[] = {{platform::kIdYes, {"uninstall"}}, {platform::kIdNo, {}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.answer);
    TearDown();
    SetUp();
    app_test::InstallApplication();
    fake::AnswerMessageBoxes({row.answer});
    OnClick(window_, kRightX, kRowY);
    ASSERT_EQ(1u, fake::MessageBoxes().size());
    const auto& box = fake::MessageBoxes()[0];
    EXPECT_EQ(window_, box.owner);
    EXPECT_EQ("Confirm Uninstall", fake::ToUtf8(box.caption));
    EXPECT_EQ(
        "This will remove Tessaline and all associated data including:\n\n"
        "\xE2\x80\xA2 Application files\n\xE2\x80\xA2 Firewall rules\n"
        "\xE2\x80\xA2 Configuration data\n\xE2\x80\xA2 Scheduled tasks\n\n"
        "Are you sure you want to uninstall?",
        fake::ToUtf8(box.text));
    EXPECT_EQ(platform::kMbYesNo | platform::kMbIconWarning, box.type);
    EXPECT_EQ(row.started, ThreadsStarted());
    EXPECT_EQ(!row.started.empty(), g_operationInProgress.load());
  }
}

TEST_F(MainWindowTest, CancelQuestionSetsTheFlagOnlyOnYes) {
  struct Row {
    int32_t answer;
    bool cancelled;
  };
  for (const Row& row : {Row{platform::kIdYes, true}, Row{platform::kIdNo, false}}) {
    SCOPED_TRACE(row.answer);
    TearDown();
    SetUp();
    ASSERT_TRUE(StartWorker(InstallThreadProc));
    fake::AnswerMessageBoxes({row.answer});
    OnClick(window_, kRightX, kRowY);
    ASSERT_EQ(1u, fake::MessageBoxes().size());
    const auto& box = fake::MessageBoxes()[0];
    EXPECT_EQ(window_, box.owner);
    EXPECT_EQ("Cancel Operation", fake::ToUtf8(box.caption));
    EXPECT_EQ(kCancelText, fake::ToUtf8(box.text));
    EXPECT_EQ(platform::kMbYesNo | platform::kMbIconQuestion, box.type);
    EXPECT_EQ(row.cancelled, g_cancelRequested.load());
    EXPECT_EQ(1, fake::PendingThreadCount());
  }
}

TEST_F(MainWindowTest, SecondClickBeforeTheWorkerRunsStartsNothing) {
  app_test::ServeInstall();
  fake::Click(window_, kLeftX, kRowY);
  fake::Click(window_, kLeftX, kRowY);
  RunUntilIdle();
  EXPECT_EQ(std::vector<std::string>{"install"}, ThreadsStarted());
  // One install: each file fetched once.
  EXPECT_EQ(2u, fake::HttpRequests().size());
  EXPECT_EQ(std::vector<std::string>{"Tessaline"}, Captions());
}

TEST_F(MainWindowTest, CancelConfirmedBeforeTheWorkerRunsStillCancels) {
  app_test::ServeInstall();
  fake::Click(window_, kLeftX, kRowY);
  // The Cancel button is there at once, in the right slot.
  fake::Click(window_, kRightX, kRowY);
  fake::AnswerMessageBoxes({platform::kIdYes});
  RunUntilIdle();
  EXPECT_EQ(std::vector<std::string>{"install"}, ThreadsStarted());
  EXPECT_EQ((std::vector<std::string>{"Cancel Operation"}), Captions());
  EXPECT_TRUE(fake::HttpRequests().empty());
  EXPECT_EQ((Screen{"Ready", "", "0%", "Install"}), LastScreen());
}

TEST_F(MainWindowTest, ACancelLeftFromTheLastOperationDoesNotStopTheNext) {
  app_test::ServeInstall();
  g_cancelRequested = true;  // answered Yes after the last sequence had returned
  fake::Click(window_, kLeftX, kRowY);
  RunUntilIdle();
  EXPECT_EQ(std::vector<std::string>{"Tessaline"}, Captions());
  EXPECT_TRUE(fake::Exists(GetInstallPath(kAppExeName)));
}

TEST_F(MainWindowTest, FailedThreadCreationLeavesTheWindowIdle) {
  fake::FailNextCreateThread(platform::kErrorNotEnoughMemory);
  fake::Click(window_, kLeftX, kRowY);
  RunUntilIdle();
  EXPECT_TRUE(fake::Threads().empty());
  EXPECT_FALSE(g_operationInProgress.load());
  EXPECT_FALSE(g_workerRunning.load());
  EXPECT_TRUE(fake::MessageBoxes().empty());
  EXPECT_EQ("Install*", LastScreen().buttons);
  // And the next click works.
  app_test::ServeInstall();
  fake::Click(window_, kLeftX, kRowY);
  RunUntilIdle();
  EXPECT_EQ(std::vector<std::string>{"install"}, ThreadsStarted());
  EXPECT_EQ(0, fake::OpenThreadHandleCount());
}

TEST_F(MainWindowTest, DpiChangeRescalesEverythingAndTakesTheSuggestedRectangle) {
  platform::GdiHandle oldTitle = g_titleFont;
  platform::IconHandle oldIcon = g_appIcon;
  const platform::Rect suggested{100, 50, 880, 530};
  fake::ChangeDpi(window_, 144, suggested);

  EXPECT_EQ(144, g_dpi);
  EXPECT_EQ(72, g_iconSize);
  EXPECT_FALSE(fake::FontOf(oldTitle).has_value());
  ASSERT_TRUE(fake::FontOf(g_titleFont).has_value());
  EXPECT_EQ(33, fake::FontOf(g_titleFont)->height);
  EXPECT_EQ(19, fake::FontOf(g_buttonFont)->height);
  EXPECT_NE(oldIcon, g_appIcon);
  EXPECT_EQ(1, fake::LiveIconCount());

  ASSERT_FALSE(fake::WindowPosCalls().empty());
  const fake::WindowPosCall& pos = fake::WindowPosCalls().back();
  EXPECT_EQ(std::make_tuple(100, 50, 780, 480, platform::kSwpNoZOrder | platform::kSwpNoActivate),
            std::make_tuple(pos.x, pos.y, pos.width, pos.height, pos.flags));
  EXPECT_EQ(nullptr, pos.insertAfter);
  platform::Rect rect{};
  platform::GetWindowRect(window_, &rect);
  EXPECT_EQ(std::make_tuple(100, 50, 880, 530),
            std::make_tuple(rect.left, rect.top, rect.right, rect.bottom));

  size_t frames = fake::Frames().size();
  RunUntilIdle();
  ASSERT_EQ(frames + 1, fake::Frames().size());
  const fake::Frame& frame = fake::Frames().back();
  EXPECT_TRUE(frame.erase) << "the whole window is invalidated with erase";
  // Client 756 x 422 at 144 DPI: the button row scales by 1.5.
  std::vector<std::string> lines = fake::Describe(frame.ops[0].source);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "DrawIconEx 37,29,109,101 icon 72x72 flags 0x3"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "RoundRect 401,337,551,385 corner 6,6 brush 60,60,60 pen solid 1 60,60,60"),
            lines.end());
  // The hit test follows: the Install button's new centre.
  EXPECT_EQ(kButtonInstall, HitTestButton(window_, 476, 361));
  EXPECT_TRUE(fake::GdiMisuse().empty());
}

TEST_F(MainWindowTest, DpiChangeWithoutIconResourceLeavesTheHeaderWithoutIcon) {
  fake::Reset();  // the icon resource goes with the machine
  g_appIcon = nullptr;
  g_titleFont = g_statusFont = g_smallFont = g_buttonFont = nullptr;
  g_instance = fake::MainInstance();
  ASSERT_TRUE(CreateMainWindow());
  window_ = g_mainWindow;
  EXPECT_EQ(nullptr, g_appIcon);
  OnDpiChanged(window_, 120, platform::Rect{0, 0, 650, 400});
  EXPECT_EQ(nullptr, g_appIcon);
  EXPECT_EQ(60, g_iconSize);
}

TEST_F(MainWindowTest, CloseWhileIdleDestroysTheWindowAndEndsTheLoop) {
  fake::PressCloseBox(window_);
  RunMessageLoop();  // ends only with the window's WM_QUIT
  EXPECT_FALSE(WindowAlive());
  EXPECT_TRUE(fake::MessageBoxes().empty());
  EXPECT_TRUE(fake::WindowsOfClass(L"Static").empty()) << "the labels go with it";
}

TEST_F(MainWindowTest, CloseDuringAnInstallAsksAndYesWaitsForTheWorker) {
  app_test::ServeInstall();
  CloseWhenTheInstallStarts();
  fake::AnswerMessageBoxes({platform::kIdYes});
  fake::Click(window_, kLeftX, kRowY);
  RunMessageLoop();  // ends only with the window's WM_QUIT

  EXPECT_EQ(std::vector<std::string>{"Cancel Operation"}, Captions());
  EXPECT_EQ(kCancelText, fake::ToUtf8(fake::MessageBoxes()[0].text));
  ASSERT_EQ(1u, fake::Threads().size());
  EXPECT_TRUE(fake::Threads()[0].finished);
  EXPECT_FALSE(WindowAlive());
  // The install stopped at its first check, nothing was fetched, and the
  // worker showed its outcome while the window was still there (the
  // pointer still rests on the Install button).
  EXPECT_TRUE(fake::HttpRequests().empty());
  const std::vector<Screen> tail = {
      {"Installation cancelled", "Visual C++ Redistributable", "5%", "Install*"},
      {"Installation cancelled", "", "5%", "Install*"},
      {"Ready", "", "0%", "Install*"},
      {"Ready", "", "0%", "Install*"},
  };
  ASSERT_GE(screens_.size(), tail.size());
  EXPECT_EQ(tail, std::vector<Screen>(screens_.end() - tail.size(), screens_.end()));
}

TEST_F(MainWindowTest, CloseDuringAnInstallAnsweredNoKeepsItRunning) {
  app_test::ServeInstall();
  CloseWhenTheInstallStarts();
  fake::AnswerMessageBoxes({platform::kIdNo, platform::kIdNo});
  fake::Click(window_, kLeftX, kRowY);
  RunUntilIdle();

  EXPECT_EQ((std::vector<std::string>{"Cancel Operation", "Tessaline"}), Captions());
  EXPECT_TRUE(WindowAlive());
  EXPECT_FALSE(g_cancelRequested.load());
  EXPECT_TRUE(fake::Exists(GetInstallPath(kAppExeName)));
  EXPECT_EQ((Screen{"Installation complete!", "Ready to launch", "0%", "Update* | Uninstall"}),
            LastScreen());
}

TEST_F(MainWindowTest, CloseWhileTheWorkerShowsItsOutcomeWaitsForIt) {
  app_test::ServeInstall();
  bool closedAtOnce = true;
  // The launch question is up: the sequence is over, the worker is not.
  fake::OnMessageBox([this, &closedAtOnce](const fake::MessageBoxRecord&) {
    closedAtOnce = OnCloseRequested(window_);
  });
  fake::Click(window_, kLeftX, kRowY);
  RunMessageLoop();
  EXPECT_FALSE(closedAtOnce);
  EXPECT_EQ(std::vector<std::string>{"Tessaline"}, Captions()) << "no cancel question";
  EXPECT_FALSE(WindowAlive());
  EXPECT_TRUE(fake::Threads()[0].finished);
}

TEST_F(MainWindowTest, NoNewOperationOnceACloseIsPending) {
  g_closePending = true;
  EXPECT_FALSE(StartWorker(InstallThreadProc));
  EXPECT_TRUE(fake::Threads().empty());
  EXPECT_FALSE(g_operationInProgress.load());
}

}  // namespace
