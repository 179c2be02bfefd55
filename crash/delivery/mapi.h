// Handing a bug report to the system's mail client through simple MAPI: the recipient entries, the flags
// and the answer codes, and the call itself (mapi_win.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rvx {

// One recipient of the message: `name` as written before "<" (blank included), or the address itself;
// `address` with the prefix "SMTP:".
struct MapiRecipient {
  std::string name;
  std::string address;
  friend bool operator==(const MapiRecipient&, const MapiRecipient&) = default;
};

// One entry per address of the list ("," or ";" separated): "Ann <ann@x>" gives name "Ann " and address
// "SMTP:ann@x"; "ann@x" gives name "ann@x" and address "SMTP:ann@x".
std::vector<MapiRecipient> MapiRecipients(std::string_view list);

enum : uint32_t { kMapiLogonUi = 0x1, kMapiDialog = 0x8 };
// No user interface for a silent sending that has recipients; otherwise the client's logon and compose
// window.
uint32_t MapiSendFlags(bool silent, bool haveRecipients);

enum MapiResult : int { kMapiFailed = 0, kMapiSent = 1, kMapiCancelled = 2 };
// Success -> sent, the user-abort code -> cancelled, anything else -> failed.
MapiResult MapiResultOf(uint32_t code);

// While the crash reporter holds the main thread paused, the mail client may need it: the thread pausing
// registers how to tell and how to let it run for the duration of the call. Unset hooks: never paused.
struct MainThreadPauseHooks {
  bool (*isPaused)() = nullptr;
  void (*resume)() = nullptr;
  void (*pause)() = nullptr;
};
void SetMainThreadPauseHooks(const MainThreadPauseHooks& hooks);
const MainThreadPauseHooks& GetMainThreadPauseHooks();

// Sends through the mail client; `parent` owns its dialogs (a window handle, or null). `sendAs` and `files`
// run in parallel. Failed (also when the client cannot be loaded or the process is blocked), sent or
// cancelled by the user.
MapiResult SendViaMapi(std::string_view recipients, std::string_view subject, std::string_view body, bool silent,
                       void* parent, const std::vector<std::string>& sendAs, const std::vector<std::wstring>& files);

}  // namespace rvx
