// Painting and layout of the main window: DPI metrics, fonts, the button
// slots and hit test, and the paint handler. Everything is drawn by hand in a
// fixed dark scheme; every length is a 96-DPI value scaled by g_dpiScale.
#ifndef APP_RENDER_H_
#define APP_RENDER_H_

#include <cstdint>
#include <string>

#include "platform/draw.h"
#include "platform/types.h"

// ---- Button ids (0 means none) ----
constexpr int32_t kButtonInstall = 1001;    // "Install" or "Update", left slot
constexpr int32_t kButtonUninstall = 1002;  // right slot, only when installed
constexpr int32_t kButtonCancel = 1003;     // right slot, while an operation runs

// ---- DPI metrics, written only by UpdateDpiMetrics ----
extern int32_t g_dpi;          // 96 until measured
extern float g_dpiScale;       // g_dpi / 96
extern int32_t g_windowWidth;  // outer window size
extern int32_t g_windowHeight;
extern int32_t g_headerHeight;
extern int32_t g_iconSize;

// ---- Window state read by the painting ----
// Written by the window procedure's hover tracking; UI thread only.
extern int32_t g_hoverButton;
extern platform::IconHandle g_appIcon;       // icon 101 at g_iconSize, or null
extern platform::InstanceHandle g_instance;  // the program's own module
extern platform::GdiHandle g_titleFont;
extern platform::GdiHandle g_statusFont;
extern platform::GdiHandle g_smallFont;
extern platform::GdiHandle g_buttonFont;

// The resource id of the product icon group.
constexpr int kAppIconId = 101;

// Sets g_dpi, g_dpiScale, then the window size, header height and icon size
// from the new scale. Creates no fonts and repaints nothing.
void UpdateDpiMetrics(int32_t dpi);

// Deletes the four UI fonts that exist and creates them anew for the
// current scale, all in the face kUiFontFace.
void CreateUiFonts();

// Fills the rounded rectangle (x, y)-(x + width, y + height) with corner
// ellipses of corner x corner, outline and inside in one colour (COLORREF).
void FillRoundRect(platform::DcHandle dc, int x, int y, int width, int height, int corner,
                   uint32_t color);

// One push button: rounded fill (lighter when hovered, red when
// destructive), a grey border and the white label centred on one line.
// Leaves the DC's font as it found it.
void DrawButton(platform::DcHandle dc, const platform::Rect& rect, const std::wstring& label,
                bool hovered, bool destructive);

// The id of the button at client point (x, y), or 0. Both edges of a slot
// count as inside. Asks IsApplicationInstalled when the point is on the
// button row and no operation runs.
int32_t HitTestButton(platform::WindowHandle window, int x, int y);

// The whole answer to WM_PAINT: draws the window into an off-screen bitmap
// and copies it to the screen in one BitBlt.
void PaintMainWindow(platform::WindowHandle window);

#endif  // APP_RENDER_H_
