#include "app/render.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "app/ui_state.h"
#include "install/product_constants.h"
#include "platform/fake/fake.h"
#include "platform/file.h"
#include "platform/window.h"

namespace {

using Lines = std::vector<std::string>;

// Captured during dynamic initialisation, before any test changes them.
const auto kStartMetrics =
    std::make_tuple(g_dpi, g_dpiScale, g_windowWidth, g_windowHeight, g_headerHeight, g_iconSize);

class RenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::AddIconResource(101);
    g_instance = fake::MainInstance();
    SetDpi(96);
    window_ = fake::CreateWindowForTesting(L"Tessaline Setup");
    g_mainWindow = window_;
    g_statusLabel = fake::CreateWindowForTesting(L"Ready");
    g_detailLabel = fake::CreateWindowForTesting(L"");
    fake::SetClientSize(window_, 504, 281);
  }

  void TearDown() override {
    for (platform::GdiHandle* font : {&g_titleFont, &g_statusFont, &g_smallFont, &g_buttonFont}) {
      if (*font) platform::DeleteObject(*font);
      *font = nullptr;
    }
    if (g_appIcon) platform::DestroyIcon(g_appIcon);
    g_appIcon = nullptr;
    g_instance = nullptr;
    g_mainWindow = g_statusLabel = g_detailLabel = nullptr;
    g_operationInProgress = false;
    g_progressPercent = 0;
    g_hoverButton = 0;
    UpdateDpiMetrics(96);
  }

  // What the entry and the DPI change do: metrics, fonts, icon at the new size.
  void SetDpi(int dpi) {
    UpdateDpiMetrics(dpi);
    CreateUiFonts();
    if (g_appIcon) platform::DestroyIcon(g_appIcon);
    g_appIcon = platform::LoadImageW(g_instance, 101, platform::kImageIcon, g_iconSize, g_iconSize,
                                     platform::kLrDefaultColor);
  }

  void Install() { fake::AddFile(GetInstallPath(kAppExeName), "MZ"); }

  // Paints once and returns what was drawn on the off-screen bitmap, after
  // checking that it reached the window in one full-size copy.
  Lines Paint() {
    size_t before = fake::Frames().size();
    PaintMainWindow(window_);
    EXPECT_EQ(before + 1, fake::Frames().size());
    if (fake::Frames().size() != before + 1) return {};
    const fake::Frame& frame = fake::Frames().back();
    EXPECT_EQ(window_, frame.window);
    Lines blit = fake::Describe(frame.ops);
    platform::Rect c = frame.client;
    char expected[128];
    std::snprintf(expected, sizeof(expected), "BitBlt 0,0,%d,%d from 0,0 of %dx%dx32 rop 0xcc0020",
                  c.right, c.bottom, c.right, c.bottom);
    EXPECT_EQ(Lines{expected}, blit);
    if (frame.ops.size() != 1) return {};
    return fake::Describe(frame.ops[0].source);
  }

  platform::WindowHandle window_ = nullptr;
};

TEST_F(RenderTest, MetricsStartAtNinetySixDpi) {
  EXPECT_EQ(std::make_tuple(96, 1.0f, 520, 320, 90, 48), kStartMetrics);
}

TEST_F(RenderTest, DpiMetricsTruncateSinglePrecisionProducts) {
  struct Row {
    int dpi;
    float scale;
    int width, height, header, icon;
  };
  const Row rows[] = {
      {96, 1.0f, 520, 320, 90, 48},   {120, 1.25f, 650, 400, 112, 60},
      {144, 1.5f, 780, 480, 135, 72}, {168, 1.75f, 910, 560, 157, 84},
      {72, 0.75f, 390, 240, 67, 36},  {192, 2.0f, 1040, 640, 180, 96},
  };
  for (const Row& row : rows) {
    UpdateDpiMetrics(row.dpi);
    EXPECT_EQ(std::make_tuple(row.dpi, row.scale, row.width, row.height, row.header, row.icon),
              std::make_tuple(g_dpi, g_dpiScale, g_windowWidth, g_windowHeight, g_headerHeight,
                              g_iconSize))
        << "at " << row.dpi << " DPI";
  }
}

TEST_F(RenderTest, FontsAreSegoeUiAtScaledCellHeights) {
  struct Row {
    int dpi;
    int title, status, small, button;
  };
  const Row rows[] = {{96, 22, 14, 12, 13}, {120, 27, 17, 15, 16}, {144, 33, 21, 18, 19}};
  for (const Row& row : rows) {
    SetDpi(row.dpi);
    const std::pair<platform::GdiHandle, std::pair<int, int>> fonts[] = {
        {g_titleFont, {row.title, 600}},
        {g_statusFont, {row.status, 400}},
        {g_smallFont, {row.small, 400}},
        {g_buttonFont, {row.button, 500}},
    };
    for (const auto& [handle, heightWeight] : fonts) {
      auto font = fake::FontOf(handle);
      ASSERT_TRUE(font.has_value()) << "at " << row.dpi << " DPI";
      EXPECT_EQ(std::make_tuple(heightWeight.first, 0, 0, 0, heightWeight.second, 0u, 0u, 0u, 1u,
                                0u, 0u, 5u, 0u, std::string("Segoe UI")),
                std::make_tuple(font->height, font->width, font->escapement, font->orientation,
                                font->weight, font->italic, font->underline, font->strikeOut,
                                font->charSet, font->outPrecision, font->clipPrecision,
                                font->quality, font->pitchAndFamily, fake::ToUtf8(font->face)))
          << "at " << row.dpi << " DPI";
    }
  }
}

TEST_F(RenderTest, RecreatingFontsDeletesTheOldSet) {
  platform::GdiHandle oldTitle = g_titleFont;
  platform::GdiHandle oldButton = g_buttonFont;
  SetDpi(144);
  EXPECT_FALSE(fake::FontOf(oldTitle).has_value());
  EXPECT_FALSE(fake::FontOf(oldButton).has_value());
  EXPECT_EQ(4, fake::LiveGdiObjectCount());
  EXPECT_TRUE(fake::GdiMisuse().empty());
}

const char kTitle96[] =
    "DrawTextW \"Tessaline\" 88,22,479,65 format 0x20 font \"Segoe UI\" 22/600 color 255,255,255 "
    "transparent";

TEST_F(RenderTest, IdleNotInstalledAtNinetySixDpi) {
  Lines expected = {
      "FillRect 0,0,504,281 brush 30,30,30",
      "FillRect 0,0,504,90 brush 45,45,48",
      "FillRect 0,87,504,90 brush 0,122,204",
      "DrawIconEx 25,19,73,67 icon 48x48 flags 0x3",
      kTitle96,
      "DrawTextW \"by Maretto LTD\" 88,50,479,82 format 0x20 font \"Segoe UI\" 12/400 color "
      "160,160,160 transparent",
      "DrawTextW \"Ready\" 30,115,474,140 format 0x20 font \"Segoe UI\" 14/400 color 255,255,255 "
      "transparent",
      "DrawTextW \"\" 30,140,474,160 format 0x20 font \"Segoe UI\" 12/400 color 160,160,160 "
      "transparent",
      "RoundRect 30,180,474,186 corner 3,3 brush 60,60,60 pen solid 1 60,60,60",
      "DrawTextW \"0%\" 444,160,474,180 format 0x22 font \"Segoe UI\" 12/400 color 160,160,160 "
      "transparent",
      "RoundRect 267,224,367,256 corner 4,4 brush 60,60,60 pen solid 1 60,60,60",
      "RoundRect 267,224,367,256 corner 4,4 brush hollow pen solid 1 100,100,100",
      "DrawTextW \"Install\" 267,224,367,256 format 0x25 font \"Segoe UI\" 13/500 color "
      "255,255,255 transparent",
  };
  EXPECT_EQ(expected, Paint());
}

TEST_F(RenderTest, LayoutAtOneHundredTwentyDpi) {
  SetDpi(120);
  fake::SetClientSize(window_, 630, 360);
  Lines expected = {
      "FillRect 0,0,630,360 brush 30,30,30",
      "FillRect 0,0,630,112 brush 45,45,48",
      "FillRect 0,109,630,112 brush 0,122,204",
      "DrawIconEx 31,24,91,84 icon 60x60 flags 0x3",
      "DrawTextW \"Tessaline\" 109,27,599,81 format 0x20 font \"Segoe UI\" 27/600 color "
      "255,255,255 transparent",
      "DrawTextW \"by Maretto LTD\" 109,62,599,102 format 0x20 font \"Segoe UI\" 15/400 color "
      "160,160,160 transparent",
      "DrawTextW \"Ready\" 37,143,593,174 format 0x20 font \"Segoe UI\" 17/400 color 255,255,255 "
      "transparent",
      "DrawTextW \"\" 37,174,593,199 format 0x20 font \"Segoe UI\" 15/400 color 160,160,160 "
      "transparent",
      "RoundRect 37,224,592,231 corner 3,3 brush 60,60,60 pen solid 1 60,60,60",
      "DrawTextW \"0%\" 555,199,593,224 format 0x22 font \"Segoe UI\" 15/400 color 160,160,160 "
      "transparent",
      "RoundRect 334,289,459,329 corner 5,5 brush 60,60,60 pen solid 1 60,60,60",
      "RoundRect 334,289,459,329 corner 5,5 brush hollow pen solid 1 100,100,100",
      "DrawTextW \"Install\" 334,289,459,329 format 0x25 font \"Segoe UI\" 16/500 color "
      "255,255,255 transparent",
  };
  EXPECT_EQ(expected, Paint());
}

TEST_F(RenderTest, LayoutAtOneHundredFortyFourDpiInstalled) {
  SetDpi(144);
  fake::SetClientSize(window_, 756, 421);
  Install();
  Lines expected = {
      "FillRect 0,0,756,421 brush 30,30,30",
      "FillRect 0,0,756,135 brush 45,45,48",
      "FillRect 0,131,756,135 brush 0,122,204",
      "DrawIconEx 37,29,109,101 icon 72x72 flags 0x3",
      "DrawTextW \"Tessaline\" 131,33,719,98 format 0x20 font \"Segoe UI\" 33/600 color "
      "255,255,255 transparent",
      "DrawTextW \"by Maretto LTD\" 131,75,719,123 format 0x20 font \"Segoe UI\" 18/400 color "
      "160,160,160 transparent",
      "DrawTextW \"Ready\" 45,172,711,210 format 0x20 font \"Segoe UI\" 21/400 color 255,255,255 "
      "transparent",
      "DrawTextW \"\" 45,210,711,240 format 0x20 font \"Segoe UI\" 18/400 color 160,160,160 "
      "transparent",
      "RoundRect 45,270,711,279 corner 4,4 brush 60,60,60 pen solid 1 60,60,60",
      "DrawTextW \"0%\" 666,240,711,270 format 0x22 font \"Segoe UI\" 18/400 color 160,160,160 "
      "transparent",
      "RoundRect 401,336,551,384 corner 6,6 brush 60,60,60 pen solid 1 60,60,60",
      "RoundRect 401,336,551,384 corner 6,6 brush hollow pen solid 1 100,100,100",
      "DrawTextW \"Update\" 401,336,551,384 format 0x25 font \"Segoe UI\" 19/500 color "
      "255,255,255 transparent",
      "RoundRect 569,336,719,384 corner 6,6 brush 180,50,50 pen solid 1 180,50,50",
      "RoundRect 569,336,719,384 corner 6,6 brush hollow pen solid 1 100,100,100",
      "DrawTextW \"Uninstall\" 569,336,719,384 format 0x25 font \"Segoe UI\" 19/500 color "
      "255,255,255 transparent",
  };
  EXPECT_EQ(expected, Paint());
}

// The button row at 96 DPI in a 504 x 281 client area: the left slot is
// 267..367, the right 379..479, both 224..256.
TEST_F(RenderTest, ButtonsByStateAndHover) {
  struct Row {
    const char* name;
    bool installed;
    bool running;
    int32_t hover;
    Lines buttons;
  };
  auto button = [](const char* rect, const char* fill, const char* label) {
    return Lines{
        std::string("RoundRect ") + rect + " corner 4,4 brush " + fill + " pen solid 1 " + fill,
        std::string("RoundRect ") + rect + " corner 4,4 brush hollow pen solid 1 100,100,100",
        std::string("DrawTextW \"") + label + "\" " + rect +
            " format 0x25 font \"Segoe UI\" 13/500 color 255,255,255 transparent"};
  };
  auto join = [](Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const char* left = "267,224,367,256";
  const char* right = "379,224,479,256";
  const Row rows[] = {
      {"idle, not installed", false, false, 0, button(left, "60,60,60", "Install")},
      {"hover on Install", false, false, 1001, button(left, "80,80,80", "Install")},
      {"hover id of an absent button", false, false, 1002, button(left, "60,60,60", "Install")},
      {"idle, installed", true, false, 0,
       join(button(left, "60,60,60", "Update"), button(right, "180,50,50", "Uninstall"))},
      {"hover on Update", true, false, 1001,
       join(button(left, "80,80,80", "Update"), button(right, "180,50,50", "Uninstall"))},
      {"hover on Uninstall", true, false, 1002,
       join(button(left, "60,60,60", "Update"), button(right, "200,70,70", "Uninstall"))},
      {"running", true, true, 0, button(right, "60,60,60", "Cancel")},
      {"running, not installed", false, true, 0, button(right, "60,60,60", "Cancel")},
      {"hover on Cancel", false, true, 1003, button(right, "80,80,80", "Cancel")},
      {"running, stale hover on Install", false, true, 1001, button(right, "60,60,60", "Cancel")},
  };
  for (const Row& row : rows) {
    TearDown();
    SetUp();
    if (row.installed) Install();
    g_operationInProgress = row.running;
    g_hoverButton = row.hover;
    Lines frame = Paint();
    ASSERT_GE(frame.size(), 10u) << row.name;
    EXPECT_EQ(kTitle96, frame[4]) << row.name;
    EXPECT_EQ(row.buttons, Lines(frame.begin() + 10, frame.end())) << row.name;
  }
}

TEST_F(RenderTest, ProgressFillIsDrawnOnlyWhenWiderThanTheBarIsHigh) {
  struct Row {
    int dpi;
    int clientWidth;
    int32_t percent;
    const char* fill;  // nullptr: no fill drawn
    const char* text;
  };
  const Row rows[] = {
      // 96 DPI, track 400 wide from x 30, 6 high at y 180.
      {96, 460, 0, nullptr, "0%"},
      {96, 460, 1, nullptr, "1%"},  // 4 pixels
      {96, 460, 2, "30,180,38,186", "2%"},
      {96, 460, 45, "30,180,210,186", "45%"},
      {96, 460, 99, "30,180,426,186", "99%"},
      {96, 460, 100, "30,180,430,186", "100%"},
      // Track 600: 1 % is exactly 6, which is not wider than 6.
      {96, 660, 1, nullptr, "1%"},
      {96, 660, 2, "30,180,42,186", "2%"},
      // 144 DPI, track 600 wide from x 45, 9 high at y 270.
      {144, 690, 1, nullptr, "1%"},
      {144, 690, 2, "45,270,57,279", "2%"},
      {144, 690, 100, "45,270,645,279", "100%"},
  };
  for (const Row& row : rows) {
    SetDpi(row.dpi);
    fake::SetClientSize(window_, row.clientWidth, 281 * row.dpi / 96);
    g_progressPercent = row.percent;
    Lines frame = Paint();
    std::string where = std::to_string(row.percent) + "% at " + std::to_string(row.dpi) + " DPI";
    ASSERT_GE(frame.size(), 10u) << where;
    size_t index = 9;
    if (row.fill) {
      const char* corner = row.dpi == 96 ? "3,3" : "4,4";
      EXPECT_EQ(std::string("RoundRect ") + row.fill + " corner " + corner +
                    " brush 0,122,204 pen solid 1 0,122,204",
                frame[index])
          << where;
      ++index;
    }
    ASSERT_GT(frame.size(), index) << where;
    EXPECT_EQ(0u, frame[index].find(std::string("DrawTextW \"") + row.text + "\" "))
        << where << ": " << frame[index];
  }
}

TEST_F(RenderTest, StatusAndDetailAreDrawnAsTheirFirst255Characters) {
  std::wstring status(300, L's');
  status[254] = L'x';
  std::wstring detail(256, L'd');
  platform::SetWindowTextW(g_statusLabel, status);
  platform::SetWindowTextW(g_detailLabel, detail);
  PaintMainWindow(window_);
  ASSERT_EQ(1u, fake::Frames().size());
  const auto& ops = fake::Frames()[0].ops.at(0).source;
  ASSERT_GE(ops.size(), 8u);
  EXPECT_EQ(status.substr(0, 255), ops[6].text);
  EXPECT_EQ(detail.substr(0, 255), ops[7].text);
}

TEST_F(RenderTest, WithoutAnIconTheTextsKeepTheirPlaces) {
  platform::DestroyIcon(g_appIcon);
  g_appIcon = nullptr;
  Lines frame = Paint();
  ASSERT_GE(frame.size(), 4u);
  EXPECT_EQ("FillRect 0,87,504,90 brush 0,122,204", frame[2]);
  EXPECT_EQ(kTitle96, frame[3]);
}

TEST_F(RenderTest, PaintLeavesOnlyTheFontsAndValidatesTheWindow) {
  Install();
  g_hoverButton = kButtonUninstall;
  platform::InvalidateRect(window_, nullptr, true);
  Paint();
  EXPECT_TRUE(fake::Frames().back().erase);
  EXPECT_TRUE(fake::GdiMisuse().empty()) << fake::GdiMisuse().front();
  EXPECT_EQ(4, fake::LiveGdiObjectCount());
  // The paint validated the window: nothing left for UpdateWindow to paint.
  int paints = 0;
  fake::OnPaint([&paints](platform::WindowHandle) { ++paints; });
  platform::UpdateWindow(window_);
  EXPECT_EQ(0, paints);
}

TEST_F(RenderTest, EveryReportingCallShowsItsStateOnScreen) {
  fake::OnPaint([](platform::WindowHandle window) { PaintMainWindow(window); });
  SetProgress(45);
  SetStatusText(L"Downloading application...");
  SetDetailText(L"Velquist.exe");
  ASSERT_EQ(3u, fake::Frames().size());
  struct Screen {
    std::wstring percent, status, detail;
  };
  const Screen screens[] = {
      {L"45%", L"Ready", L""},
      {L"45%", L"Downloading application...", L""},
      {L"45%", L"Downloading application...", L"Velquist.exe"},
  };
  for (size_t i = 0; i < 3; ++i) {
    const auto& ops = fake::Frames()[i].ops.at(0).source;
    ASSERT_EQ(14u, ops.size()) << "screen " << i;
    EXPECT_EQ(screens[i].status, ops[6].text) << "screen " << i;
    EXPECT_EQ(screens[i].detail, ops[7].text) << "screen " << i;
    EXPECT_EQ(screens[i].percent, ops[10].text) << "screen " << i;
  }
}

TEST_F(RenderTest, HitTestIncludesBothEdgesOfEachSlot) {
  struct Row {
    int dpi;
    bool installed;
    bool running;
    int x, y;
    int32_t expected;
  };
  // 96 DPI, client 504 x 281: row 224..256, left slot 267..367, right 379..479.
  // 144 DPI, client 756 x 421: row 336..384, left slot 401..551, right 569..719.
  const Row rows[] = {
      {96, false, false, 267, 224, 1001}, {96, false, false, 367, 256, 1001},
      {96, false, false, 266, 240, 0},    {96, false, false, 368, 240, 0},
      {96, false, false, 300, 223, 0},    {96, false, false, 300, 257, 0},
      {96, false, false, 379, 240, 0},    {96, false, false, 479, 256, 0},
      {96, true, false, 267, 256, 1001},  {96, true, false, 379, 224, 1002},
      {96, true, false, 479, 256, 1002},  {96, true, false, 378, 240, 0},
      {96, true, false, 480, 240, 0},     {96, true, false, 373, 240, 0},
      {96, true, false, 400, 223, 0},     {96, true, false, 400, 257, 0},
      {96, true, true, 379, 224, 1003},   {96, true, true, 479, 256, 1003},
      {96, false, true, 400, 240, 1003},  {96, true, true, 378, 240, 0},
      {96, true, true, 480, 240, 0},      {96, true, true, 300, 240, 0},
      {96, true, true, 400, 223, 0},      {96, true, true, 400, 257, 0},
      {144, true, false, 401, 336, 1001}, {144, true, false, 400, 336, 0},
      {144, true, false, 551, 384, 1001}, {144, true, false, 552, 384, 0},
      {144, true, false, 569, 360, 1002}, {144, true, false, 568, 360, 0},
      {144, true, false, 719, 384, 1002}, {144, true, false, 720, 384, 0},
      {144, true, false, 600, 335, 0},    {144, true, false, 600, 385, 0},
      {144, true, true, 569, 336, 1003},  {144, true, true, 450, 360, 0},
  };
  for (const Row& row : rows) {
    TearDown();
    SetUp();
    UpdateDpiMetrics(row.dpi);
    fake::SetClientSize(window_, row.dpi == 96 ? 504 : 756, row.dpi == 96 ? 281 : 421);
    if (row.installed) Install();
    g_operationInProgress = row.running;
    EXPECT_EQ(row.expected, HitTestButton(window_, row.x, row.y))
        << "(" << row.x << "," << row.y << ") at " << row.dpi << " DPI, installed " << row.installed
        << ", running " << row.running;
  }
}

TEST_F(RenderTest, HitTestAsksWhetherInstalledEachTime) {
  EXPECT_EQ(0, HitTestButton(window_, 400, 240));
  Install();
  EXPECT_EQ(kButtonUninstall, HitTestButton(window_, 400, 240));
  ASSERT_TRUE(platform::DeleteFileW(GetInstallPath(kAppExeName)));
  EXPECT_EQ(0, HitTestButton(window_, 400, 240));
}

}  // namespace
