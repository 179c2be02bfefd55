// Host build: background threads, files, SMTP and the HTTP upload work (host tools and tests send for real);
// there is no mail client, no MAPI and no window, and the computer counts as online only when the online
// check is switched off.
#ifndef _WIN32
#include <filesystem>
#include <thread>

#include "crash/core/exception_record.h"
#include "crash/delivery/mail_job.h"
#include "crash/delivery/online.h"
#include "crash/delivery/send.h"

namespace rvx {

namespace {
SendPlatform MakeHostPlatform() {
  SendPlatform p;
  p.startThread = [](std::function<void()> body) -> void* {
    std::thread(std::move(body)).detach();
    return reinterpret_cast<void*>(uintptr_t{1});  // a handle that needs no closing
  };
  p.closeHandle = [](void*) {};
  p.removeFile = [](const std::wstring& file) {
    std::error_code ec;
    std::filesystem::remove(std::filesystem::path(file), ec);
  };
  p.isOnline = [](bool tryDial) { return IsOnline(tryDial); };
  p.sendJob = [](MailJob& job) { return SendJob(job); };
  p.programFile = record_platform::ProgramPath();
  p.saveScreenshot = SaveScreenshotPicture;
  return p;
}
}  // namespace

const SendPlatform& SystemSendPlatform() {
  static const SendPlatform platform = MakeHostPlatform();
  return platform;
}

}  // namespace rvx
#endif
