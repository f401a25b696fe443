// The recorder must refuse and report what Windows would not draw, or the
// painting's tests would pass on a surface kinder than GDI.
#include <gtest/gtest.h>

#include "platform/draw.h"
#include "platform/fake/fake.h"

namespace {

using namespace platform;

class FakeDrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    window_ = fake::CreateWindowForTesting(L"w");
    fake::SetClientSize(window_, 40, 30);
  }

  WindowHandle window_ = nullptr;
};

TEST_F(FakeDrawTest, BitmapCompatibleWithAFreshMemoryDcIsMonochrome) {
  PaintStruct ps{};
  DcHandle screen = BeginPaint(window_, &ps);
  DcHandle memory = CreateCompatibleDC(screen);
  GdiHandle mono = CreateCompatibleBitmap(memory, 40, 30);
  GdiHandle old = SelectObject(memory, mono);
  GdiHandle brush = GetStockObject(kBlackBrush);
  FillRect(memory, Rect{0, 0, 40, 30}, brush);
  BitBlt(screen, 0, 0, 40, 30, memory, 0, 0, kSrcCopy);
  SelectObject(memory, old);
  DeleteObject(mono);
  DeleteDC(memory);
  EndPaint(window_, &ps);

  ASSERT_EQ(1u, fake::Frames().size());
  EXPECT_EQ(std::vector<std::string>{"BitBlt 0,0,40,30 from 0,0 of 40x30x1 rop 0xcc0020"},
            fake::Describe(fake::Frames()[0].ops));
  ASSERT_EQ(2u, fake::GdiMisuse().size());
  EXPECT_EQ(0u, fake::GdiMisuse()[0].find("FillRect: drawing on a monochrome bitmap"))
      << fake::GdiMisuse()[0];
  EXPECT_EQ(0u, fake::GdiMisuse()[1].find("BitBlt: copying a monochrome bitmap"))
      << fake::GdiMisuse()[1];
  EXPECT_EQ(0, fake::LiveGdiObjectCount());
}

TEST_F(FakeDrawTest, SelectedObjectsCannotBeDeleted) {
  DcHandle memory = CreateCompatibleDC(nullptr);
  GdiHandle pen = CreatePen(kPsSolid, 1, Rgb(1, 2, 3));
  GdiHandle old = SelectObject(memory, pen);
  EXPECT_EQ(GetStockObject(kBlackPen), old);
  EXPECT_TRUE(DeleteObject(pen));  // as Windows answers, yet nothing is deleted
  EXPECT_EQ(1u, fake::GdiMisuse().size());
  EXPECT_EQ(2, fake::LiveGdiObjectCount());
  EXPECT_EQ(pen, SelectObject(memory, old));
  EXPECT_TRUE(DeleteObject(pen));
  EXPECT_TRUE(DeleteDC(memory));
  EXPECT_TRUE(DeleteObject(GetStockObject(kNullBrush)));  // stock: left alone
  EXPECT_NE(nullptr, GetStockObject(kNullBrush));
  EXPECT_FALSE(DeleteObject(pen));
  EXPECT_EQ(2u, fake::GdiMisuse().size());
  EXPECT_EQ(0, fake::LiveGdiObjectCount());
}

TEST_F(FakeDrawTest, DrawTextCountAndDcStateAreRecorded) {
  struct Row {
    std::wstring text;
    int count;
    std::wstring drawn;
  };
  const Row rows[] = {
      {std::wstring(L"ab\0cd", 5), -1, L"ab"},
      {L"abcdef", 3, L"abc"},
      {L"abc", -1, L"abc"},
      {L"", -1, L""},
  };
  PaintStruct ps{};
  DcHandle screen = BeginPaint(window_, &ps);
  EXPECT_EQ(kOpaque, SetBkMode(screen, kTransparent));
  EXPECT_EQ(0u, SetTextColor(screen, Rgb(9, 8, 7)));
  for (const Row& row : rows) {
    Rect rect{1, 2, 3, 4};
    EXPECT_EQ(16, DrawTextW(screen, row.text, row.count, &rect, kDtSingleLine | kDtRight));
  }
  EndPaint(window_, &ps);
  ASSERT_EQ(1u, fake::Frames().size());
  const auto& ops = fake::Frames()[0].ops;
  ASSERT_EQ(4u, ops.size());
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(rows[i].drawn, ops[i].text) << "row " << i;
  EXPECT_EQ("DrawTextW \"ab\" 1,2,3,4 format 0x22 font \"System\" 16/700 color 9,8,7 transparent",
            fake::Describe(ops[0]));
  EXPECT_TRUE(fake::GdiMisuse().empty());
}

TEST_F(FakeDrawTest, IconsComeOnlyFromTheModulesResources) {
  struct Row {
    bool addIcon;
    InstanceHandle instance;
    int id;
    uint32_t error;  // 0: loads
  };
  const Row rows[] = {
      {false, fake::MainInstance(), 101, 1813},
      {true, fake::MainInstance(), 102, 1814},
      {true, reinterpret_cast<InstanceHandle>(0x1234), 101, 126},
      {true, fake::MainInstance(), 101, 0},
  };
  for (const Row& row : rows) {
    fake::Reset();
    if (row.addIcon) fake::AddIconResource(101);
    SetLastError(0xdeadbeef);
    IconHandle icon = LoadImageW(row.instance, row.id, kImageIcon, 60, 60, kLrDefaultColor);
    if (row.error) {
      EXPECT_EQ(nullptr, icon) << "id " << row.id;
      EXPECT_EQ(row.error, GetLastError()) << "id " << row.id;
      continue;
    }
    ASSERT_NE(nullptr, icon);
    EXPECT_EQ(1, fake::LiveIconCount());
    EXPECT_TRUE(DestroyIcon(icon));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DestroyIcon(icon));
    EXPECT_EQ(1402u, GetLastError());
    EXPECT_EQ(0, fake::LiveIconCount());
  }
}

TEST_F(FakeDrawTest, PaintNeedsAWindowAndAMatchingBeginPaint) {
  PaintStruct ps{};
  ps.hdc = reinterpret_cast<DcHandle>(0xdeadbeef);
  EXPECT_EQ(nullptr, BeginPaint(reinterpret_cast<WindowHandle>(0x99), &ps));
  EXPECT_FALSE(EndPaint(window_, &ps));
  EXPECT_EQ(1u, fake::GdiMisuse().size());
  EXPECT_TRUE(fake::Frames().empty());
  Rect rect{-1, -1, -1, -1};
  EXPECT_TRUE(GetClientRect(window_, &rect));
  EXPECT_EQ(40, rect.right);
  EXPECT_EQ(30, rect.bottom);
  EXPECT_EQ(0, rect.left + rect.top);
}

}  // namespace
