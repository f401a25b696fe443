// The painting through real GDI: a window painted by PaintMainWindow, its
// pixels read back and compared with the layout's colours at computed points;
// the resources linked into this program loaded back; and the few GDI
// behaviours the fake claims, checked against the real thing.
// Every check prints what it got, so a run under Wine is also its record.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/render.h"
#include "app/ui_state.h"
#include "install/product_constants.h"

namespace {

constexpr wchar_t kClassName[] = L"TSLRenderWineTest";
constexpr int kWidth = 504;  // client size of the window at 96 DPI
constexpr int kHeight = 281;

constexpr COLORREF kBackground = RGB(30, 30, 30);
constexpr COLORREF kHeader = RGB(45, 45, 48);
constexpr COLORREF kAccent = RGB(0, 122, 204);
constexpr COLORREF kTrack = RGB(60, 60, 60);
constexpr COLORREF kButton = RGB(60, 60, 60);
constexpr COLORREF kButtonHover = RGB(80, 80, 80);
constexpr COLORREF kDestructive = RGB(180, 50, 50);
constexpr COLORREF kBorder = RGB(100, 100, 100);
constexpr COLORREF kWhite = RGB(255, 255, 255);

// Known differences between Wine and Windows are told apart by this.
bool RunningOnWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      PaintMainWindow(window);
      return 0;
    case WM_ERASEBKGND:
      return 1;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A copy of the window's client area in a 32-bit DIB section.
struct Capture {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
};

class RenderWineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = TestWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kClassName;
    ASSERT_NE(0, RegisterClassExW(&wc)) << "error " << GetLastError();
  }

  void SetUp() override {
    instance_ = GetModuleHandleW(nullptr);
    g_instance = instance_;
    UpdateDpiMetrics(96);
    CreateUiFonts();
    g_appIcon = platform::LoadImageW(g_instance, kAppIconId, platform::kImageIcon, g_iconSize,
                                     g_iconSize, platform::kLrDefaultColor);
    ASSERT_NE(nullptr, g_appIcon) << "error " << GetLastError();
    window_ = CreateWindowExW(0, kClassName, L"Tessaline Setup", WS_POPUP | WS_VISIBLE, 0, 0,
                              kWidth, kHeight, nullptr, nullptr, instance_, nullptr);
    ASSERT_NE(nullptr, window_) << "error " << GetLastError();
    g_mainWindow = window_;
    g_statusLabel = CreateWindowExW(0, L"STATIC", L"Ready", WS_CHILD, 0, 0, 0, 0, window_, nullptr,
                                    instance_, nullptr);
    g_detailLabel = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 0, 0, window_, nullptr,
                                    instance_, nullptr);
    RECT client{};
    GetClientRect(window_, &client);
    std::printf("client area %ldx%ld\n", client.right, client.bottom);
    ASSERT_EQ(kWidth, client.right);
    ASSERT_EQ(kHeight, client.bottom);
  }

  void TearDown() override {
    if (capture_.dc) {
      SelectObject(capture_.dc, capture_.old);
      DeleteObject(capture_.bitmap);
      DeleteDC(capture_.dc);
      capture_ = Capture{};
    }
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
    g_mainWindow = g_statusLabel = g_detailLabel = nullptr;
    for (platform::GdiHandle* font : {&g_titleFont, &g_statusFont, &g_smallFont, &g_buttonFont}) {
      if (*font) DeleteObject(*font);
      *font = nullptr;
    }
    if (g_appIcon) DestroyIcon(static_cast<HICON>(g_appIcon));
    g_appIcon = nullptr;
    g_operationInProgress = false;
    g_progressPercent = 0;
    g_hoverButton = 0;
  }

  // Repaints through WM_PAINT, then copies the client area for reading.
  void PaintAndCapture() {
    InvalidateRect(window_, nullptr, FALSE);
    UpdateWindow(window_);
    GdiFlush();
    if (!capture_.dc) {
      BITMAPINFO info{};
      info.bmiHeader.biSize = sizeof(info.bmiHeader);
      info.bmiHeader.biWidth = kWidth;
      info.bmiHeader.biHeight = -kHeight;
      info.bmiHeader.biPlanes = 1;
      info.bmiHeader.biBitCount = 32;
      void* bits = nullptr;
      capture_.dc = CreateCompatibleDC(nullptr);
      capture_.bitmap = CreateDIBSection(capture_.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
      capture_.old = SelectObject(capture_.dc, capture_.bitmap);
    }
    HDC screen = GetDC(window_);
    BOOL copied = BitBlt(capture_.dc, 0, 0, kWidth, kHeight, screen, 0, 0, SRCCOPY);
    ReleaseDC(window_, screen);
    EXPECT_TRUE(copied) << "reading back the window failed, error " << GetLastError();
  }

  COLORREF Pixel(int x, int y) { return GetPixel(capture_.dc, x, y); }

  ::testing::AssertionResult PixelIs(const char* what, int x, int y, COLORREF expected) {
    COLORREF got = Pixel(x, y);
    std::printf("%-34s (%3d,%3d): got %3u,%3u,%3u expected %3u,%3u,%3u\n", what, x, y,
                GetRValue(got), GetGValue(got), GetBValue(got), GetRValue(expected),
                GetGValue(expected), GetBValue(expected));
    if (got == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << what << " at (" << x << "," << y << "): got 0x"
                                         << std::hex << got << ", expected 0x" << expected;
  }

  // Pixels in the rectangle that are not the colour around them: something
  // was drawn there (the glyphs, whose shapes depend on the fonts installed).
  int CountNot(COLORREF around, int left, int top, int right, int bottom) {
    int count = 0;
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) count += Pixel(x, y) != around;
    }
    return count;
  }

  HINSTANCE instance_ = nullptr;
  HWND window_ = nullptr;
  Capture capture_;
};

// Layout at 96 DPI in a 504 x 281 client area: header 0..89 with the accent
// line in rows 87..89, icon at (25,19), track rows 180..185 from x 30 to 473
// (RoundRect leaves out the right and bottom edge), left button 267..366 x
// 224..255, right button 379..478.
TEST_F(RenderWineTest, IdleNotInstalledAtHalfProgress) {
  g_progressPercent = 50;  // fill 30..251
  PaintAndCapture();
  EXPECT_TRUE(PixelIs("background, bottom left", 5, 275, kBackground));
  EXPECT_TRUE(PixelIs("header, top right", 500, 5, kHeader));
  EXPECT_TRUE(PixelIs("header above the accent line", 250, 86, kHeader));
  EXPECT_TRUE(PixelIs("accent line, first row", 250, 87, kAccent));
  EXPECT_TRUE(PixelIs("accent line, last row", 250, 89, kAccent));
  EXPECT_TRUE(PixelIs("background below the header", 250, 90, kBackground));
  EXPECT_TRUE(PixelIs("icon, transparent corner", 25, 19, kHeader));
  EXPECT_TRUE(PixelIs("icon, shield", 37, 45, kAccent));
  EXPECT_TRUE(PixelIs("icon, white T", 49, 39, kWhite));
  EXPECT_TRUE(PixelIs("left of the icon", 24, 45, kHeader));
  EXPECT_TRUE(PixelIs("progress fill", 100, 183, kAccent));
  EXPECT_TRUE(PixelIs("progress track", 300, 183, kTrack));
  EXPECT_TRUE(PixelIs("above the track", 300, 179, kBackground));
  EXPECT_TRUE(PixelIs("below the track", 300, 186, kBackground));
  EXPECT_TRUE(PixelIs("right of the track", 475, 183, kBackground));
  EXPECT_TRUE(PixelIs("Install button fill", 272, 240, kButton));
  EXPECT_TRUE(PixelIs("Install button top border", 317, 224, kBorder));
  EXPECT_TRUE(PixelIs("Install button bottom border", 317, 255, kBorder));
  EXPECT_TRUE(PixelIs("Install button left border", 267, 240, kBorder));
  EXPECT_TRUE(PixelIs("below the Install button", 317, 256, kBackground));
  EXPECT_TRUE(PixelIs("empty right slot", 430, 240, kBackground));

  int title = CountNot(kHeader, 88, 22, 479, 65);
  int status = CountNot(kBackground, 30, 115, 474, 140);
  int percent = CountNot(kBackground, 444, 160, 474, 180);
  int label = CountNot(kButton, 280, 230, 355, 250);
  std::printf("drawn pixels: title %d, status %d, percentage %d, button label %d\n", title, status,
              percent, label);
  EXPECT_GT(title, 0);
  EXPECT_GT(status, 0);
  EXPECT_GT(percent, 0);
  EXPECT_GT(label, 0);
  // The detail line is empty and draws nothing.
  EXPECT_EQ(0, CountNot(kBackground, 30, 140, 474, 160));
}

TEST_F(RenderWineTest, ButtonColoursFollowHoverAndRunningState) {
  struct Row {
    const char* what;
    bool running;
    int32_t hover;
    int x;
    COLORREF expected;
  };
  const Row rows[] = {
      {"Install, hovered", false, kButtonInstall, 272, kButtonHover},
      {"right slot while idle", false, kButtonInstall, 384, kBackground},
      {"Cancel, in the right slot", true, 0, 384, kButton},
      {"Cancel, hovered", true, kButtonCancel, 384, kButtonHover},
      {"left slot while running", true, 0, 272, kBackground},
  };
  for (const Row& row : rows) {
    g_operationInProgress = row.running;
    g_hoverButton = row.hover;
    PaintAndCapture();
    EXPECT_TRUE(PixelIs(row.what, row.x, 240, row.expected));
  }
}

TEST_F(RenderWineTest, InstalledShowsUpdateAndUninstall) {
  const std::wstring exe = GetInstallPath(kAppExeName);
  ASSERT_NE(0, CreateDirectoryW(L"C:\\Program Files\\Maretto", nullptr) ||
                   GetLastError() == ERROR_ALREADY_EXISTS);
  ASSERT_NE(0, CreateDirectoryW(kInstallFolder, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  HANDLE file = CreateFileW(exe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file) << "error " << GetLastError();
  CloseHandle(file);

  PaintAndCapture();
  EXPECT_TRUE(PixelIs("Update button fill", 272, 240, kButton));
  EXPECT_TRUE(PixelIs("Uninstall button fill", 384, 240, kDestructive));
  EXPECT_TRUE(PixelIs("Uninstall button top border", 429, 224, kBorder));
  g_hoverButton = kButtonUninstall;
  PaintAndCapture();
  EXPECT_TRUE(PixelIs("Uninstall button, hovered", 384, 240, RGB(200, 70, 70)));

  DeleteFileW(exe.c_str());
  RemoveDirectoryW(kInstallFolder);
  RemoveDirectoryW(L"C:\\Program Files\\Maretto");
}

// The icon group as the linker stored it, and Windows' choice per size.
TEST_F(RenderWineTest, IconGroupLoadsAtEachSize) {
  HRSRC group = FindResourceW(nullptr, MAKEINTRESOURCEW(101), RT_GROUP_ICON);
  ASSERT_NE(nullptr, group);
  const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
  ASSERT_NE(nullptr, dir);
  WORD count = 0;
  std::memcpy(&count, dir + 4, 2);
  std::string widths;
  for (WORD i = 0; i < count; ++i) widths += std::to_string(dir[6 + 14 * i]) + " ";
  std::printf("group 101: %u images, directory widths %s\n", count, widths.c_str());
  EXPECT_EQ(11, count);
  EXPECT_EQ("16 20 24 32 40 48 64 96 128 0 0 ", widths);

  for (int size : {16, 32, 48, 256}) {
    HICON icon = static_cast<HICON>(platform::LoadImageW(GetModuleHandleW(nullptr), 101, IMAGE_ICON,
                                                         size, size, LR_DEFAULTCOLOR));
    ASSERT_NE(nullptr, icon) << size << ": error " << GetLastError();
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bitmap{};
    bitmap.bmWidth = bitmap.bmHeight = 0xdead;
    GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
    std::printf("LoadImageW %3d: colour bitmap %ldx%ld, %u bits\n", size, bitmap.bmWidth,
                bitmap.bmHeight, bitmap.bmBitsPixel);
    EXPECT_EQ(size, bitmap.bmWidth);
    EXPECT_EQ(size, bitmap.bmHeight);
    EXPECT_EQ(32, bitmap.bmBitsPixel);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    EXPECT_TRUE(platform::DestroyIcon(icon));
  }
}

TEST_F(RenderWineTest, LargestImageIsA512PixelPng) {
  HRSRC group = FindResourceW(nullptr, MAKEINTRESOURCEW(101), RT_GROUP_ICON);
  ASSERT_NE(nullptr, group);
  const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
  WORD lastId = 0;
  std::memcpy(&lastId, dir + 6 + 14 * 10 + 12, 2);
  HRSRC image = FindResourceW(nullptr, MAKEINTRESOURCEW(lastId), RT_ICON);
  ASSERT_NE(nullptr, image);
  const BYTE* png = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, image)));
  ASSERT_EQ(0, std::memcmp(png, "\x89PNG\r\n\x1a\n", 8));
  // IHDR: big-endian width and height right after the chunk type.
  uint32_t width = (png[16] << 24) | (png[17] << 16) | (png[18] << 8) | png[19];
  std::printf("RT_ICON %u: PNG %u pixels wide\n", lastId, width);
  EXPECT_EQ(512u, width);
}

TEST_F(RenderWineTest, ManifestAndVersionResource) {
  HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(nullptr, res);
  std::string manifest(static_cast<const char*>(LockResource(LoadResource(nullptr, res))),
                       SizeofResource(nullptr, res));
  EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\""));
  EXPECT_NE(std::string::npos, manifest.find("name=\"Microsoft.Windows.Common-Controls\" "
                                             "version=\"6.0.0.0\""));
  EXPECT_EQ(std::string::npos, manifest.find("dpiAware"));

  // version.dll is no KnownDLL: loaded from System32 only.
  HMODULE version = LoadLibraryExW(L"version.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  ASSERT_NE(nullptr, version);
  auto getSize = reinterpret_cast<decltype(&GetFileVersionInfoSizeW)>(
      reinterpret_cast<void*>(GetProcAddress(version, "GetFileVersionInfoSizeW")));
  auto getInfo = reinterpret_cast<decltype(&GetFileVersionInfoW)>(
      reinterpret_cast<void*>(GetProcAddress(version, "GetFileVersionInfoW")));
  auto query = reinterpret_cast<decltype(&VerQueryValueW)>(
      reinterpret_cast<void*>(GetProcAddress(version, "VerQueryValueW")));
  ASSERT_TRUE(getSize && getInfo && query);
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  DWORD size = getSize(path, nullptr);
  ASSERT_NE(0u, size);
  std::string block(size, '\0');
  ASSERT_TRUE(getInfo(path, 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(query(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  std::printf("file version %08lx %08lx, product version %08lx %08lx\n", fixed->dwFileVersionMS,
              fixed->dwFileVersionLS, fixed->dwProductVersionMS, fixed->dwProductVersionLS);
  EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
  EXPECT_EQ(0u, fixed->dwFileVersionLS);
  EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
  EXPECT_EQ(0u, fixed->dwProductVersionLS);

  DWORD* translation = nullptr;
  ASSERT_TRUE(query(block.data(), L"\\VarFileInfo\\Translation",
                    reinterpret_cast<void**>(&translation), &length));
  std::printf("translation %04x %04x\n", LOWORD(*translation), HIWORD(*translation));
  EXPECT_EQ(0x0409, LOWORD(*translation));
  EXPECT_EQ(1200, HIWORD(*translation));

  struct Row {
    const wchar_t* name;
    const wchar_t* value;
  };
  const Row rows[] = {
      {L"FileDescription", L"Tessaline Setup"}, {L"ProductName", L"Tessaline"},
      {L"CompanyName", L"Maretto LTD"},         {L"FileVersion", L"1.0.0.0"},
      {L"ProductVersion", L"1.0.0.0"},
  };
  for (const Row& row : rows) {
    std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + row.name;
    wchar_t* value = nullptr;
    ASSERT_TRUE(query(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
        << "no " << std::string(row.name, row.name + wcslen(row.name));
    std::printf("%ls: \"%ls\"\n", row.name, value);
    EXPECT_EQ(std::wstring(row.value), std::wstring(value));
  }
  FreeLibrary(version);
}

// What the fake claims about GDI, against the real thing.
TEST_F(RenderWineTest, GdiBehavioursTheFakeModels) {
  HDC screen = GetDC(window_);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP fromMemory = CreateCompatibleBitmap(memory, 8, 8);
  HBITMAP fromScreen = CreateCompatibleBitmap(screen, 8, 8);
  BITMAP mono{}, colour{};
  GetObjectW(fromMemory, sizeof(mono), &mono);
  GetObjectW(fromScreen, sizeof(colour), &colour);
  std::printf("compatible with a fresh memory DC: %u bits; with the window DC: %u bits\n",
              mono.bmBitsPixel, colour.bmBitsPixel);
  EXPECT_EQ(1, mono.bmBitsPixel);
  EXPECT_EQ(32, colour.bmBitsPixel);

  HPEN pen = CreatePen(PS_SOLID, 1, RGB(1, 2, 3));
  HGDIOBJ oldPen = SelectObject(memory, pen);
  EXPECT_EQ(GetStockObject(BLACK_PEN), oldPen);
  EXPECT_EQ(GetStockObject(WHITE_BRUSH), GetCurrentObject(memory, OBJ_BRUSH));
  EXPECT_EQ(GetStockObject(SYSTEM_FONT), GetCurrentObject(memory, OBJ_FONT));
  // Windows answers TRUE and keeps the pen (the documentation speaks of a
  // zero result); Wine answers TRUE and deletes it once it is deselected.
  // The fake answers TRUE, keeps it and reports the call as misuse.
  BOOL deletedWhileSelected = DeleteObject(pen);
  std::printf("DeleteObject of a selected pen: %d\n", deletedWhileSelected);
  EXPECT_TRUE(deletedWhileSelected);
  EXPECT_EQ(pen, SelectObject(memory, oldPen));
  if (!RunningOnWine()) {
    EXPECT_TRUE(DeleteObject(pen));
  }

  SetLastError(0xdeadbeef);
  EXPECT_EQ(nullptr, platform::LoadImageW(GetModuleHandleW(nullptr), 102, IMAGE_ICON, 32, 32, 0));
  DWORD missing = GetLastError();
  std::printf("LoadImageW of a missing icon id: error %lu\n", missing);
  if (RunningOnWine()) {
    // Wine 8 answers ERROR_RESOURCE_TYPE_NOT_FOUND although icon groups
    // exist; Windows names the missing id, and so does the fake.
    EXPECT_EQ(1813u, missing);
  } else {
    EXPECT_EQ(1814u, missing);  // ERROR_RESOURCE_NAME_NOT_FOUND
  }

  HICON icon = static_cast<HICON>(
      platform::LoadImageW(GetModuleHandleW(nullptr), 101, IMAGE_ICON, 24, 24, 0));
  ASSERT_NE(nullptr, icon);
  EXPECT_TRUE(platform::DestroyIcon(icon));
  SetLastError(0xdeadbeef);
  BOOL again = platform::DestroyIcon(icon);
  DWORD againError = GetLastError();
  std::printf("DestroyIcon twice: %d, error %lu\n", again, againError);
  EXPECT_FALSE(again);
  if (RunningOnWine()) {
    // Wine 8 fails without setting the last error; Windows and the fake
    // set ERROR_INVALID_CURSOR_HANDLE.
    EXPECT_EQ(0xdeadbeefu, againError);
  } else {
    EXPECT_EQ(1402u, againError);
  }

  DeleteObject(fromMemory);
  DeleteObject(fromScreen);
  DeleteDC(memory);
  ReleaseDC(window_, screen);
}

}  // namespace
