#include "support/desktop_win.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace testsupport {

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

Program::Program(const std::string& exe, const std::string& args, const std::string& workDir) {
  std::string cmd = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     workDir.empty() ? nullptr : workDir.c_str(), &si, &pi)) {
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    tid_ = pi.dwThreadId;
    CloseHandle(pi.hThread);
    WaitForInputIdle(process_, 10000);
  }
}

Program::~Program() {
  if (process_) {
    Kill();
    CloseHandle(process_);
  }
}

DWORD Program::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (process_) GetExitCodeProcess(process_, &code);
  return code;
}

bool Program::WaitExit(std::chrono::milliseconds timeout) {
  return process_ && WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

void Program::Kill() {
  if (process_ && ExitCode() == STILL_ACTIVE) {
    TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 5000);
  }
}

HWND Program::TopWindow(const std::string& caption) const {
  struct Ctx {
    DWORD pid;
    const std::string* caption;
    HWND found;
  } ctx{pid_, &caption, nullptr};
  EnumWindows(
      [](HWND w, LPARAM l) WINAPI -> BOOL {
        auto* c = reinterpret_cast<Ctx*>(l);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == c->pid && IsWindowVisible(w) && WindowText(w) == *c->caption) {
          c->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&ctx));
  return ctx.found;
}

HWND Program::DialogWindow() const {
  struct Ctx {
    DWORD pid;
    HWND found;
  } ctx{pid_, nullptr};
  EnumWindows(
      [](HWND w, LPARAM l) WINAPI -> BOOL {
        auto* c = reinterpret_cast<Ctx*>(l);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == c->pid && IsWindowVisible(w) && ClassNameOf(w) == "#32770") {
          c->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&ctx));
  return ctx.found;
}

HWND Program::FocusWindow() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(tid_, &info) ? info.hwndFocus : nullptr;
}

void Program::Settle() const {
  // A sent message is handled only when the thread gets to its message loop; a posted marker that we then
  // wait for (by sending) makes sure the messages posted before it have been taken from the queue.
  for (int i = 0; i < 3; ++i) {
    HWND w = FocusWindow();
    if (!w) break;
    DWORD_PTR result;
    SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
}

HWND FindChild(HWND parent, const std::string& className, const std::string& text) {
  struct Ctx {
    const std::string *cls, *text;
    HWND found;
  } ctx{&className, &text, nullptr};
  EnumChildWindows(
      parent,
      [](HWND w, LPARAM l) WINAPI -> BOOL {
        auto* c = reinterpret_cast<Ctx*>(l);
        if (_stricmp(ClassNameOf(w).c_str(), c->cls->c_str()) == 0 && (c->text->empty() || WindowText(w) == *c->text)) {
          c->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&ctx));
  return ctx.found;
}

std::string WindowText(HWND w) {
  char buf[512] = {};
  // WM_GETTEXT works across processes for every window, GetWindowText only for our own.
  SendMessageTimeoutA(w, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, nullptr);
  return buf;
}

std::string ClassNameOf(HWND w) {
  char buf[256] = {};
  GetClassNameA(w, buf, sizeof buf);
  return buf;
}

std::vector<std::string> DialogTexts(HWND dialog) {
  std::vector<std::string> out;
  EnumChildWindows(
      dialog,
      [](HWND w, LPARAM l) WINAPI -> BOOL {
        if (_stricmp(ClassNameOf(w).c_str(), "Static") == 0) {
          std::string t = WindowText(w);
          if (!t.empty()) reinterpret_cast<std::vector<std::string>*>(l)->push_back(t);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&out));
  return out;
}

HWND TopWindowOfClass(DWORD processId, const std::string& className, HWND except) {
  struct Ctx {
    DWORD pid;
    const std::string* cls;
    HWND except, found;
  } ctx{processId, &className, except, nullptr};
  EnumWindows(
      [](HWND w, LPARAM l) WINAPI -> BOOL {
        auto* c = reinterpret_cast<Ctx*>(l);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == c->pid && w != c->except && IsWindowVisible(w) && _stricmp(ClassNameOf(w).c_str(), c->cls->c_str()) == 0) {
          c->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&ctx));
  return ctx.found;
}

std::vector<HWND> ChildrenOfClass(HWND parent, const std::string& className) {
  struct Ctx {
    const std::string* cls;
    std::vector<HWND> found;
  } ctx{&className, {}};
  EnumChildWindows(
      parent,
      [](HWND w, LPARAM l) WINAPI -> BOOL {
        auto* c = reinterpret_cast<Ctx*>(l);
        if (_stricmp(ClassNameOf(w).c_str(), c->cls->c_str()) == 0) c->found.push_back(w);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&ctx));
  return ctx.found;
}

RECT RectIn(HWND parent, HWND child) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

void PostText(HWND w, const std::string& text) {
  for (unsigned char c : text) PostMessageA(w, WM_CHAR, c, 1);
}

void PostKey(HWND w, WORD vk) {
  UINT scan = MapVirtualKeyA(vk, 0);
  PostMessageA(w, WM_KEYDOWN, vk, 1 | (scan << 16));
  PostMessageA(w, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000u);
}

void PostClick(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

void PostClickAt(HWND w, int x, int y) {
  LPARAM pos = MAKELPARAM(x, y);
  PostMessageA(w, WM_LBUTTONDOWN, MK_LBUTTON, pos);
  PostMessageA(w, WM_LBUTTONUP, 0, pos);
}

namespace {
uint32_t Crc(const unsigned char* p, size_t n, uint32_t crc = 0) {
  static uint32_t table[256];
  if (!table[1])
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}
void Be32(std::string& s, uint32_t v) {
  for (int i = 3; i >= 0; --i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Chunk(std::string& out, const char* type, const std::string& data) {
  Be32(out, static_cast<uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  out += body;
  Be32(out, Crc(reinterpret_cast<const unsigned char*>(body.data()), body.size()));
}
}  // namespace

std::string EncodePng(int width, int height, const std::vector<unsigned char>& rgb) {
  std::string raw;
  for (int y = 0; y < height; ++y) {
    raw += '\0';
    raw.append(reinterpret_cast<const char*>(rgb.data()) + static_cast<size_t>(y) * width * 3, static_cast<size_t>(width) * 3);
  }
  // zlib stream of stored blocks.
  std::string z = "\x78\x01";
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  for (size_t pos = 0; pos < raw.size() || pos == 0;) {
    size_t n = std::min<size_t>(65535, raw.size() - pos);
    bool last = pos + n >= raw.size();
    z += static_cast<char>(last ? 1 : 0);
    z += static_cast<char>(n & 0xFF);
    z += static_cast<char>(n >> 8);
    z += static_cast<char>(~n & 0xFF);
    z += static_cast<char>((~n >> 8) & 0xFF);
    z.append(raw, pos, n);
    pos += n;
    if (last) break;
  }
  Be32(z, (b << 16) | a);
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string ihdr;
  Be32(ihdr, static_cast<uint32_t>(width));
  Be32(ihdr, static_cast<uint32_t>(height));
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);
  Chunk(png, "IHDR", ihdr);
  Chunk(png, "IDAT", z);
  Chunk(png, "IEND", "");
  return png;
}

std::string SaveScreenshot(const std::string& name, HWND window) {
  RECT r{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (window) GetWindowRect(window, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return {};
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(mem, old);
  std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
  auto* px = static_cast<unsigned char*>(bits);
  for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
    rgb[i * 3] = px[i * 4 + 2];
    rgb[i * 3 + 1] = px[i * 4 + 1];
    rgb[i * 3 + 2] = px[i * 4];
  }
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  const char* dir = std::getenv("RVX_ARTEFACTS");
  const bool hasExtension = name.size() >= 4 && name.compare(name.size() - 4, 4, ".png") == 0;
  std::string path = std::string(dir ? dir : ".") + "\\" + name + (hasExtension ? "" : ".png");
  std::ofstream f(path, std::ios::binary);
  std::string png = EncodePng(w, h, rgb);
  f.write(png.data(), static_cast<std::streamsize>(png.size()));
  return f ? path : std::string();
}

}  // namespace testsupport
