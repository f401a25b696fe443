#include "app/render.h"

#include "app/ui_state.h"
#include "install/product_constants.h"
#include "platform/window.h"

using namespace platform;

int32_t g_dpi = 96;
float g_dpiScale = 1.0f;
int32_t g_windowWidth = 520;
int32_t g_windowHeight = 320;
int32_t g_headerHeight = 90;
int32_t g_iconSize = 48;

int32_t g_hoverButton = 0;
IconHandle g_appIcon = nullptr;
InstanceHandle g_instance = nullptr;
GdiHandle g_titleFont = nullptr;
GdiHandle g_statusFont = nullptr;
GdiHandle g_smallFont = nullptr;
GdiHandle g_buttonFont = nullptr;

namespace {

constexpr uint32_t kBackgroundColor = Rgb(30, 30, 30);
constexpr uint32_t kHeaderColor = Rgb(45, 45, 48);
constexpr uint32_t kAccentColor = Rgb(0, 122, 204);
constexpr uint32_t kTextColor = Rgb(255, 255, 255);
constexpr uint32_t kDimTextColor = Rgb(160, 160, 160);
constexpr uint32_t kTrackColor = Rgb(60, 60, 60);
constexpr uint32_t kButtonColor = Rgb(60, 60, 60);
constexpr uint32_t kButtonHoverColor = Rgb(80, 80, 80);
constexpr uint32_t kDestructiveColor = Rgb(180, 50, 50);
constexpr uint32_t kDestructiveHoverColor = Rgb(200, 70, 70);
constexpr uint32_t kButtonBorderColor = Rgb(100, 100, 100);

constexpr wchar_t kSubtitle[] = L"by Maretto LTD";
constexpr uint32_t kLineFormat = kDtLeft | kDtTop | kDtSingleLine;
constexpr int kLabelBufferChars = 256;

// S(v): every length is a 96-DPI constant scaled in single precision and
// truncated, so that the painting and the hit test agree to the pixel.
int32_t S(int32_t v) { return static_cast<int32_t>(g_dpiScale * static_cast<float>(v)); }

// Button slots, from the client rectangle at the moment of use.
Rect LeftSlot(const Rect& client) {
  int32_t left = client.right - 2 * S(100) - S(25) - S(12);
  int32_t bottom = client.bottom - S(25);
  return Rect{left, bottom - S(32), left + S(100), bottom};
}

Rect RightSlot(const Rect& client) {
  int32_t right = client.right - S(25);
  int32_t bottom = client.bottom - S(25);
  return Rect{right - S(100), bottom - S(32), right, bottom};
}

bool InColumn(int x, const Rect& slot) { return x >= slot.left && x <= slot.right; }

GdiHandle MakeUiFont(int32_t height, int weight) {
  return CreateFontW(height, 0, 0, 0, weight, 0, 0, 0, kDefaultCharset, kOutDefaultPrecis,
                     kClipDefaultPrecis, kClearTypeQuality, kDefaultPitch | kFfDontCare,
                     kUiFontFace);
}

void FillSolid(DcHandle dc, const Rect& rect, uint32_t color) {
  GdiHandle brush = CreateSolidBrush(color);
  FillRect(dc, rect, brush);
  DeleteObject(brush);
}

void DrawLine(DcHandle dc, const std::wstring& text, Rect rect, uint32_t format) {
  DrawTextW(dc, text, -1, &rect, format);
}

}  // namespace

void UpdateDpiMetrics(int32_t dpi) {
  g_dpi = dpi;
  g_dpiScale = static_cast<float>(dpi) / 96.0f;
  g_windowWidth = S(520);
  g_windowHeight = S(320);
  g_headerHeight = S(90);
  g_iconSize = S(48);
}

void CreateUiFonts() {
  for (GdiHandle* font : {&g_titleFont, &g_statusFont, &g_smallFont, &g_buttonFont}) {
    if (*font) DeleteObject(*font);
    *font = nullptr;
  }
  g_titleFont = MakeUiFont(S(22), kFwSemiBold);
  g_statusFont = MakeUiFont(S(14), kFwNormal);
  g_smallFont = MakeUiFont(S(12), kFwNormal);
  g_buttonFont = MakeUiFont(S(13), kFwMedium);
}

void FillRoundRect(DcHandle dc, int x, int y, int width, int height, int corner, uint32_t color) {
  GdiHandle brush = CreateSolidBrush(color);
  GdiHandle pen = CreatePen(kPsSolid, 1, color);
  GdiHandle oldBrush = SelectObject(dc, brush);
  GdiHandle oldPen = SelectObject(dc, pen);
  RoundRect(dc, x, y, x + width, y + height, corner, corner);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(brush);
  DeleteObject(pen);
}

void DrawButton(DcHandle dc, const Rect& rect, const std::wstring& label, bool hovered,
                bool destructive) {
  uint32_t fill = destructive ? (hovered ? kDestructiveHoverColor : kDestructiveColor)
                              : (hovered ? kButtonHoverColor : kButtonColor);
  int corner = S(4);
  FillRoundRect(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, corner,
                fill);

  GdiHandle pen = CreatePen(kPsSolid, 1, kButtonBorderColor);
  GdiHandle oldPen = SelectObject(dc, pen);
  GdiHandle oldBrush = SelectObject(dc, GetStockObject(kNullBrush));
  RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, corner, corner);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(pen);

  SetBkMode(dc, kTransparent);
  SetTextColor(dc, kTextColor);
  GdiHandle oldFont = SelectObject(dc, g_buttonFont);
  DrawLine(dc, label, rect, kDtCenter | kDtVCenter | kDtSingleLine);
  SelectObject(dc, oldFont);
}

int32_t HitTestButton(WindowHandle window, int x, int y) {
  Rect client{};
  GetClientRect(window, &client);
  Rect left = LeftSlot(client);
  Rect right = RightSlot(client);
  if (y < left.top || y > left.bottom) return 0;
  if (g_operationInProgress.load(std::memory_order_relaxed)) {
    return InColumn(x, right) ? kButtonCancel : 0;
  }
  bool installed = IsApplicationInstalled();
  if (InColumn(x, left)) return kButtonInstall;
  if (installed && InColumn(x, right)) return kButtonUninstall;
  return 0;
}

void PaintMainWindow(WindowHandle window) {
  PaintStruct ps{};
  DcHandle screen = BeginPaint(window, &ps);
  Rect client{};
  GetClientRect(window, &client);
  const int32_t w = client.right;
  const int32_t h = client.bottom;

  // Everything goes to an off-screen bitmap first: the worker repaints at
  // every step, and one BitBlt keeps that from flickering.
  DcHandle dc = CreateCompatibleDC(screen);
  GdiHandle bitmap = CreateCompatibleBitmap(screen, w, h);
  GdiHandle oldBitmap = SelectObject(dc, bitmap);

  FillSolid(dc, Rect{0, 0, w, h}, kBackgroundColor);
  FillSolid(dc, Rect{0, 0, w, g_headerHeight}, kHeaderColor);
  FillSolid(dc, Rect{0, g_headerHeight - S(3), w, g_headerHeight}, kAccentColor);
  if (g_appIcon) {
    DrawIconEx(dc, S(25), (g_headerHeight - S(3) - g_iconSize) / 2, g_appIcon, g_iconSize,
               g_iconSize, kDiNormal);
  }

  SetBkMode(dc, kTransparent);
  SetTextColor(dc, kTextColor);
  GdiHandle oldFont = SelectObject(dc, g_titleFont);
  const int32_t textLeft = S(25) + g_iconSize + S(15);
  DrawLine(dc, kProductName, Rect{textLeft, S(22), w - S(25), g_headerHeight - S(25)}, kLineFormat);

  SelectObject(dc, g_smallFont);
  SetTextColor(dc, kDimTextColor);
  DrawLine(dc, kSubtitle, Rect{textLeft, S(50), w - S(25), g_headerHeight - S(8)}, kLineFormat);

  SelectObject(dc, g_statusFont);
  SetTextColor(dc, kTextColor);
  DrawLine(dc, GetWindowTextW(g_statusLabel, kLabelBufferChars),
           Rect{S(30), g_headerHeight + S(25), w - S(30), g_headerHeight + S(50)}, kLineFormat);

  SelectObject(dc, g_smallFont);
  SetTextColor(dc, kDimTextColor);
  DrawLine(dc, GetWindowTextW(g_detailLabel, kLabelBufferChars),
           Rect{S(30), g_headerHeight + S(50), w - S(30), g_headerHeight + S(70)}, kLineFormat);

  const int32_t track = g_headerHeight + S(90);
  const int32_t trackWidth = w - S(60);
  FillRoundRect(dc, S(30), track, trackWidth, S(6), S(3), kTrackColor);
  const int32_t percent = g_progressPercent.load(std::memory_order_relaxed);
  if (percent > 0) {
    // A fill no wider than the bar is high would be a blob, not a bar.
    int32_t filled = trackWidth * percent / 100;
    if (filled > S(6)) FillRoundRect(dc, S(30), track, filled, S(6), S(3), kAccentColor);
  }
  SetTextColor(dc, kDimTextColor);
  DrawLine(dc, std::to_wstring(percent) + L"%", Rect{w - S(60), track - S(20), w - S(30), track},
           kDtSingleLine | kDtRight);

  if (g_operationInProgress.load(std::memory_order_relaxed)) {
    DrawButton(dc, RightSlot(client), L"Cancel", g_hoverButton == kButtonCancel, false);
  } else {
    bool installed = IsApplicationInstalled();
    DrawButton(dc, LeftSlot(client), installed ? L"Update" : L"Install",
               g_hoverButton == kButtonInstall, false);
    if (installed) {
      DrawButton(dc, RightSlot(client), L"Uninstall", g_hoverButton == kButtonUninstall, true);
    }
  }

  SelectObject(dc, oldFont);
  BitBlt(screen, 0, 0, w, h, dc, 0, 0, kSrcCopy);

  SelectObject(dc, oldBitmap);
  DeleteObject(bitmap);
  DeleteDC(dc);
  EndPaint(window, &ps);
}
