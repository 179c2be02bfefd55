// The simple MAPI call of the system's mail client.
#include <windows.h>

#include <mapi.h>

#include <string>
#include <vector>

#include "crash/core/freeze.h"
#include "crash/delivery/mapi.h"

namespace rvx {

namespace {

std::string AnsiOf(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// Takes the topmost state from a window for the lifetime of the object.
class NotTopmost {
 public:
  explicit NotTopmost(HWND window) {
    if (window && IsWindow(window) && (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST)) {
      window_ = window;
      SetWindowPos(window_, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
  }
  ~NotTopmost() {
    if (window_ && IsWindow(window_))
      SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  NotTopmost(const NotTopmost&) = delete;
  NotTopmost& operator=(const NotTopmost&) = delete;

 private:
  HWND window_ = nullptr;
};

// Lets a paused main thread run for the lifetime of the object.
class MainThreadRunning {
 public:
  MainThreadRunning() {
    const MainThreadPauseHooks& h = GetMainThreadPauseHooks();
    if (h.isPaused && h.resume && h.pause && h.isPaused()) {
      pause_ = h.pause;
      h.resume();
    }
  }
  ~MainThreadRunning() {
    if (pause_) pause_();
  }
  MainThreadRunning(const MainThreadRunning&) = delete;
  MainThreadRunning& operator=(const MainThreadRunning&) = delete;

 private:
  void (*pause_)() = nullptr;
};

}  // namespace

MapiResult SendViaMapi(std::string_view recipients, std::string_view subject, std::string_view body, bool silent,
                       void* parent, const std::vector<std::string>& sendAs, const std::vector<std::wstring>& files) {
  if (ProcessBlocked(250)) return kMapiFailed;
  HMODULE library = LoadLibraryA("mapi32.dll");
  if (!library) return kMapiFailed;
  auto send = reinterpret_cast<LPMAPISENDMAIL>(reinterpret_cast<void*>(GetProcAddress(library, "MAPISendMail")));
  // The library stays loaded: mail clients leave threads of their own running in it.
  if (!send) return kMapiFailed;

  // Every text the structures point to lives in these vectors until the call has returned.
  std::vector<MapiRecipient> people = MapiRecipients(recipients);
  std::vector<MapiRecipDesc> recipientDescs(people.size());
  for (size_t i = 0; i < people.size(); ++i) {
    recipientDescs[i] = {};
    recipientDescs[i].ulRecipClass = MAPI_TO;
    recipientDescs[i].lpszName = people[i].name.data();
    recipientDescs[i].lpszAddress = people[i].address.data();
  }
  std::vector<std::string> paths, names;
  for (size_t i = 0; i < files.size(); ++i) {
    paths.push_back(AnsiOf(files[i]));
    names.push_back(i < sendAs.size() ? sendAs[i] : std::string());
  }
  std::vector<MapiFileDesc> fileDescs(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    fileDescs[i] = {};
    fileDescs[i].nPosition = static_cast<ULONG>(-1);
    fileDescs[i].lpszPathName = paths[i].data();
    fileDescs[i].lpszFileName = names[i].data();
  }
  std::string subjectText(subject), bodyText(body);
  MapiMessage message = {};
  message.lpszSubject = subjectText.data();
  message.lpszNoteText = bodyText.data();
  message.nRecipCount = static_cast<ULONG>(recipientDescs.size());
  message.lpRecips = recipientDescs.empty() ? nullptr : recipientDescs.data();
  message.nFileCount = static_cast<ULONG>(fileDescs.size());
  message.lpFiles = fileDescs.empty() ? nullptr : fileDescs.data();

  ULONG code;
  {
    NotTopmost topmost(static_cast<HWND>(parent));
    MainThreadRunning running;
    code = send(0, reinterpret_cast<ULONG_PTR>(parent), &message, MapiSendFlags(silent, !people.empty()), 0);
  }
  return MapiResultOf(code);
}

}  // namespace rvx
