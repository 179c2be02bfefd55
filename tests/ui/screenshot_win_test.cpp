// Pictures from the system under Wine: screenshots of the screen and of the program's own windows, BMP files
// read by the system, and drawing.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "crash/core/exception_record.h"
#include "crash/delivery/send.h"
#include "crash/ui/crash_dialogs.h"
#include "crash/ui/picture_object.h"
#include "crash/ui/screenshot.h"
#include "tests/ui/test_pictures.h"

namespace rvx {
namespace {

std::wstring Artefact(const wchar_t* name) {
  const char* art = std::getenv("RVX_ARTEFACTS");
  std::string dir = art && *art ? art : ".";
  return std::wstring(dir.begin(), dir.end()) + L"\\" + name;
}

// A plain top-level window of this process, shown at a known place.
struct TestWindow {
  HWND hwnd = nullptr;
  TestWindow(int x, int y, int w, int h) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = L"ScreenshotTestWindow";
    RegisterClassW(&wc);
    hwnd = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"shot", WS_POPUP | WS_VISIBLE, x, y, w, h, nullptr,
                           nullptr, wc.hInstance, nullptr);
    UpdateWindow(hwnd);
  }
  ~TestWindow() { DestroyWindow(hwnd); }
};

TEST(ScreenShot, ProgramWindowsOnlyTakesTheBoxOfOurVisibleWindows) {
  EXPECT_FALSE(TakeScreenShot(true)) << "no window of ours is showing yet";
  TestWindow window(40, 30, 120, 80);
  ASSERT_TRUE(window.hwnd);
  INVBitmap shot = TakeScreenShot(true);
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->Width(), 120);
  EXPECT_EQ(shot->Height(), 80);
  EXPECT_TRUE(shot->SaveAsPng(Artefact(L"screenshot-program.png"), 0));
  ShowWindow(window.hwnd, SW_MINIMIZE);
  EXPECT_FALSE(TakeScreenShot(true)) << "a minimized window gives no screenshot";
}

TEST(ScreenShot, WholeScreenHasTheVirtualScreenSize) {
  INVBitmap shot = TakeScreenShot(false);
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->Width(), GetSystemMetrics(SM_CXVIRTUALSCREEN));
  EXPECT_EQ(shot->Height(), GetSystemMetrics(SM_CYVIRTUALSCREEN));
  EXPECT_TRUE(shot->SaveAsPng(Artefact(L"screenshot-screen.png"), 2));
}

// The exception record takes its screenshot through the hook the crash dialogs install; sending saves the
// object it gets as a PNG file.
TEST(ScreenShot, RecordHookGivesAPictureThatSendingSavesAsPng) {
  const RecordHooks saved = GetRecordHooks();
  RegisterCrashDialogs();
  ASSERT_TRUE(GetRecordHooks().takeScreenShot);
  const Ref<IRefCounted> object = GetRecordHooks().takeScreenShot(nullptr);  // no record: the whole screen
  SetRecordHooks(saved);
  ASSERT_TRUE(object);
  const INVBitmap shot = PictureOf(object);
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->Width(), GetSystemMetrics(SM_CXVIRTUALSCREEN));
  ASSERT_TRUE(SystemSendPlatform().saveScreenshot);
  EXPECT_TRUE(SystemSendPlatform().saveScreenshot(*object, Artefact(L"screenshot-record.png"), 0));
}

TEST(LoadBitmapFile, ReadsOurBmpFilesBackAndDrawsThem) {
  INVBitmap b = test::Gradient(31, 17);
  const std::wstring file = Artefact(L"loadbitmap.bmp");
  ASSERT_TRUE(b->SaveAsBmp(file));
  INVBitmap back = LoadBitmapFile(file);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->Width(), 31);
  ASSERT_EQ(back->Height(), 17);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(back->Bits()), 31 * 17 * 4),
            std::string(reinterpret_cast<const char*>(b->Bits()), 31 * 17 * 4));
  EXPECT_FALSE(LoadBitmapFile(Artefact(L"no-such-file.bmp")));

  // Drawn into a memory context, the picture reads back unchanged.
  HDC dc = CreateCompatibleDC(nullptr);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 31, 17, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP target = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, target);
  DrawBitmap(dc, *b, 0, 0);
  GdiFlush();
  for (int i = 0; i < 31 * 17; ++i)
    EXPECT_EQ(std::memcmp(static_cast<uint8_t*>(bits) + i * 4, b->Bits() + i * 4, 3), 0) << i;
  SelectObject(dc, old);
  DeleteObject(target);
  DeleteDC(dc);
}

}  // namespace
}  // namespace rvx
