// The fake's GDI: DCs, brushes, pens, fonts, bitmaps and icons as handles
// with the state Windows keeps for them. Nothing is rasterised; every
// primitive is recorded with the state it used, on the bitmap selected into a
// memory DC or, for a paint DC, in the frame that EndPaint completes.
#include <cstdio>
#include <map>
#include <set>

#include "platform/draw.h"
#include "platform/fake/fake.h"
#include "platform/fake/state.h"

namespace fake {
namespace {

using namespace platform;

constexpr uint32_t kErrorModNotFound = 126;
constexpr uint32_t kErrorInvalidCursorHandle = 1402;
constexpr uint32_t kErrorResourceTypeNotFound = 1813;
constexpr uint32_t kErrorResourceNameNotFound = 1814;
constexpr uint32_t kClrInvalid = 0xFFFFFFFF;
constexpr int kLfFaceSize = 32;
constexpr int kSmCxIcon = 32;  // SM_CXICON at 96 DPI

enum class Kind { kBrush, kPen, kFont, kBitmap };

struct Object {
  Kind kind = Kind::kBrush;
  bool stock = false;
  BrushState brush;
  PenState pen;
  FontRecord font;
  int width = 0;  // bitmap
  int height = 0;
  int bitsPerPixel = 0;
  std::vector<DrawOp> content;  // bitmap: what has been drawn on it
  int selections = 0;           // DCs holding it now
};

struct Dc {
  WindowHandle window = nullptr;  // set for a paint DC, null for a memory DC
  uintptr_t brush = 0;
  uintptr_t pen = 0;
  uintptr_t font = 0;
  uintptr_t bitmap = 0;  // memory DC only
  int bkMode = kOpaque;
  uint32_t textColor = 0;  // black
};

struct Icon {
  int width = 0;
  int height = 0;
};

std::map<uintptr_t, Object> g_objects;
std::map<uintptr_t, Dc> g_dcs;
std::map<uintptr_t, Frame> g_openFrames;  // by paint DC
std::vector<Frame> g_frames;
std::vector<std::string> g_misuse;
std::map<uintptr_t, Icon> g_icons;
std::set<int> g_iconResources;
uintptr_t g_nextObject = 0x30000;
uintptr_t g_nextDc = 0x40000;
uintptr_t g_nextIcon = 0x50000;

constexpr uintptr_t kMainInstance = 0x140000000;
constexpr uintptr_t kStockBase = 0x10000;
constexpr uintptr_t kDefaultBitmap = kStockBase + 0x400;

uintptr_t StockHandle(int index) { return kStockBase + static_cast<uintptr_t>(index) * 4; }

void AddStock(uintptr_t handle, Object object) {
  object.stock = true;
  g_objects[handle] = object;
}

Object MakeBrush(bool hollow, uint32_t color) {
  Object o;
  o.kind = Kind::kBrush;
  o.brush = BrushState{hollow, color};
  return o;
}

Object MakePen(int style, int width, uint32_t color) {
  Object o;
  o.kind = Kind::kPen;
  o.pen = PenState{style, width, color};
  return o;
}

void ResetDraw() {
  g_objects.clear();
  g_dcs.clear();
  g_openFrames.clear();
  g_frames.clear();
  g_misuse.clear();
  g_icons.clear();
  g_iconResources.clear();
  AddStock(StockHandle(0), MakeBrush(false, Rgb(255, 255, 255)));
  AddStock(StockHandle(1), MakeBrush(false, Rgb(192, 192, 192)));
  AddStock(StockHandle(2), MakeBrush(false, Rgb(128, 128, 128)));
  AddStock(StockHandle(3), MakeBrush(false, Rgb(64, 64, 64)));
  AddStock(StockHandle(kBlackBrush), MakeBrush(false, 0));
  AddStock(StockHandle(kNullBrush), MakeBrush(true, 0));
  AddStock(StockHandle(6), MakePen(kPsSolid, 1, Rgb(255, 255, 255)));
  AddStock(StockHandle(kBlackPen), MakePen(kPsSolid, 1, 0));
  AddStock(StockHandle(kNullPen), MakePen(kPsNull, 1, 0));
  Object system;
  system.kind = Kind::kFont;
  system.font.height = 16;
  system.font.weight = 700;
  system.font.face = L"System";
  AddStock(StockHandle(kSystemFont), system);
  Object bitmap;
  bitmap.kind = Kind::kBitmap;
  bitmap.width = bitmap.height = bitmap.bitsPerPixel = 1;
  AddStock(kDefaultBitmap, bitmap);
}

ResetHook g_resetDraw(ResetDraw);
const bool g_drawReady = (ResetDraw(), true);

uintptr_t Key(const void* handle) { return reinterpret_cast<uintptr_t>(handle); }

void Misuse(const char* call, const char* what, const void* handle) {
  char line[160];
  std::snprintf(line, sizeof(line), "%s: %s %p", call, what, handle);
  g_misuse.push_back(line);
}

Dc* FindDc(DcHandle dc, const char* call) {
  auto it = g_dcs.find(Key(dc));
  if (it == g_dcs.end()) {
    Misuse(call, "unknown DC", dc);
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  return &it->second;
}

Object* FindObject(GdiHandle object, const char* call) {
  auto it = g_objects.find(Key(object));
  if (it == g_objects.end()) {
    Misuse(call, "unknown or deleted object", object);
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  return &it->second;
}

uintptr_t NewObject(Object object) {
  uintptr_t handle = g_nextObject;
  g_nextObject += 4;
  g_objects[handle] = std::move(object);
  return handle;
}

uintptr_t NewDc(WindowHandle window) {
  Dc dc;
  dc.window = window;
  dc.brush = StockHandle(kWhiteBrush);
  dc.pen = StockHandle(kBlackPen);
  dc.font = StockHandle(kSystemFont);
  dc.bitmap = window ? 0 : kDefaultBitmap;
  for (uintptr_t o : {dc.brush, dc.pen, dc.font, dc.bitmap}) {
    if (o) ++g_objects[o].selections;
  }
  uintptr_t handle = g_nextDc;
  g_nextDc += 4;
  g_dcs[handle] = dc;
  return handle;
}

void ReleaseDc(uintptr_t handle) {
  Dc& dc = g_dcs[handle];
  for (uintptr_t o : {dc.brush, dc.pen, dc.font, dc.bitmap}) {
    auto it = g_objects.find(o);
    if (it != g_objects.end()) --it->second.selections;
  }
  g_dcs.erase(handle);
}

// Where a primitive drawn on the DC lands: the open frame of a paint DC or
// the bitmap selected into a memory DC.
std::vector<DrawOp>* Surface(DcHandle handle, const Dc& dc, const char* call) {
  if (dc.window) return &g_openFrames[Key(handle)].ops;
  Object& bitmap = g_objects[dc.bitmap];
  if (bitmap.bitsPerPixel == 1) Misuse(call, "drawing on a monochrome bitmap in DC", handle);
  return &bitmap.content;
}

uintptr_t* Slot(Dc& dc, Kind kind) {
  switch (kind) {
    case Kind::kBrush:
      return &dc.brush;
    case Kind::kPen:
      return &dc.pen;
    case Kind::kFont:
      return &dc.font;
    case Kind::kBitmap:
      return &dc.bitmap;
  }
  return nullptr;
}

std::string Color(uint32_t c) {
  char s[32];
  std::snprintf(s, sizeof(s), "%u,%u,%u", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
  return s;
}

std::string RectText(const Rect& r) {
  char s[64];
  std::snprintf(s, sizeof(s), "%d,%d,%d,%d", r.left, r.top, r.right, r.bottom);
  return s;
}

std::string BrushText(const BrushState& b) { return b.hollow ? "hollow" : Color(b.color); }

std::string PenText(const PenState& p) {
  if (p.style == kPsNull) return "null";
  char s[64];
  std::snprintf(s, sizeof(s), "%s %d ", p.style == kPsSolid ? "solid" : "style", p.width);
  return s + Color(p.color);
}

}  // namespace

std::optional<FontRecord> FontOf(GdiHandle font) {
  auto it = g_objects.find(Key(font));
  if (it == g_objects.end() || it->second.kind != Kind::kFont) return std::nullopt;
  return it->second.font;
}

const std::vector<Frame>& Frames() { return g_frames; }

std::string Describe(const DrawOp& op) {
  char s[96];
  switch (op.kind) {
    case DrawKind::kFillRect:
      return "FillRect " + RectText(op.rect) + " brush " + BrushText(op.brush);
    case DrawKind::kRoundRect:
      std::snprintf(s, sizeof(s), " corner %d,%d", op.cornerWidth, op.cornerHeight);
      return "RoundRect " + RectText(op.rect) + s + " brush " + BrushText(op.brush) + " pen " +
             PenText(op.pen);
    case DrawKind::kDrawIcon:
      std::snprintf(s, sizeof(s), " icon %dx%d flags 0x%x", op.iconWidth, op.iconHeight, op.flags);
      return "DrawIconEx " + RectText(op.rect) + s;
    case DrawKind::kDrawText: {
      std::string line = "DrawTextW \"" + ToUtf8(op.text) + "\" " + RectText(op.rect);
      std::snprintf(s, sizeof(s), " format 0x%x font \"", op.flags);
      line += s + ToUtf8(op.font.face);
      std::snprintf(s, sizeof(s), "\" %d/%d color ", op.font.height, op.font.weight);
      line += s + Color(op.textColor);
      return line + (op.bkMode == kTransparent ? " transparent" : " opaque");
    }
    case DrawKind::kBitBlt:
      std::snprintf(s, sizeof(s), " from %d,%d of %dx%dx%d rop 0x%x", op.sourceX, op.sourceY,
                    op.sourceWidth, op.sourceHeight, op.sourceBitsPerPixel, op.rop);
      return "BitBlt " + RectText(op.rect) + s;
  }
  return "?";
}

std::vector<std::string> Describe(const std::vector<DrawOp>& ops) {
  std::vector<std::string> lines;
  for (const DrawOp& op : ops) lines.push_back(Describe(op));
  return lines;
}

int LiveGdiObjectCount() {
  int count = 0;
  for (const auto& entry : g_objects) count += entry.second.stock ? 0 : 1;
  for (const auto& entry : g_dcs) count += entry.second.window ? 0 : 1;
  return count;
}

const std::vector<std::string>& GdiMisuse() { return g_misuse; }

InstanceHandle MainInstance() { return reinterpret_cast<InstanceHandle>(kMainInstance); }

void AddIconResource(int id) { g_iconResources.insert(id); }

int LiveIconCount() { return static_cast<int>(g_icons.size()); }

}  // namespace fake

namespace platform {

using fake::g_dcs;
using fake::g_objects;
using fake::Key;

DcHandle BeginPaint(WindowHandle window, PaintStruct* ps) {
  bool erase = false;
  Rect client{};
  if (!fake::TakeUpdateRegion(window, &erase) || !GetClientRect(window, &client)) return nullptr;
  uintptr_t dc = fake::NewDc(window);
  fake::Frame& frame = fake::g_openFrames[dc];
  frame.window = window;
  frame.client = client;
  frame.erase = erase;
  ps->hdc = reinterpret_cast<DcHandle>(dc);
  ps->erase = erase;
  ps->paint = client;
  return ps->hdc;
}

bool EndPaint(WindowHandle window, const PaintStruct* ps) {
  auto it = fake::g_openFrames.find(Key(ps->hdc));
  if (it == fake::g_openFrames.end() || it->second.window != window) {
    fake::Misuse("EndPaint", "no BeginPaint for DC", ps->hdc);
    return false;
  }
  fake::g_frames.push_back(std::move(it->second));
  fake::g_openFrames.erase(it);
  fake::ReleaseDc(Key(ps->hdc));
  return true;
}

DcHandle CreateCompatibleDC(DcHandle dc) {
  if (dc && !fake::FindDc(dc, "CreateCompatibleDC")) return nullptr;
  return reinterpret_cast<DcHandle>(fake::NewDc(nullptr));
}

GdiHandle CreateCompatibleBitmap(DcHandle dc, int width, int height) {
  fake::Dc* d = fake::FindDc(dc, "CreateCompatibleBitmap");
  if (!d || width < 0 || height < 0) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  fake::Object bitmap;
  bitmap.kind = fake::Kind::kBitmap;
  if (width == 0 || height == 0) {
    bitmap.width = bitmap.height = bitmap.bitsPerPixel = 1;
  } else {
    bitmap.width = width;
    bitmap.height = height;
    // The format of the bitmap the DC holds: a fresh memory DC holds a
    // monochrome one, a paint DC the screen's 32 bits.
    bitmap.bitsPerPixel = d->window ? 32 : g_objects[d->bitmap].bitsPerPixel;
  }
  return reinterpret_cast<GdiHandle>(fake::NewObject(bitmap));
}

GdiHandle SelectObject(DcHandle dc, GdiHandle object) {
  fake::Dc* d = fake::FindDc(dc, "SelectObject");
  fake::Object* o = d ? fake::FindObject(object, "SelectObject") : nullptr;
  if (!o) return nullptr;
  if (o->kind == fake::Kind::kBitmap) {
    if (d->window) {
      fake::Misuse("SelectObject", "bitmap into a paint DC", dc);
      return nullptr;
    }
    if (o->selections > 0 && !o->stock && d->bitmap != Key(object)) {
      fake::Misuse("SelectObject", "bitmap already selected into another DC", object);
      return nullptr;
    }
  }
  uintptr_t* slot = fake::Slot(*d, o->kind);
  uintptr_t previous = *slot;
  ++o->selections;
  --g_objects[previous].selections;
  *slot = Key(object);
  return reinterpret_cast<GdiHandle>(previous);
}

bool BitBlt(DcHandle dest, int x, int y, int width, int height, DcHandle source, int sourceX,
            int sourceY, uint32_t rop) {
  fake::Dc* d = fake::FindDc(dest, "BitBlt");
  fake::Dc* s = d ? fake::FindDc(source, "BitBlt") : nullptr;
  if (!s) return false;
  if (s->window) {
    fake::Misuse("BitBlt", "reading back a paint DC", source);
    return false;
  }
  const fake::Object& bitmap = g_objects[s->bitmap];
  if (bitmap.bitsPerPixel == 1) fake::Misuse("BitBlt", "copying a monochrome bitmap", source);
  fake::DrawOp op;
  op.kind = fake::DrawKind::kBitBlt;
  op.rect = Rect{x, y, x + width, y + height};
  op.rop = rop;
  op.sourceX = sourceX;
  op.sourceY = sourceY;
  op.sourceWidth = bitmap.width;
  op.sourceHeight = bitmap.height;
  op.sourceBitsPerPixel = bitmap.bitsPerPixel;
  op.source = bitmap.content;
  fake::Surface(dest, *d, "BitBlt")->push_back(std::move(op));
  return true;
}

bool DeleteDC(DcHandle dc) {
  fake::Dc* d = fake::FindDc(dc, "DeleteDC");
  if (!d) return false;
  if (d->window) {
    fake::Misuse("DeleteDC", "paint DC (EndPaint releases it)", dc);
    return false;
  }
  fake::ReleaseDc(Key(dc));
  return true;
}

bool DeleteObject(GdiHandle object) {
  fake::Object* o = fake::FindObject(object, "DeleteObject");
  if (!o) return false;
  if (o->stock) return true;
  if (o->selections > 0) {
    // Windows answers TRUE and leaves an object that a DC still holds alive
    // (Wine deletes it once deselected): a leak either way.
    fake::Misuse("DeleteObject", "object still selected", object);
    return true;
  }
  g_objects.erase(Key(object));
  return true;
}

GdiHandle CreateSolidBrush(uint32_t color) {
  return reinterpret_cast<GdiHandle>(fake::NewObject(fake::MakeBrush(false, color & 0xFFFFFF)));
}

GdiHandle CreatePen(int style, int width, uint32_t color) {
  if (style < 0 || style > 8) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  return reinterpret_cast<GdiHandle>(fake::NewObject(fake::MakePen(style, width, color)));
}

GdiHandle GetStockObject(int index) {
  auto it = g_objects.find(fake::StockHandle(index));
  if (index < 0 || it == g_objects.end() || !it->second.stock) return nullptr;
  return reinterpret_cast<GdiHandle>(it->first);
}

int FillRect(DcHandle dc, const Rect& rect, GdiHandle brush) {
  fake::Dc* d = fake::FindDc(dc, "FillRect");
  fake::Object* b = d ? fake::FindObject(brush, "FillRect") : nullptr;
  if (!b || b->kind != fake::Kind::kBrush) return 0;
  fake::DrawOp op;
  op.kind = fake::DrawKind::kFillRect;
  op.rect = rect;
  op.brush = b->brush;
  fake::Surface(dc, *d, "FillRect")->push_back(op);
  return 1;
}

bool RoundRect(DcHandle dc, int left, int top, int right, int bottom, int width, int height) {
  fake::Dc* d = fake::FindDc(dc, "RoundRect");
  if (!d) return false;
  fake::DrawOp op;
  op.kind = fake::DrawKind::kRoundRect;
  op.rect = Rect{left, top, right, bottom};
  op.cornerWidth = width;
  op.cornerHeight = height;
  op.brush = g_objects[d->brush].brush;
  op.pen = g_objects[d->pen].pen;
  fake::Surface(dc, *d, "RoundRect")->push_back(op);
  return true;
}

bool DrawIconEx(DcHandle dc, int x, int y, IconHandle icon, int width, int height, uint32_t flags) {
  fake::Dc* d = fake::FindDc(dc, "DrawIconEx");
  if (!d) return false;
  auto it = fake::g_icons.find(Key(icon));
  if (it == fake::g_icons.end()) {
    fake::Misuse("DrawIconEx", "unknown icon", icon);
    SetLastError(fake::kErrorInvalidCursorHandle);
    return false;
  }
  // A width or height of 0 means the icon's own.
  if (width == 0) width = it->second.width;
  if (height == 0) height = it->second.height;
  fake::DrawOp op;
  op.kind = fake::DrawKind::kDrawIcon;
  op.rect = Rect{x, y, x + width, y + height};
  op.flags = flags;
  op.iconWidth = it->second.width;
  op.iconHeight = it->second.height;
  fake::Surface(dc, *d, "DrawIconEx")->push_back(op);
  return true;
}

int SetBkMode(DcHandle dc, int mode) {
  fake::Dc* d = fake::FindDc(dc, "SetBkMode");
  if (!d || (mode != kTransparent && mode != kOpaque)) return 0;
  int previous = d->bkMode;
  d->bkMode = mode;
  return previous;
}

uint32_t SetTextColor(DcHandle dc, uint32_t color) {
  fake::Dc* d = fake::FindDc(dc, "SetTextColor");
  if (!d) return fake::kClrInvalid;
  uint32_t previous = d->textColor;
  d->textColor = color;
  return previous;
}

int DrawTextW(DcHandle dc, const std::wstring& text, int count, Rect* rect, uint32_t format) {
  fake::Dc* d = fake::FindDc(dc, "DrawTextW");
  if (!d) return 0;
  size_t length = count < 0 ? text.find(L'\0') : static_cast<size_t>(count);
  fake::DrawOp op;
  op.kind = fake::DrawKind::kDrawText;
  op.rect = *rect;
  op.flags = format;
  op.text = text.substr(0, length);
  op.font = g_objects[d->font].font;
  op.textColor = d->textColor;
  op.bkMode = d->bkMode;
  fake::Surface(dc, *d, "DrawTextW")->push_back(op);
  return op.font.height < 0 ? -op.font.height : op.font.height;
}

GdiHandle CreateFontW(int height, int width, int escapement, int orientation, int weight,
                      uint32_t italic, uint32_t underline, uint32_t strikeOut, uint32_t charSet,
                      uint32_t outPrecision, uint32_t clipPrecision, uint32_t quality,
                      uint32_t pitchAndFamily, const std::wstring& face) {
  fake::Object font;
  font.kind = fake::Kind::kFont;
  font.font =
      fake::FontRecord{height, width, escapement, orientation, weight, italic, underline, strikeOut,
                       charSet, outPrecision, clipPrecision, quality, pitchAndFamily,
                       // Windows keeps LF_FACESIZE - 1 characters.
                       face.substr(0, fake::kLfFaceSize - 1)};
  return reinterpret_cast<GdiHandle>(fake::NewObject(font));
}

IconHandle LoadImageW(InstanceHandle instance, int resourceId, uint32_t type, int width, int height,
                      uint32_t flags) {
  (void)flags;  // colour depth does not change what is recorded
  if (Key(instance) != fake::kMainInstance) {
    SetLastError(fake::kErrorModNotFound);
    return nullptr;
  }
  if (type != kImageIcon) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  if (fake::g_iconResources.empty()) {
    SetLastError(fake::kErrorResourceTypeNotFound);
    return nullptr;
  }
  if (!fake::g_iconResources.count(resourceId)) {
    SetLastError(fake::kErrorResourceNameNotFound);
    return nullptr;
  }
  uintptr_t handle = fake::g_nextIcon;
  fake::g_nextIcon += 4;
  fake::g_icons[handle] =
      fake::Icon{width > 0 ? width : fake::kSmCxIcon, height > 0 ? height : fake::kSmCxIcon};
  return reinterpret_cast<IconHandle>(handle);
}

bool DestroyIcon(IconHandle icon) {
  if (!fake::g_icons.erase(Key(icon))) {
    SetLastError(fake::kErrorInvalidCursorHandle);
    return false;
  }
  return true;
}

}  // namespace platform
