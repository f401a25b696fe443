// GDI and the few user32 calls of the painting, passed straight through.
#include <windows.h>

#include <cstring>

#include "platform/draw.h"

namespace platform {

static_assert(sizeof(PAINTSTRUCT) <= sizeof(PaintStruct::native), "PAINTSTRUCT does not fit");

static HDC Dc(DcHandle dc) { return static_cast<HDC>(dc); }

bool GetClientRect(WindowHandle window, Rect* rect) {
  RECT r{};
  if (!::GetClientRect(static_cast<HWND>(window), &r)) return false;
  *rect = Rect{r.left, r.top, r.right, r.bottom};
  return true;
}

DcHandle BeginPaint(WindowHandle window, PaintStruct* ps) {
  PAINTSTRUCT native{};
  HDC dc = ::BeginPaint(static_cast<HWND>(window), &native);
  std::memcpy(ps->native, &native, sizeof(native));
  ps->hdc = dc;
  ps->erase = native.fErase != FALSE;
  ps->paint =
      Rect{native.rcPaint.left, native.rcPaint.top, native.rcPaint.right, native.rcPaint.bottom};
  return dc;
}

bool EndPaint(WindowHandle window, const PaintStruct* ps) {
  PAINTSTRUCT native;
  std::memcpy(&native, ps->native, sizeof(native));
  return ::EndPaint(static_cast<HWND>(window), &native) != FALSE;
}

DcHandle CreateCompatibleDC(DcHandle dc) { return ::CreateCompatibleDC(Dc(dc)); }

GdiHandle CreateCompatibleBitmap(DcHandle dc, int width, int height) {
  return ::CreateCompatibleBitmap(Dc(dc), width, height);
}

GdiHandle SelectObject(DcHandle dc, GdiHandle object) {
  return ::SelectObject(Dc(dc), static_cast<HGDIOBJ>(object));
}

bool BitBlt(DcHandle dest, int x, int y, int width, int height, DcHandle source, int sourceX,
            int sourceY, uint32_t rop) {
  return ::BitBlt(Dc(dest), x, y, width, height, Dc(source), sourceX, sourceY, rop) != FALSE;
}

bool DeleteDC(DcHandle dc) { return ::DeleteDC(Dc(dc)) != FALSE; }

bool DeleteObject(GdiHandle object) {
  return ::DeleteObject(static_cast<HGDIOBJ>(object)) != FALSE;
}

GdiHandle CreateSolidBrush(uint32_t color) { return ::CreateSolidBrush(color); }

GdiHandle CreatePen(int style, int width, uint32_t color) {
  return ::CreatePen(style, width, color);
}

GdiHandle GetStockObject(int index) { return ::GetStockObject(index); }

int FillRect(DcHandle dc, const Rect& rect, GdiHandle brush) {
  RECT r{rect.left, rect.top, rect.right, rect.bottom};
  return ::FillRect(Dc(dc), &r, static_cast<HBRUSH>(brush));
}

bool RoundRect(DcHandle dc, int left, int top, int right, int bottom, int width, int height) {
  return ::RoundRect(Dc(dc), left, top, right, bottom, width, height) != FALSE;
}

bool DrawIconEx(DcHandle dc, int x, int y, IconHandle icon, int width, int height, uint32_t flags) {
  return ::DrawIconEx(Dc(dc), x, y, static_cast<HICON>(icon), width, height, 0, nullptr, flags) !=
         FALSE;
}

int SetBkMode(DcHandle dc, int mode) { return ::SetBkMode(Dc(dc), mode); }

uint32_t SetTextColor(DcHandle dc, uint32_t color) { return ::SetTextColor(Dc(dc), color); }

int DrawTextW(DcHandle dc, const std::wstring& text, int count, Rect* rect, uint32_t format) {
  RECT r{rect->left, rect->top, rect->right, rect->bottom};
  int height = ::DrawTextW(Dc(dc), text.c_str(), count, &r, format);
  *rect = Rect{r.left, r.top, r.right, r.bottom};
  return height;
}

GdiHandle CreateFontW(int height, int width, int escapement, int orientation, int weight,
                      uint32_t italic, uint32_t underline, uint32_t strikeOut, uint32_t charSet,
                      uint32_t outPrecision, uint32_t clipPrecision, uint32_t quality,
                      uint32_t pitchAndFamily, const std::wstring& face) {
  return ::CreateFontW(height, width, escapement, orientation, weight, italic, underline, strikeOut,
                       charSet, outPrecision, clipPrecision, quality, pitchAndFamily, face.c_str());
}

IconHandle LoadImageW(InstanceHandle instance, int resourceId, uint32_t type, int width, int height,
                      uint32_t flags) {
  return ::LoadImageW(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEW(resourceId), type, width,
                      height, flags);
}

bool DestroyIcon(IconHandle icon) { return ::DestroyIcon(static_cast<HICON>(icon)) != FALSE; }

}  // namespace platform
