// Screenshots, BMP files through the system, and drawing pictures, with GDI.
#include <windows.h>

#include <cstring>
#include <vector>

#include "crash/ui/screenshot.h"

namespace rvx {
namespace {

BITMAPINFO InfoOf(int width, int height) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = height;  // positive: rows bottom-up
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  bi.bmiHeader.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 4;
  return bi;
}

// A 32-bit section selected into a memory context, released with the object.
class Surface {
 public:
  Surface(HDC like, int width, int height) : width_(width), height_(height) {
    dc_ = CreateCompatibleDC(like);
    if (!dc_) return;
    const BITMAPINFO bi = InfoOf(width, height);
    section_ = CreateDIBSection(dc_, &bi, DIB_RGB_COLORS, &bits_, nullptr, 0);
    if (section_) previous_ = SelectObject(dc_, section_);
  }
  ~Surface() {
    if (dc_ && previous_) SelectObject(dc_, previous_);
    if (section_) DeleteObject(section_);
    if (dc_) DeleteDC(dc_);
  }
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;
  bool Ok() const { return dc_ && section_ && bits_; }
  HDC Dc() const { return dc_; }

  // The section's pixels as a picture, fourth byte 0.
  INVBitmap Picture() const {
    GdiFlush();
    INVBitmap b = TINVBitmap::Create(width_, height_);
    if (!b) return nullptr;
    std::memcpy(b->Bits(), bits_, static_cast<size_t>(width_) * height_ * 4);
    for (size_t i = 3; i < static_cast<size_t>(width_) * height_ * 4; i += 4) b->Bits()[i] = 0;
    return b;
  }

 private:
  int width_, height_;
  HDC dc_ = nullptr;
  HBITMAP section_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  void* bits_ = nullptr;
};

struct ProgramWindows {
  DWORD process = GetCurrentProcessId();
  std::vector<HWND> windows;
};

bool Showing(HWND w) { return IsWindowVisible(w) && !IsIconic(w); }

BOOL CALLBACK CollectWindow(HWND w, LPARAM param) {
  auto* list = reinterpret_cast<ProgramWindows*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  RECT r;
  if (pid == list->process && Showing(w) && GetWindowRect(w, &r) &&
      !(r.right - r.left <= 0 && r.bottom - r.top <= 0))
    list->windows.push_back(w);
  return TRUE;
}

// The visible parts of the program's windows: each window's rectangle minus those of the showing windows
// above it, united; in screen coordinates. Null when nothing is visible.
HRGN VisibleRegion(const std::vector<HWND>& windows) {
  HRGN all = CreateRectRgn(0, 0, 0, 0);
  if (!all) return nullptr;
  for (HWND w : windows) {
    RECT r;
    GetWindowRect(w, &r);
    HRGN part = CreateRectRgnIndirect(&r);
    if (!part) continue;
    for (HWND above = GetWindow(w, GW_HWNDPREV); above; above = GetWindow(above, GW_HWNDPREV)) {
      RECT a;
      if (!Showing(above) || !GetWindowRect(above, &a)) continue;
      if (HRGN cover = CreateRectRgnIndirect(&a)) {
        CombineRgn(part, part, cover, RGN_DIFF);
        DeleteObject(cover);
      }
    }
    CombineRgn(all, all, part, RGN_OR);
    DeleteObject(part);
  }
  RECT box;
  if (GetRgnBox(all, &box) == NULLREGION) {
    DeleteObject(all);
    return nullptr;
  }
  return all;
}

// The mouse cursor drawn at its place; `origin` is the picture's top-left corner on the screen.
void DrawCursor(HDC dc, POINT origin) {
  HCURSOR cursor = nullptr;
  POINT at{};
  using GetCursorInfoFn = BOOL(WINAPI*)(PCURSORINFO);
  auto getInfo = reinterpret_cast<GetCursorInfoFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetCursorInfo")));
  CURSORINFO info{};
  info.cbSize = sizeof info;
  if (getInfo && getInfo(&info)) {
    if (!(info.flags & CURSOR_SHOWING)) return;
    cursor = info.hCursor;
    at = info.ptScreenPos;
  } else {
    if (!GetCursorPos(&at)) return;
    const DWORD self = GetCurrentThreadId();
    const DWORD owner = GetWindowThreadProcessId(WindowFromPoint(at), nullptr);
    const bool attach = owner && owner != self && AttachThreadInput(self, owner, TRUE);
    cursor = GetCursor();
    if (attach) AttachThreadInput(self, owner, FALSE);
  }
  if (!cursor) return;
  ICONINFO icon{};
  if (!GetIconInfo(cursor, &icon)) return;
  if (icon.hbmMask) DeleteObject(icon.hbmMask);
  if (icon.hbmColor) DeleteObject(icon.hbmColor);
  DrawIconEx(dc, at.x - static_cast<int>(icon.xHotspot) - origin.x, at.y - static_cast<int>(icon.yHotspot) - origin.y,
             cursor, 0, 0, 0, nullptr, DI_NORMAL);
}

struct DisplayDc {
  HDC dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  ~DisplayDc() {
    if (dc) DeleteDC(dc);
  }
};

}  // namespace

INVBitmap TakeScreenShot(bool programWindowsOnly) {
  DisplayDc screen;
  if (!screen.dc) return nullptr;
  RECT area{0, 0, GetDeviceCaps(screen.dc, HORZRES), GetDeviceCaps(screen.dc, VERTRES)};
  if (GetSystemMetrics(SM_CMONITORS) > 0) {
    area.left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    area.top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    area.right = area.left + GetSystemMetrics(SM_CXVIRTUALSCREEN);
    area.bottom = area.top + GetSystemMetrics(SM_CYVIRTUALSCREEN);
  }
  RECT picture = area;  // screen coordinates
  HRGN clip = nullptr;
  if (programWindowsOnly) {
    ProgramWindows list;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&list));
    if (list.windows.empty()) return nullptr;
    RECT box{};
    for (HWND w : list.windows) {
      RECT r;
      GetWindowRect(w, &r);
      UnionRect(&box, &box, &r);
    }
    if (!IntersectRect(&picture, &box, &area)) return nullptr;
    clip = VisibleRegion(list.windows);
    if (!clip) return nullptr;
    OffsetRgn(clip, -picture.left, -picture.top);
  }
  const int w = picture.right - picture.left, h = picture.bottom - picture.top;
  INVBitmap result;
  {
    Surface surface(screen.dc, w, h);
    if (surface.Ok()) {
      if (clip) {
        RECT all{0, 0, w, h};
        FillRect(surface.Dc(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        SelectClipRgn(surface.Dc(), clip);
      }
      if (BitBlt(surface.Dc(), 0, 0, w, h, screen.dc, picture.left, picture.top, SRCCOPY)) {
        DrawCursor(surface.Dc(), POINT{picture.left, picture.top});
        result = surface.Picture();
      }
    }
  }
  if (clip) DeleteObject(clip);
  return result;
}

INVBitmap LoadBitmapFile(const std::wstring& fileName) {
  HBITMAP loaded = static_cast<HBITMAP>(
      LoadImageW(nullptr, fileName.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  if (!loaded) return nullptr;
  INVBitmap result;
  BITMAP info{};
  if (GetObjectA(loaded, sizeof info, &info) && info.bmWidth > 0 && info.bmHeight != 0) {
    const int w = info.bmWidth, h = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
    if (HDC source = CreateCompatibleDC(nullptr)) {
      HGDIOBJ previous = SelectObject(source, loaded);
      {
        Surface surface(source, w, h);
        if (surface.Ok() && BitBlt(surface.Dc(), 0, 0, w, h, source, 0, 0, SRCCOPY)) result = surface.Picture();
      }
      SelectObject(source, previous);
      DeleteDC(source);
    }
  }
  DeleteObject(loaded);
  return result;
}

void DrawBitmap(void* deviceContext, const TINVBitmap& bitmap, int x, int y) {
  const BITMAPINFO bi = InfoOf(bitmap.Width(), bitmap.Height());
  SetDIBitsToDevice(static_cast<HDC>(deviceContext), x, y, static_cast<DWORD>(bitmap.Width()),
                    static_cast<DWORD>(bitmap.Height()), 0, 0, 0, static_cast<UINT>(bitmap.Height()), bitmap.Bits(), &bi,
                    DIB_RGB_COLORS);
}

}  // namespace rvx
