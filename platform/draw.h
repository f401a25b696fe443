// The drawing surface of the main window: the GDI calls the painting makes,
// with Windows' own numbers for colours, flags and stock objects. On Windows
// this is GDI itself; the host build records every primitive instead.
// No result of these calls is examined by the painting; they are returned
// only so that callers and tests can see what Windows would report.
#ifndef PLATFORM_DRAW_H_
#define PLATFORM_DRAW_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

using DcHandle = void*;        // HDC
using GdiHandle = void*;       // HGDIOBJ: brush, pen, font or bitmap
using IconHandle = void*;      // HICON
using InstanceHandle = void*;  // HINSTANCE of a loaded module

// COLORREF: 0x00BBGGRR, as the RGB macro builds it.
constexpr uint32_t Rgb(uint8_t red, uint8_t green, uint8_t blue) {
  return static_cast<uint32_t>(red) | (static_cast<uint32_t>(green) << 8) |
         (static_cast<uint32_t>(blue) << 16);
}

// Raster operation of BitBlt.
constexpr uint32_t kSrcCopy = 0x00CC0020;

// Pen styles.
constexpr int kPsSolid = 0;
constexpr int kPsNull = 5;

// GetStockObject indexes.
constexpr int kWhiteBrush = 0;
constexpr int kBlackBrush = 4;
constexpr int kNullBrush = 5;
constexpr int kBlackPen = 7;
constexpr int kNullPen = 8;
constexpr int kSystemFont = 13;

// Background modes of SetBkMode.
constexpr int kTransparent = 1;
constexpr int kOpaque = 2;

// DrawIconEx flags.
constexpr uint32_t kDiNormal = 0x0003;

// DrawTextW format flags.
constexpr uint32_t kDtLeft = 0x0000;
constexpr uint32_t kDtTop = 0x0000;
constexpr uint32_t kDtCenter = 0x0001;
constexpr uint32_t kDtRight = 0x0002;
constexpr uint32_t kDtVCenter = 0x0004;
constexpr uint32_t kDtSingleLine = 0x0020;

// CreateFontW arguments.
constexpr int kFwNormal = 400;
constexpr int kFwMedium = 500;
constexpr int kFwSemiBold = 600;
constexpr uint32_t kDefaultCharset = 1;
constexpr uint32_t kOutDefaultPrecis = 0;
constexpr uint32_t kClipDefaultPrecis = 0;
constexpr uint32_t kClearTypeQuality = 5;
constexpr uint32_t kDefaultPitch = 0;
constexpr uint32_t kFfDontCare = 0;

// LoadImageW.
constexpr uint32_t kImageIcon = 1;
constexpr uint32_t kLrDefaultColor = 0x0000;

// What BeginPaint fills in; EndPaint needs it back unchanged.
struct PaintStruct {
  DcHandle hdc;
  bool erase;  // the background still needs erasing
  Rect paint;  // the area to be painted
  // The system's own PAINTSTRUCT, kept whole for EndPaint.
  alignas(8) unsigned char native[80];
};

// GetClientRect: the client area, origin 0,0; false (1400) for a window
// that does not exist.
bool GetClientRect(WindowHandle window, Rect* rect);

// BeginPaint: validates the update region and returns the window's paint
// DC (also in ps->hdc), or null for a window that does not exist.
DcHandle BeginPaint(WindowHandle window, PaintStruct* ps);

// EndPaint: releases the DC of BeginPaint.
bool EndPaint(WindowHandle window, const PaintStruct* ps);

// CreateCompatibleDC: a memory DC holding a 1x1 monochrome bitmap and the
// default brush, pen and font; null on failure.
DcHandle CreateCompatibleDC(DcHandle dc);

// CreateCompatibleBitmap of width x height in the DC's format; null on failure.
GdiHandle CreateCompatibleBitmap(DcHandle dc, int width, int height);

// SelectObject: selects a brush, pen, font or bitmap and returns the object
// of that kind it replaces, or null on failure.
GdiHandle SelectObject(DcHandle dc, GdiHandle object);

// BitBlt(dest, x, y, width, height, source, sourceX, sourceY, rop).
bool BitBlt(DcHandle dest, int x, int y, int width, int height, DcHandle source, int sourceX,
            int sourceY, uint32_t rop);

// DeleteDC of a memory DC.
bool DeleteDC(DcHandle dc);

// DeleteObject of a brush, pen, font or bitmap; stock objects are left alone.
// An object still selected into a DC is not deleted, yet true comes back.
bool DeleteObject(GdiHandle object);

// CreateSolidBrush(colour).
GdiHandle CreateSolidBrush(uint32_t color);

// CreatePen(style, width, colour).
GdiHandle CreatePen(int style, int width, uint32_t color);

// GetStockObject(index): a stock object, never to be deleted; null for an
// index this program does not use.
GdiHandle GetStockObject(int index);

// FillRect: fills left..right-1, top..bottom-1 with the brush.
int FillRect(DcHandle dc, const Rect& rect, GdiHandle brush);

// RoundRect(left, top, right, bottom, corner ellipse width, height): outline
// with the selected pen, inside with the selected brush.
bool RoundRect(DcHandle dc, int left, int top, int right, int bottom, int width, int height);

// DrawIconEx(dc, x, y, icon, width, height, step 0, no flicker brush, flags).
bool DrawIconEx(DcHandle dc, int x, int y, IconHandle icon, int width, int height, uint32_t flags);

// SetBkMode: returns the previous mode, 0 on failure.
int SetBkMode(DcHandle dc, int mode);

// SetTextColor: returns the previous colour, 0xFFFFFFFF (CLR_INVALID) on failure.
uint32_t SetTextColor(DcHandle dc, uint32_t color);

// DrawTextW(dc, text, count, rect, format) with the selected font and text
// colour; count -1 draws up to the first null character. Returns the height
// of the text, 0 on failure.
int DrawTextW(DcHandle dc, const std::wstring& text, int count, Rect* rect, uint32_t format);

// CreateFontW with all fourteen arguments of the Win32 call; null on failure.
GdiHandle CreateFontW(int height, int width, int escapement, int orientation, int weight,
                      uint32_t italic, uint32_t underline, uint32_t strikeOut, uint32_t charSet,
                      uint32_t outPrecision, uint32_t clipPrecision, uint32_t quality,
                      uint32_t pitchAndFamily, const std::wstring& face);

// LoadImageW(instance, MAKEINTRESOURCEW(resourceId), type, width, height,
// flags) for an icon: the image of the group that fits the size best,
// scaled to it; null with 1813 (no icons) or 1814 (no such id) otherwise.
IconHandle LoadImageW(InstanceHandle instance, int resourceId, uint32_t type, int width, int height,
                      uint32_t flags);

// DestroyIcon of an icon from LoadImageW; false (1402) for one that is not.
bool DestroyIcon(IconHandle icon);

}  // namespace platform

#endif  // PLATFORM_DRAW_H_
