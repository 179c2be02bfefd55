// The progress window on the Windows desktop: a small topmost tool window of class "prgrAlertWndClass" with
// an optional 32 x 32 picture, one label and a progress bar, owned by the thread that opens it.
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "crash/stack/fault_guard.h"
#include "crash/ui/progress_alert.h"
#include "crash/ui/progress_model.h"

namespace rvx {

namespace {

constexpr char kClassName[] = "prgrAlertWndClass";
// A window of another thread is asked at most this long (a hung owner must not stop the worker).
constexpr UINT kCrossThreadTimeoutMs = 5000;

HINSTANCE OwnInstance() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&OwnInstance), &module);
  return module;
}

class Win32ProgressWindow;
LRESULT CALLBACK ProgressWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

class Win32ProgressWindow final : public ProgressWindowPort {
 public:
  Win32ProgressWindow(uintptr_t module, std::string_view picture)
      : module_(reinterpret_cast<HMODULE>(module)), pictureName_(picture) {}
  ~Win32ProgressWindow() override {
    Close();
    if (scratch_) {
      if (oldFont_) SelectObject(scratch_, oldFont_);
      DeleteDC(scratch_);
    }
    if (font_) DeleteObject(font_);
  }

  bool IsOpen() override { return main_.load() != nullptr; }

  bool Open(ProgressWindowHandle parent, bool activate, const std::string& title,
            const std::vector<std::string>& texts) override {
    if (main_.load()) return false;
    parent_ = static_cast<HWND>(parent);
    // Only a parent this window disabled is enabled again when it closes (a box that disabled itself for its
    // action stays so until the action is over).
    parentDisabled_ = parent_ && IsWindow(parent_) && IsWindowEnabled(parent_);
    if (parentDisabled_) EnableWindow(parent_, FALSE);

    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    WNDCLASSA wc{};
    wc.style = CS_CLASSDC | CS_PARENTDC;
    wc.lpfnWndProc = ProgressWndProc;
    wc.hInstance = OwnInstance();
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    RegisterClassA(&wc);  // registered already: fine

    HWND main = CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, title.c_str(),
                                WS_CAPTION, 0, 0, 100, 100, parent_, nullptr, wc.hInstance, nullptr);
    if (!main) {
      if (parentDisabled_) EnableWindow(parent_, TRUE);
      parentDisabled_ = false;
      return false;
    }
    if (HMENU menu = GetSystemMenu(main, FALSE))
      for (UINT command : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE}) RemoveMenu(menu, command, MF_BYCOMMAND);

    if (!scratch_) scratch_ = CreateCompatibleDC(nullptr);
    if (!font_) {
      font_ = CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                          DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Tahoma");
      if (!font_)
        font_ = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                            DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
      if (scratch_ && font_) oldFont_ = static_cast<HFONT>(SelectObject(scratch_, font_));
    }

    std::vector<PixelSize> sizes;
    for (const std::string& text : texts) {
      RECT r{0, 0, kProgressTextWidth, 0};
      if (scratch_) DrawTextA(scratch_, text.c_str(), -1, &r, DT_CALCRECT | DT_WORDBREAK);
      sizes.push_back({static_cast<int>(r.right - r.left), static_cast<int>(r.bottom - r.top)});
    }
    if (sizes.empty()) sizes.push_back({});
    const bool picture = module_ && !pictureName_.empty() && FindResourceA(module_, pictureName_.c_str(), RT_BITMAP);

    ProgressMetrics m;
    m.cxDlgFrame = GetSystemMetrics(SM_CXDLGFRAME);
    m.cyDlgFrame = GetSystemMetrics(SM_CYDLGFRAME);
    m.cySmCaption = GetSystemMetrics(SM_CYSMCAPTION);
    m.cyVScroll = GetSystemMetrics(SM_CYVSCROLL);
    m.cyCaption = GetSystemMetrics(SM_CYCAPTION);
    m.cxScreen = GetSystemMetrics(SM_CXSCREEN);
    m.cyScreen = GetSystemMetrics(SM_CYSCREEN);
    m.cxFullScreen = GetSystemMetrics(SM_CXFULLSCREEN);
    m.cyFullScreen = GetSystemMetrics(SM_CYFULLSCREEN);
    RECT work{};
    if (SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0)) {
      m.hasWorkArea = true;
      m.workRight = work.right;
      m.workBottom = work.bottom;
    }
    const ProgressLayout layout = LayoutProgressWindow(sizes, picture, m, activate);

    if (layout.picture) {
      const PixelRect& p = layout.pictureRect;
      picture_ = CreateWindowExA(0, "Button", "", WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_OWNERDRAW, p.x, p.y, p.width,
                                 p.height, main, nullptr, wc.hInstance, nullptr);
      if (picture_) SetWindowLongPtrA(picture_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    const PixelRect& l = layout.label;
    label_ = CreateWindowExA(0, "Static", texts.empty() ? "" : texts.front().c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX,
                             l.x, l.y, l.width, l.height, main, nullptr, wc.hInstance, nullptr);
    if (label_ && font_) SendMessageA(label_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    const PixelRect& b = layout.bar;
    bar_ = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, b.x, b.y, b.width, b.height, main, nullptr,
                           wc.hInstance, nullptr);
    if (bar_) SendMessageA(bar_, PBM_SETRANGE, 0, MAKELPARAM(0, kFullPosition));

    if (IsIconic(main)) ShowWindow(main, SW_RESTORE);
    const PixelRect& w = layout.window;
    SetWindowPos(main, nullptr, w.x, w.y, w.width, w.height, SWP_NOZORDER | SWP_NOACTIVATE);
    main_.store(main);
    if (activate) {
      ShowWindow(main, SW_SHOWNORMAL);
      BringWindowToTop(main);
      SetForegroundWindow(main);
    } else {
      ShowWindow(main, SW_SHOWNOACTIVATE);
    }
    return true;
  }

  bool InOwnThread() override {
    HWND main = main_.load();
    return main && GetWindowThreadProcessId(main, nullptr) == GetCurrentThreadId();
  }

  void SetCaption(const std::string& title) override { SetText(main_.load(), title); }
  void SetLabel(const std::string& text) override { SetText(label_, text); }
  void SendBar(int32_t value) override {
    if (bar_) SendMessageA(bar_, PBM_SETPOS, static_cast<WPARAM>(value), 0);
  }
  void PostBar(int32_t value) override {
    if (bar_) PostMessageA(bar_, PBM_SETPOS, static_cast<WPARAM>(value), 0);
  }

  void Pump() override {
    if (!InOwnThread()) return;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // Not ours to take: the thread's own loop must still see it.
        PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }

  void Close() override {
    HWND main = main_.load();
    if (!main) return;
    if (picture_) SetWindowLongPtrA(picture_, GWLP_USERDATA, 0);
    // The parent is enabled before the window goes, so that the system hands the activation to it, in the
    // thread that owns both; activating it here would reach only a window of the calling thread.
    const bool enableParent = parentDisabled_ && IsWindow(parent_);
    parentDisabled_ = false;
    if (enableParent) EnableWindow(parent_, TRUE);
    if (GetWindowThreadProcessId(main, nullptr) == GetCurrentThreadId()) {
      DestroyWindow(main);
    } else {
      SetWindowLongPtrA(main, GWLP_USERDATA, 1);
      DWORD_PTR result = 0;
      SendMessageTimeoutA(main, WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, kCrossThreadTimeoutMs,
                          &result);
    }
    main_.store(nullptr);
    picture_ = label_ = bar_ = nullptr;
    if (enableParent && GetWindowThreadProcessId(parent_, nullptr) == GetCurrentThreadId()) SetActiveWindow(parent_);
  }

  // Draws the picture blended over the button face; true also when there was nothing to draw.
  void PaintPicture(const DRAWITEMSTRUCT& item) {
    HRSRC info = FindResourceA(module_, pictureName_.c_str(), RT_BITMAP);
    if (!info) return;
    DWORD size = SizeofResource(module_, info);
    HGLOBAL loaded = LoadResource(module_, info);
    const auto* data = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
    std::vector<uint8_t> pixels;
    if (!BlendPicture(data, size, GetSysColor(COLOR_BTNFACE), pixels)) return;
    // The stored header decides only the row order; size and format are the ones the pixels have, so a
    // header that claims another size can never make the copy below overrun the bitmap.
    BITMAPINFO bmi{};
    std::memcpy(&bmi.bmiHeader, data, sizeof(BITMAPINFOHEADER));
    const bool topDown = bmi.bmiHeader.biHeight < 0;
    bmi.bmiHeader = BITMAPINFOHEADER{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = kPictureSide;
    bmi.bmiHeader.biHeight = topDown ? -static_cast<LONG>(kPictureSide) : static_cast<LONG>(kPictureSide);
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(item.hDC, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dib || !bits) {
      if (dib) DeleteObject(dib);
      return;
    }
    std::memcpy(bits, pixels.data(), pixels.size());
    GdiFlush();
    HDC memory = CreateCompatibleDC(item.hDC);
    if (memory) {
      HGDIOBJ old = SelectObject(memory, dib);
      BitBlt(item.hDC, 0, 0, kPictureSide, kPictureSide, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
      DeleteDC(memory);
    }
    DeleteObject(dib);
  }

 private:
  // A window of another thread gets its text by a bounded send.
  static void SetText(HWND window, const std::string& text) {
    if (!window) return;
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
      SetWindowTextA(window, text.c_str());
    } else {
      DWORD_PTR result = 0;
      SendMessageTimeoutA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL | SMTO_ABORTIFHUNG,
                          kCrossThreadTimeoutMs, &result);
    }
  }

  HMODULE module_;
  std::string pictureName_;
  HWND parent_ = nullptr;
  bool parentDisabled_ = false;
  HDC scratch_ = nullptr;
  HFONT font_ = nullptr, oldFont_ = nullptr;
  std::atomic<HWND> main_{nullptr};
  HWND picture_ = nullptr, label_ = nullptr, bar_ = nullptr;
};

LRESULT CALLBACK ProgressWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_DRAWITEM && lParam) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    auto* window = reinterpret_cast<Win32ProgressWindow*>(GetWindowLongPtrA(item->hwndItem, GWLP_USERDATA));
    if (item->CtlType == ODT_BUTTON && window) {
      if (FaultGuarded([&] { window->PaintPicture(*item); })) return 1;
    }
  } else if (msg == WM_CLOSE || (msg == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE)) {
    // Only the owner closes the window (it marks the window first when it does so from another thread).
    if (GetWindowLongPtrA(hwnd, GWLP_USERDATA) == 0) return 0;
  }
  return IsWindowUnicode(hwnd) ? DefWindowProcW(hwnd, msg, wParam, lParam) : DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

std::unique_ptr<ProgressWindowPort> MakeProgressWindowPort(uintptr_t pictureModule, std::string_view pictureName) {
  return std::make_unique<Win32ProgressWindow>(pictureModule, pictureName);
}

}  // namespace rvx
