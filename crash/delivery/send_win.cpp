// The sending's platform on Windows: the background thread, the window and file calls, and the real
// delivery methods and fallbacks.
#include <windows.h>

#include <functional>

#include "crash/core/exception_record.h"
#include "crash/core/freeze.h"
#include "crash/delivery/mail_job.h"
#include "crash/delivery/mailto.h"
#include "crash/delivery/mapi.h"
#include "crash/delivery/online.h"
#include "crash/delivery/send.h"
#include "crash/stack/fault_guard.h"
#include "crash/ui/progress_alert.h"

namespace rvx {

namespace {

DWORD WINAPI SendThreadMain(void* parameter) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
  // A fault of the sending must not reach the crash reporter that is waiting for it.
  FaultGuarded([&] { (*body)(); });
  return 0;
}

void* StartSendThread(std::function<void()> body) {
  auto* owned = new std::function<void()>(std::move(body));
  HANDLE thread = CreateThread(nullptr, 0, SendThreadMain, owned, 0, nullptr);
  if (!thread) delete owned;
  return thread;
}

SendPlatform MakeSystemPlatform() {
  SendPlatform p;
  p.startThread = StartSendThread;
  p.closeHandle = [](void* handle) { CloseHandle(static_cast<HANDLE>(handle)); };
  p.processBlocked = [](uint32_t ms) { return ProcessBlocked(ms); };
  p.makeNotTopmost = [](void* window) {
    SetWindowPos(static_cast<HWND>(window), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  };
  p.createProgress = [](const std::string& title, ModuleHandle module, const std::string& picture) {
    ProgressAlertFactory factory = GetProgressAlertFactory();
    return factory ? factory(title, module, picture) : Ref<IProgressAlert>();
  };
  p.isOnline = [](bool tryDial) { return IsOnline(tryDial); };
  p.sendJob = SendJob;
  p.sendViaMapi = [](const std::string& recipients, const std::string& subject, const std::string& body, bool silent,
                     void* parent, const std::vector<std::string>& sendAs, const std::vector<std::wstring>& files) {
    return static_cast<int>(SendViaMapi(recipients, subject, body, silent, parent, sendAs, files));
  };
  p.sendViaMailClient = [](const std::string& recipients, const std::string& subject, const std::string& body) {
    return SendViaMailClient(recipients, subject, body);
  };
  p.showFailure = [](void* parent, const std::string& text) {
    MessageBoxA(static_cast<HWND>(parent), text.c_str(), nullptr, MB_OK | MB_ICONERROR);
  };
  p.removeFile = [](const std::wstring& file) {
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(file.c_str());
  };
  p.programFile = record_platform::ProgramPath();
  p.saveScreenshot = SaveScreenshotPicture;
  return p;
}

}  // namespace

const SendPlatform& SystemSendPlatform() {
  static const SendPlatform platform = MakeSystemPlatform();
  return platform;
}

}  // namespace rvx
