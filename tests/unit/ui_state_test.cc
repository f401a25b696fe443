#include "app/ui_state.h"

#include <gtest/gtest.h>

#include "platform/fake/fake.h"
#include "platform/window.h"
#include "tests/unit/label_screen.h"

namespace {

using label_screen::Screen;

class UiStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    g_progressPercent = 0;
    g_mainWindow = g_statusLabel = g_detailLabel = nullptr;
  }
  void TearDown() override { g_mainWindow = g_statusLabel = g_detailLabel = nullptr; }

  // The window as the entry makes it, with every paint recorded.
  void CreateWindows() {
    label_screen::CreateWindows();
    fake::OnPaint([this](platform::WindowHandle w) {
      ASSERT_EQ(g_mainWindow, w);
      screens_.push_back(label_screen::Current());
    });
  }

  std::vector<Screen> screens_;
};

TEST_F(UiStateTest, TextsBeforeTheWindowExistsChangeNothing) {
  SetStatusText(L"Checking prerequisites...");
  SetDetailText(L"Visual C++ Redistributable");
  EXPECT_TRUE(screens_.empty());
}

TEST_F(UiStateTest, EveryReportingCallRepaintsWithTheStateSoFar) {
  CreateWindows();
  SetProgress(5);
  SetStatusText(L"Checking prerequisites...");
  SetDetailText(L"Visual C++ Redistributable");
  SetProgress(100);
  std::vector<Screen> expected = {
      {5, L"Ready", L""},
      {5, L"Checking prerequisites...", L""},
      {5, L"Checking prerequisites...", L"Visual C++ Redistributable"},
      {100, L"Checking prerequisites...", L"Visual C++ Redistributable"},
  };
  EXPECT_EQ(expected, screens_);
}

TEST_F(UiStateTest, SameTextTwiceStillRepaintsEachTime) {
  CreateWindows();
  SetStatusText(L"Installing application...");
  SetStatusText(L"Installing application...");
  EXPECT_EQ(2u, screens_.size());
}

TEST_F(UiStateTest, LongStatusIsReadBackAsItsFirst255Characters) {
  CreateWindows();
  std::wstring longText(300, L'x');
  longText[254] = L'y';
  SetStatusText(longText);
  ASSERT_EQ(1u, screens_.size());
  EXPECT_EQ(longText.substr(0, 255), screens_[0].status);
}

TEST_F(UiStateTest, FlagsStartLowered) {
  EXPECT_FALSE(g_operationInProgress.load());
  EXPECT_FALSE(g_cancelRequested.load());
  EXPECT_FALSE(g_uninstallMode);
  EXPECT_FALSE(g_silentMode);
}

}  // namespace
